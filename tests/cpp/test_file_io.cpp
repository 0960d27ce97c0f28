#include "core/file_io.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sys/stat.h>

using lumox::core::FileError;
using lumox::core::FileLock;
using lumox::core::LockTimeout;
using lumox::core::read_file_if_exists;
using lumox::core::remove_interrupted_saves;
using lumox::core::write_file_atomically;
namespace fs = std::filesystem;

namespace {

class FileIo : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/lumox-file-io-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::size_t entries() const {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir_), {}));
    }
    fs::path dir_;
};

} // namespace

TEST_F(FileIo, WritesReplacesAndReadsBack) {
    const std::string path = (dir_ / "vars.yaml").string();
    EXPECT_FALSE(read_file_if_exists(path).has_value());
    write_file_atomically(path, "a: 1\n");
    EXPECT_EQ(read_file_if_exists(path), "a: 1\n");

    ::chmod(path.c_str(), 0640);
    write_file_atomically(path, std::string("b: \xE4\xB8\xAD\n"));
    EXPECT_EQ(read_file_if_exists(path), "b: \xE4\xB8\xAD\n");
    struct stat info{};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u); // the replacement keeps the permissions
    EXPECT_EQ(entries(), 1u);               // no temporary file left behind
}

TEST_F(FileIo, SymbolicLinkSurvivesAndItsTargetIsReplaced) {
    const fs::path real = dir_ / "real.yaml";
    const fs::path link = dir_ / "link.yaml";
    std::ofstream(real) << "old";
    fs::create_symlink(real, link);
    write_file_atomically(link.string(), "new");
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(read_file_if_exists(real.string()), "new");
}

TEST_F(FileIo, FailureNamesThePathAndLeavesNothingBehind) {
    const fs::path plain = dir_ / "plain";
    std::ofstream(plain) << "keep";
    const std::string below_file = (plain / "vars.yaml").string();
    EXPECT_FALSE(read_file_if_exists(below_file).has_value());
    try {
        write_file_atomically(below_file, "x");
        FAIL() << "no error";
    } catch (const FileError &error) {
        EXPECT_EQ(error.error_number(), ENOTDIR);
        EXPECT_EQ(error.path(), below_file);
    }
    // Renaming over a directory fails after the temporary file was written: it is removed.
    fs::create_directory(dir_ / "taken");
    EXPECT_THROW(write_file_atomically((dir_ / "taken").string(), "x"), FileError);
    EXPECT_EQ(entries(), 2u);
    EXPECT_EQ(read_file_if_exists(plain.string()), "keep");
    EXPECT_THROW(read_file_if_exists(dir_.string()), FileError); // a directory is no file
}

TEST_F(FileIo, LockExcludesOthersUntilReleasedAndLeavesNoLockFile) {
    using std::chrono::milliseconds;
    const std::string path = (dir_ / "vars.yaml").string();
    std::optional<FileLock> held(std::in_place, path, milliseconds(0));
    EXPECT_EQ(held->lock_path(), (dir_ / ".vars.yaml.lock").string());
    int tries = 0;
    try {
        FileLock second(path, milliseconds(20), [&] { ++tries; });
        FAIL() << "locked twice";
    } catch (const LockTimeout &error) {
        EXPECT_EQ(error.path(), path);
        EXPECT_EQ(std::string(error.what()), "could not lock '" + path +
                                                 "' within 0.02 s: another process holds '" +
                                                 held->lock_path() + "'");
    }
    EXPECT_GT(tries, 0);
    // between_tries may give up the wait.
    EXPECT_THROW(FileLock(path, milliseconds(60000), [] { throw std::runtime_error("stop"); }),
                 std::runtime_error);
    held.reset();
    EXPECT_EQ(entries(), 0u);
    FileLock again(path, milliseconds(0));
    EXPECT_EQ(entries(), 1u);
}

TEST_F(FileIo, LockFileOfAKilledHolderIsTakenOverAndRemoved) {
    // A holder killed with SIGKILL leaves its lock file, unlocked by the kernel.
    std::ofstream(dir_ / ".vars.yaml.lock") << "";
    {
        FileLock lock((dir_ / "vars.yaml").string(), std::chrono::milliseconds(0));
        EXPECT_EQ(entries(), 1u);
    }
    EXPECT_EQ(entries(), 0u);
}

TEST_F(FileIo, LockFailureNamesTheFile) {
    std::ofstream(dir_ / "plain") << "x";
    const std::string below_file = (dir_ / "plain" / "vars.yaml").string();
    try {
        FileLock lock(below_file, std::chrono::milliseconds(0));
        FAIL() << "no error";
    } catch (const FileError &error) {
        EXPECT_EQ(error.error_number(), ENOTDIR);
        EXPECT_EQ(error.path(), below_file);
    }
}

TEST_F(FileIo, InterruptedSavesOfTheFileAreRemovedAndNothingElse) {
    const std::string path = (dir_ / "vars.yaml").string();
    for (const char *name :
         {".vars.yaml.tmp-0123456789ab", ".vars.yaml.tmp-ffffffffffff", "vars.yaml",
          ".vars.yaml.tmp-0123", ".vars.yaml.tmp-0123456789abc", ".vars.yaml.tmp-0123456789AB",
          ".other.yaml.tmp-0123456789ab", "vars.yaml.tmp-0123456789ab"}) {
        std::ofstream(dir_ / name) << "x";
    }
    EXPECT_EQ(remove_interrupted_saves(path), 2u);
    EXPECT_EQ(entries(), 6u);
    EXPECT_FALSE(fs::exists(dir_ / ".vars.yaml.tmp-0123456789ab"));
    EXPECT_EQ(remove_interrupted_saves((dir_ / "missing" / "vars.yaml").string()), 0u);
}
