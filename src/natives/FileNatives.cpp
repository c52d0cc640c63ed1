// The file natives. Paths and contents are bytes handed to the system as
// they are. Every failure is a RuntimeError that names the native, the path
// and the system's reason: "read_file: cannot open data.txt: No such file or
// directory".
//
// write_file never leaves a half-written file behind: it writes a temporary
// file beside the target, syncs it and renames it over the target, so a
// reader sees the old content or the new, also after a failure or a crash.
// append_file writes in place with O_APPEND instead: copying the whole file
// for every appended line would make a logging loop quadratic, replace the
// file under anyone who holds it open, and lose lines that another process
// appended meanwhile. A failed append is undone by cutting the file back to
// its old length.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <string>
#include <string_view>
#include <system_error>

#include "natives/NativeFunctions.h"
#include "natives/NativeSupport.h"
#include "natives/Registry.h"

namespace ferrow {

namespace {

// Closes the descriptor however the native ends; close() reports the errors
// that must not be lost on the success path.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd_; }
    bool isOpen() const { return fd_ >= 0; }
    // False with errno set when the system reports an error at closing (a
    // network file system may report a failed write only then).
    bool close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

// Removes a temporary file unless the write that made it succeeded.
class TemporaryFile {
public:
    explicit TemporaryFile(std::string path) : path_(std::move(path)) {}
    ~TemporaryFile() {
        if (!kept_) ::unlink(path_.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    const std::string& path() const { return path_; }
    void keep() { kept_ = true; }

private:
    std::string path_;
    bool kept_ = false;
};

[[noreturn]] void failWithReason(const char* nativeName, const char* action,
                                 const std::string& path, int error) {
    nativeFail(std::string(nativeName) + ": cannot " + action + " " + path + ": " +
               std::generic_category().message(error));
}

// The system takes paths as C strings, which end at the first zero byte.
std::string expectPath(const Value& v, const char* nativeName) {
    if (!v.isString()) {
        nativeFail(std::string(nativeName) + ": path must be a string, got " + typeName(v));
    }
    std::string path(v.asString());
    if (path.find('\0') != std::string::npos) {
        nativeFail(std::string(nativeName) + ": a path cannot contain a zero byte");
    }
    return path;
}

std::string_view expectText(const Value& v, const char* nativeName) {
    if (!v.isString()) {
        nativeFail(std::string(nativeName) + ": text must be a string, got " + typeName(v));
    }
    return v.asString();
}

// Writes all of `text`, resuming after interruptions and partial writes;
// false with errno set on failure.
bool writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// The whole content of a file. A device such as /dev/zero never ends, so the
// memory budget is checked as the text grows, not only against the size.
std::string readWhole(const std::string& path, const char* nativeName) {
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.isOpen()) failWithReason(nativeName, "open", path, errno);
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) failWithReason(nativeName, "read", path, errno);
    // A directory opens for reading on POSIX systems.
    if (S_ISDIR(info.st_mode)) failWithReason(nativeName, "open", path, EISDIR);
    std::string text;
    if (S_ISREG(info.st_mode)) {
        checkResultSize(nativeName, static_cast<UInt128>(info.st_size), 1);
        text.reserve(static_cast<std::size_t>(info.st_size));
    }
    char chunk[65536];
    for (;;) {
        const ssize_t got = ::read(file.get(), chunk, sizeof chunk);
        if (got < 0) {
            if (errno == EINTR) continue;
            failWithReason(nativeName, "read", path, errno);
        }
        if (got == 0) break;
        const auto size = static_cast<UInt128>(text.size()) + static_cast<std::size_t>(got);
        checkResultSize(nativeName, size, 1);
        text.append(chunk, static_cast<std::size_t>(got));
    }
    return text;
}

// A name for the temporary beside `path` that no file has yet; the process
// id and the clock keep concurrent writers apart, and `attempt` moves past a
// name that is taken anyway. The target's name is shortened so that the
// temporary's fits the system's limit on a name.
std::string temporaryName(const std::string& path, unsigned attempt) {
    const std::size_t slash = path.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::string name = path.substr(nameStart, 128);
    const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    return path.substr(0, nameStart) + "." + name + ".tmp" + std::to_string(::getpid()) + "-" +
           std::to_string(ticks) + "-" + std::to_string(attempt);
}

// Writes an existing file that is not a regular file (a device, a pipe) in
// place: such a file has no content a rename could replace, and renaming
// over it would replace the device itself.
void writeInPlace(const std::string& path, std::string_view text, const char* nativeName) {
    FileDescriptor file(::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
    if (!file.isOpen() || !writeAll(file.get(), text) || !file.close()) {
        failWithReason(nativeName, "write", path, errno);
    }
}

void replaceFile(const std::string& path, std::string_view text, const char* nativeName) {
    // Caught here, before a temporary is made: an empty name or a name
    // ending in a slash can never be a file.
    if (path.empty()) failWithReason(nativeName, "write", path, ENOENT);
    if (path.back() == '/') failWithReason(nativeName, "write", path, EISDIR);
    struct stat info {};
    const bool exists = ::stat(path.c_str(), &info) == 0;
    if (!exists && errno != ENOENT) failWithReason(nativeName, "write", path, errno);
    if (exists && S_ISDIR(info.st_mode)) failWithReason(nativeName, "write", path, EISDIR);
    if (exists && !S_ISREG(info.st_mode)) return writeInPlace(path, text, nativeName);
    // A rename needs only the folder's permission; asking first keeps a
    // read-only file read-only, as a plain write would.
    if (exists && ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) {
        failWithReason(nativeName, "write", path, errno);
    }
    // A symbolic link stays a link: the file it leads to is replaced.
    std::string target = path;
    if (exists) {
        if (char* resolved = ::realpath(path.c_str(), nullptr)) {
            target = resolved;
            std::free(resolved);
        }
    }

    int fd = -1;
    std::string temporaryPath;
    for (unsigned attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temporaryPath = temporaryName(target, attempt);
        // An existing file's mode is set below; a new one gets the usual
        // mode less the process's umask.
        fd = ::open(temporaryPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                    exists ? 0600 : 0666);
        if (fd < 0 && errno != EEXIST) failWithReason(nativeName, "write", path, errno);
    }
    if (fd < 0) failWithReason(nativeName, "write", path, EEXIST);
    FileDescriptor file(fd);
    TemporaryFile temporary(temporaryPath);
    if (exists) {
        if (::fchmod(file.get(), info.st_mode & 07777) != 0) {
            failWithReason(nativeName, "write", path, errno);
        }
        // Only a privileged process can give the file back to its owner;
        // anyone else keeps the file as their own, as a copy would be.
        (void)!::fchown(file.get(), info.st_uid, info.st_gid);
    }
    // Synced before the rename: without it a crash could leave the new name
    // pointing at an empty file on some file systems.
    if (!writeAll(file.get(), text) || ::fsync(file.get()) != 0 || !file.close() ||
        ::rename(temporary.path().c_str(), target.c_str()) != 0) {
        failWithReason(nativeName, "write", path, errno);
    }
    temporary.keep();
}

}  // namespace

Value nativeReadFile(Caller&, Args args) {
    const std::string path = expectPath(args[0], "read_file");
    return Value::string(readWhole(path, "read_file"));
}

// Lines end at line feeds, which are dropped; a carriage return before one
// stays, as the file has it. A last line without a line feed is still a
// line, and a final line feed does not start another one, so an empty file
// gives the empty list and "a\nb" and "a\nb\n" both give two lines.
Value nativeReadLines(Caller&, Args args) {
    const std::string path = expectPath(args[0], "read_lines");
    const std::string text = readWhole(path, "read_lines");
    const auto count = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
    checkStringListSize("read_lines", count, text.size());
    ListData lines;
    lines.reserve(count);
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(Value::string(std::string_view(text).substr(start, end - start)));
        start = end + 1;
    }
    return Value::newList(std::move(lines));
}

Value nativeWriteFile(Caller&, Args args) {
    const std::string path = expectPath(args[0], "write_file");
    replaceFile(path, expectText(args[1], "write_file"), "write_file");
    return Value::nil();
}

Value nativeAppendFile(Caller&, Args args) {
    const char* const name = "append_file";
    const std::string path = expectPath(args[0], name);
    const std::string_view text = expectText(args[1], name);
    FileDescriptor file(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666));
    if (!file.isOpen()) failWithReason(name, "write", path, errno);
    struct stat info {};
    const bool regular = ::fstat(file.get(), &info) == 0 && S_ISREG(info.st_mode);
    if (!writeAll(file.get(), text)) {
        const int error = errno;
        if (regular) (void)!::ftruncate(file.get(), info.st_size);
        failWithReason(name, "write", path, error);
    }
    if (!file.close()) failWithReason(name, "write", path, errno);
    return Value::nil();
}

// Anything that exists counts, a directory too; a path that cannot be looked
// at (a folder on the way that denies access) counts as missing.
Value nativeFileExists(Caller&, Args args) {
    const std::string path = expectPath(args[0], "file_exists");
    struct stat info {};
    return Value::boolean(::stat(path.c_str(), &info) == 0);
}

}  // namespace ferrow
