// What the file natives do that a script cannot look at: the mode and the
// link they keep, the temporary they leave behind, a read-only file.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "interp/Interpreter.h"
#include "natives/NativeFunctions.h"
#include "value/Errors.h"

using namespace ferrow;
namespace fs = std::filesystem;

namespace {

class FileNatives : public ::testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() / ("ferrow-file-natives-" + std::to_string(getpid()));
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }

    void write(const fs::path& path, const std::string& text) {
        std::vector<Value> args{Value::string(path.string()), Value::string(text)};
        nativeWriteFile(engine, Args(args));
    }

    fs::path folder;
    Interpreter engine;
};

TEST_F(FileNatives, RewriteKeepsModeAndLinkAndLeavesNoTemporary) {
    const fs::path file = folder / "data.txt";
    const fs::path link = folder / "link.txt";
    write(file, "one");
    fs::permissions(file, fs::perms(0640));
    fs::create_symlink("data.txt", link);
    write(link, "two");
    struct stat info {};
    ASSERT_EQ(stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(info.st_size, 3);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 2);
}

TEST_F(FileNatives, ReadOnlyFileIsRefused) {
    // Permission bits do not bind the superuser: there the write succeeds.
    if (geteuid() == 0) GTEST_SKIP() << "running as root, for whom no file is read-only";
    const fs::path file = folder / "locked.txt";
    write(file, "kept");
    fs::permissions(file, fs::perms(0444));
    try {
        write(file, "lost");
        FAIL() << "the read-only file was written";
    } catch (const RuntimeError& error) {
        EXPECT_EQ(error.message,
                  "write_file: cannot write " + file.string() + ": Permission denied");
    }
    EXPECT_EQ(fs::file_size(file), 4u);
}

}  // namespace
