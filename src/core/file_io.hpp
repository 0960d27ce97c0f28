// Whole-file reading and crash-safe writing on POSIX systems.
#pragma once

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
