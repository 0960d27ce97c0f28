#include "core/file_io.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
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
    // Hands the descriptor over to the caller, who closes it.
    void release() { fd_ = -1; }
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
    struct stat info{};
    if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved) != nullptr) {
            return resolved;
        }
    }
    return path;
}

constexpr std::size_t kSuffixLength = 12;

// Temporary files of a save are ".<name>.tmp-" plus kSuffixLength hex digits.
std::string temporary_prefix(const std::string &target) { return "." + name_of(target) + ".tmp-"; }

bool is_temporary_of(const std::string &entry, const std::string &prefix) {
    if (entry.size() != prefix.size() + kSuffixLength ||
        entry.compare(0, prefix.size(), prefix) != 0) {
        return false;
    }
    return entry.find_first_not_of("0123456789abcdef", prefix.size()) == std::string::npos;
}

std::string random_suffix() {
    static std::mt19937_64 generator{std::random_device{}()};
    static constexpr char digits[] = "0123456789abcdef";
    std::string suffix;
    auto bits = generator();
    for (std::size_t i = 0; i < kSuffixLength; ++i, bits >>= 4) {
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

LockTimeout::LockTimeout(const std::string &path, const std::string &lock_path,
                         std::chrono::milliseconds waited)
    : std::runtime_error([&] {
          std::ostringstream text;
          text << "could not lock '" << path << "' within " << waited.count() / 1000.0
               << " s: another process holds '" << lock_path << "'";
          return text.str();
      }()),
      path_(path) {}

FileLock::FileLock(const std::string &path, std::chrono::milliseconds timeout,
                   const std::function<void()> &between_tries) {
    if (path.empty()) {
        throw FileError(ENOENT, path);
    }
    const std::string target = resolve_link(path);
    lock_path_ = directory_of(target) + "/." + name_of(target) + ".lock";
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
        Descriptor file(::open(lock_path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
        if (file.get() < 0) {
            throw FileError(errno, path);
        }
        int result;
        do {
            result = ::flock(file.get(), LOCK_EX | LOCK_NB);
        } while (result != 0 && errno == EINTR);
        if (result == 0) {
            // The previous holder may have removed the lock file after we opened it; a
            // lock on a removed file excludes nobody, so only the file at the path counts.
            struct stat held{};
            struct stat named{};
            if (::fstat(file.get(), &held) != 0) {
                throw FileError(errno, path);
            }
            if (::stat(lock_path_.c_str(), &named) == 0 && named.st_dev == held.st_dev &&
                named.st_ino == held.st_ino) {
                fd_ = file.get();
                file.release();
                return;
            }
            continue;
        }
        if (errno != EWOULDBLOCK) {
            throw FileError(errno, path);
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            throw LockTimeout(path, lock_path_, timeout);
        }
        if (between_tries) {
            between_tries();
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(50));
    }
}

FileLock::~FileLock() {
    // Removed while still held: whoever opens the old file afterwards sees it is gone.
    ::unlink(lock_path_.c_str());
    ::close(fd_);
}

std::size_t remove_interrupted_saves(const std::string &path) {
    const std::string target = resolve_link(path);
    const std::string directory = directory_of(target);
    const std::string prefix = temporary_prefix(target);
    DIR *listing = ::opendir(directory.c_str());
    if (listing == nullptr) {
        return 0;
    }
    std::size_t removed = 0;
    while (const dirent *entry = ::readdir(listing)) {
        if (is_temporary_of(entry->d_name, prefix) &&
            ::unlink((directory + "/" + entry->d_name).c_str()) == 0) {
            ++removed;
        }
    }
    ::closedir(listing);
    return removed;
}

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
        temporary = directory + "/" + temporary_prefix(target) + random_suffix();
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

    struct stat existing{};
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
