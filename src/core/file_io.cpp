#include "core/file_io.hpp"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace lumox::core {

namespace {

// Closes the descriptor on every path out of a scope.
class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const { return fd_; }
    // Closes now and reports the error close() gives (a late write-back failure).
    int close_checked() {
        const int result = ::close(fd_);
        fd_ = -1;
        return result == 0 ? 0 : errno;
    }

  private:
    int fd_;
};

std::string directory_of(const std::string &path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string name_of(const std::string &path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A symbolic link is replaced through the file it points to, so the link survives.
std::string resolve_link(const std::string &path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved) != nullptr) {
            return resolved;
        }
    }
    return path;
}

std::string random_suffix() {
    static std::mt19937_64 generator{std::random_device{}()};
    static constexpr char digits[] = "0123456789abcdef";
    std::string suffix;
    auto bits = generator();
    for (int i = 0; i < 12; ++i, bits >>= 4) {
        suffix += digits[bits & 0xF];
    }
    return suffix;
}

int write_all(int fd, std::string_view content) {
    while (!content.empty()) {
        const ssize_t written = ::write(fd, content.data(), content.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        content.remove_prefix(static_cast<std::size_t>(written));
    }
    return 0;
}

} // namespace

FileError::FileError(int error_number, const std::string &path)
    : std::runtime_error(std::string(std::strerror(error_number)) + ": '" + path + "'"),
      error_number_(error_number), path_(path) {}

std::optional<std::string> read_file_if_exists(const std::string &path) {
    Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) {
        // ENOTDIR: a parent is a regular file, so the file cannot exist either.
        if (errno == ENOENT || errno == ENOTDIR) {
            return std::nullopt;
        }
        throw FileError(errno, path);
    }
    std::string content;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(file.get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw FileError(errno, path);
        }
        if (got == 0) {
            return content;
        }
        content.append(buffer, static_cast<std::size_t>(got));
    }
}

void write_file_atomically(const std::string &path, std::string_view content) {
    if (path.empty()) {
        throw FileError(ENOENT, path);
    }
    const std::string target = resolve_link(path);
    const std::string directory = directory_of(target);

    std::string temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0; ++attempt) {
        temporary = directory + "/." + name_of(target) + ".tmp-" + random_suffix();
        // 0666 before the umask: the permissions a newly created file would get.
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && (errno != EEXIST || attempt == 100)) {
            throw FileError(errno, path);
        }
    }
    Descriptor file(fd);
    auto give_up = [&](int error_number) {
        ::unlink(temporary.c_str());
        throw FileError(error_number, path);
    };

    struct stat existing {};
    if (::stat(target.c_str(), &existing) == 0) {
        ::fchmod(file.get(), existing.st_mode & 07777);
    }
    if (const int error = write_all(file.get(), content); error != 0) {
        give_up(error);
    }
    if (::fsync(file.get()) != 0) {
        give_up(errno);
    }
    if (const int error = file.close_checked(); error != 0) {
        give_up(error);
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        give_up(errno);
    }
    // Make the rename itself durable; a failure here no longer risks the content.
    Descriptor dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) {
        ::fsync(dir.get());
    }
}

} // namespace lumox::core
