# A thin layer over CMake: a Release build in build/.
BUILD_DIR ?= build
GENERATOR := $(if $(shell command -v ninja 2>/dev/null),-G Ninja,)
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all build run test ratio clean

all: build

# Reconfiguring an existing tree must not name a generator (CMake refuses a
# different one), so the generator is chosen only for a fresh build folder.
$(BUILD_DIR)/CMakeCache.txt:
	cmake -S . -B $(BUILD_DIR) $(GENERATOR) -DCMAKE_BUILD_TYPE=Release

build: $(BUILD_DIR)/CMakeCache.txt
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	./$(BUILD_DIR)/ferrow examples/hello.frw

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

# Test code (tests/ without its input files and lock file, and the hand-written
# fuzz code) against src/, in non-blank lines.
COUNT = git ls-files $(1) | xargs cat | grep -cv '^[[:space:]]*$$'
ratio:
	@tests=$$($(call COUNT,tests ':!tests/scripts/data' ':!*package-lock.json' 'fuzz/*.cpp' 'fuzz/*.h' 'fuzz/*.sh' 'fuzz/*.py' fuzz/CMakeLists.txt)); \
	src=$$($(call COUNT,src)); \
	python3 -c "print(f'test code {$$tests} lines, src/ {$$src} lines: {$$tests / $$src:.3f}')"

clean:
	rm -rf $(BUILD_DIR)
