// Whole-file reading and crash-safe writing on POSIX systems.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace lumox::core {

// A failed system call on `path`; `error_number()` is the errno value.
class FileError : public std::runtime_error {
public:
    FileError(int error_number, const std::string &path);
    int error_number() const { return error_number_; }
    const std::string &path() const { return path_; }

private:
    int error_number_;
    std::string path_;
};

// The lock on a file was held by someone else for longer than the caller would wait.
class LockTimeout : public std::runtime_error {
public:
    LockTimeout(const std::string &path, const std::string &lock_path,
                std::chrono::milliseconds waited);
    const std::string &path() const { return path_; }

private:
    std::string path_;
};

// An exclusive lock that processes take before they read, update and replace the file at
// `path`, so that none of them loses the others' updates. It is a flock() on the lock
// file ".<name>.lock" beside the file (beside the target of a symbolic link); the holder
// removes the lock file on release, so a directory is left as clean as it was.
// Waits at most `timeout` (then LockTimeout), calling `between_tries` between attempts
// (it may throw to give up, for example on an interrupt). A failed system call throws
// FileError naming `path`. A process that dies holding the lock releases it.
class FileLock {
public:
    FileLock(const std::string &path, std::chrono::milliseconds timeout,
             const std::function<void()> &between_tries = {});
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;
    ~FileLock();
    const std::string &lock_path() const { return lock_path_; }

private:
    std::string lock_path_;
    int fd_ = -1;
};

// Removes the temporary files that write_file_atomically leaves behind when a save of
// `path` is cut short (the process killed before its rename). Only safe while holding
// FileLock on `path`: then no save of it is under way. Returns how many were removed;
// files that cannot be removed are left.
std::size_t remove_interrupted_saves(const std::string &path);

// The bytes of the file at `path`, or nothing when there is no such file (also when a
// directory on the way is missing or is a regular file). Other failures throw FileError.
std::optional<std::string> read_file_if_exists(const std::string &path);

// Replaces the file at `path` by `content` so that a reader (or a crash at any moment)
// sees either the old file or the complete new one: the content goes to a temporary file
// in the same directory, is flushed to disk, and is renamed over the target. The target
// keeps its permission bits; a symbolic link is followed and the file it names replaced.
// On failure the temporary file is removed and the old file is left as it was.
void write_file_atomically(const std::string &path, std::string_view content);

} // namespace lumox::core
