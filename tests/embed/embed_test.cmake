# Installs the build into a fresh prefix, builds examples/embed against it out
# of tree (once through find_package, once through pkg-config) and checks
# what the example prints. Run by CTest as
#     cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... -DCXX=... -P embed_test.cmake

# Runs a command that must succeed; with EXPECT, it must also print that.
function(run)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "EXPECT" "")
  execute_process(COMMAND ${arg_UNPARSED_ARGUMENTS} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0 OR (DEFINED arg_EXPECT AND NOT out STREQUAL arg_EXPECT))
    message(FATAL_ERROR "${arg_UNPARSED_ARGUMENTS} (status ${status}) printed:\n${out}${err}\nexpected:\n${arg_EXPECT}")
  endif()
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

foreach(installed bin/ferrow include/ferrow/ferrow.h share/man/man1/ferrow.1)
  if(NOT EXISTS ${prefix}/${installed})
    message(FATAL_ERROR "not installed: ${installed}")
  endif()
endforeach()
file(GLOB_RECURSE package_files ${prefix}/*/ferrowConfig.cmake ${prefix}/*/ferrow.pc)
list(LENGTH package_files found)
if(NOT found EQUAL 2)
  message(FATAL_ERROR "expected ferrowConfig.cmake and ferrow.pc, found: ${package_files}")
endif()

# find_package(ferrow CONFIG) and the ferrow::ferrow target.
run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples/embed -B ${WORK_DIR}/build
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_BUILD_TYPE=Release)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)

file(READ ${SOURCE_DIR}/examples/embed/expected.txt expected)
set(config ${SOURCE_DIR}/examples/embed/config.ferrow)
run(${WORK_DIR}/build/embed_demo ${config} EXPECT "${expected}")

# pkg-config, where installed.
find_program(PKG_CONFIG pkg-config)
if(PKG_CONFIG)
  list(FILTER package_files INCLUDE REGEX "\\.pc$")
  get_filename_component(pc_dir ${package_files} DIRECTORY)
  set(ENV{PKG_CONFIG_PATH} ${pc_dir})
  execute_process(COMMAND ${PKG_CONFIG} --cflags --libs ferrow
                  RESULT_VARIABLE status OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "pkg-config does not know ferrow")
  endif()
  separate_arguments(flags UNIX_COMMAND "${flags}")
  run(${CXX} -O1 ${SOURCE_DIR}/examples/embed/main.cpp ${flags} -o ${WORK_DIR}/embed_demo_pc)
  run(${WORK_DIR}/embed_demo_pc ${config} EXPECT "${expected}")

  # The README's example, so that it keeps compiling and saying what it says.
  file(READ ${SOURCE_DIR}/README.md readme)
  string(FIND "${readme}" "## Embedding" at)
  string(SUBSTRING "${readme}" ${at} -1 readme)
  string(FIND "${readme}" "```cpp\n" at)
  math(EXPR at "${at} + 7")
  string(SUBSTRING "${readme}" ${at} -1 readme)
  string(FIND "${readme}" "```" at)
  string(SUBSTRING "${readme}" 0 ${at} code)
  file(WRITE ${WORK_DIR}/readme_example.cpp "${code}")
  run(${CXX} -O1 ${WORK_DIR}/readme_example.cpp ${flags} -o ${WORK_DIR}/readme_example)
  run(${WORK_DIR}/readme_example EXPECT "6\nhello Ada!\n")
endif()
message(STATUS "embed example: ok")
