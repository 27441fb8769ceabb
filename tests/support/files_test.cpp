#include "support/files.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstdlib>
#include <filesystem>

#include "support/gbk_literal.hpp"

using namespace vq;
namespace fs = std::filesystem;

namespace {

class FilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vq-files-XXXXXX";
        dir_ = mkdtemp(tmpl);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string dir_;
};

TEST_F(FilesTest, GbkPathsBecomeUtf8FileNames) {
    const std::string folder = dir_ + "/" + "宝贝"_gbk;
    ASSERT_TRUE(make_directory(folder));
    EXPECT_TRUE(make_directory(folder));  // an existing folder is fine
    EXPECT_TRUE(fs::is_directory(dir_ + "/\xE5\xAE\x9D\xE8\xB4\x9D"));

    const std::string file = folder + "/a.csv";
    ASSERT_TRUE(write_file_atomic(file, std::string("x\0y", 3)));
    EXPECT_EQ(read_file_bytes(file), std::string("x\0y", 3));
    EXPECT_TRUE(file_exists(file));
}

TEST_F(FilesTest, AtomicWriteReplacesWholeAndLeavesNoTemporary) {
    const std::string file = dir_ + "/p.csv";
    ASSERT_TRUE(write_file_atomic(file, "old"));
    ASSERT_TRUE(write_file_atomic(file, "new content"));
    EXPECT_EQ(read_file_bytes(file), "new content");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(FilesTest, FailuresAreResults) {
    EXPECT_FALSE(write_file_atomic(dir_ + "/missing/p.csv", "x"));
    EXPECT_FALSE(read_file_bytes(dir_ + "/missing.txt").has_value());
    EXPECT_FALSE(make_directory(dir_ + "/missing/sub"));
    // A folder in the way of the file: nothing replaced, no temporary left.
    ASSERT_TRUE(make_directory(dir_ + "/taken"));
    EXPECT_FALSE(write_file_atomic(dir_ + "/taken", "x"));
    EXPECT_TRUE(fs::is_directory(dir_ + "/taken"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(FilesTest, StagedFileAppearsWholeOrNotAtAll) {
    const auto entries = [this] {
        return std::distance(fs::directory_iterator(dir_), fs::directory_iterator());
    };
    {
        StagedFile staged(dir_);
        ASSERT_TRUE(staged.ok());
        EXPECT_TRUE(staged.append("part one, "));
        EXPECT_TRUE(staged.append("part two"));
        EXPECT_EQ(staged.size(), 18u);
        EXPECT_FALSE(file_exists(dir_ + "/p.jpg"));
        ASSERT_TRUE(staged.commit(dir_ + "/p.jpg"));
    }
    EXPECT_EQ(read_file_bytes(dir_ + "/p.jpg"), "part one, part two");
    EXPECT_EQ(entries(), 1);
    {
        StagedFile dropped(dir_);
        dropped.append("never kept");
        StagedFile moved = std::move(dropped);
        EXPECT_EQ(entries(), 2);
    }
    EXPECT_EQ(entries(), 1);  // dropped without a commit: gone

    StagedFile nowhere(dir_ + "/missing");
    EXPECT_FALSE(nowhere.ok());
    EXPECT_FALSE(nowhere.append("x"));
    EXPECT_FALSE(nowhere.commit(dir_ + "/q.jpg"));
    StagedFile blocked(dir_);
    ASSERT_TRUE(make_directory(dir_ + "/taken"));
    EXPECT_FALSE(blocked.commit(dir_ + "/taken"));  // a folder in the way
    EXPECT_EQ(entries(), 2);
}

// A saved file staged again elsewhere: its bytes, as a second link where possible, and
// committing it over the very file it links leaves that file and nothing else.
TEST_F(FilesTest, StagedCopyOfASavedFile) {
    ASSERT_TRUE(write_file_atomic(dir_ + "/a.jpg", "saved bytes"));
    ASSERT_TRUE(make_directory(dir_ + "/sub"));
    StagedFile copy = StagedFile::copy_of(dir_ + "/a.jpg", dir_ + "/sub");
    ASSERT_TRUE(copy.ok());
    EXPECT_EQ(copy.size(), 11u);
    ASSERT_TRUE(copy.commit(dir_ + "/sub/b.jpg"));
    EXPECT_EQ(read_file_bytes(dir_ + "/sub/b.jpg"), "saved bytes");
    struct stat a {}, b {};
    ASSERT_EQ(::stat((dir_ + "/a.jpg").c_str(), &a), 0);
    ASSERT_EQ(::stat((dir_ + "/sub/b.jpg").c_str(), &b), 0);
    EXPECT_EQ(a.st_ino, b.st_ino);  // a link, not a second copy on the disk

    StagedFile same = StagedFile::copy_of(dir_ + "/a.jpg", dir_);
    ASSERT_TRUE(same.commit(dir_ + "/a.jpg"));
    EXPECT_EQ(read_file_bytes(dir_ + "/a.jpg"), "saved bytes");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2);

    EXPECT_FALSE(StagedFile::copy_of(dir_ + "/none.jpg", dir_).ok());
    EXPECT_FALSE(StagedFile::copy_of(dir_ + "/a.jpg", dir_ + "/missing").ok());
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2);
}

// Only regular files are read, and only up to the caller's cap: a FIFO would block the
// reader for ever and /dev/zero would fill its memory.
TEST_F(FilesTest, ReadsOnlyRegularFilesUpToTheirCap) {
    ASSERT_EQ(::mkfifo((dir_ + "/fifo").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", dir_ + "/zero");
    ASSERT_TRUE(write_file_atomic(dir_ + "/ten", "0123456789"));
    fs::create_symlink(dir_ + "/ten", dir_ + "/link");
    const struct {
        std::string name;
        std::uint64_t cap;
        FileReadStatus status;
    } cases[] = {
        {"fifo", kMostListBytes, FileReadStatus::NotRegular},
        {"zero", kMostTableBytes, FileReadStatus::NotRegular},
        {".", kMostListBytes, FileReadStatus::NotRegular},
        {"missing", kMostListBytes, FileReadStatus::Unreadable},
        {"ten", 9, FileReadStatus::TooLarge},
        {"ten", 10, FileReadStatus::Read},
        {"link", 10, FileReadStatus::Read},  // a link to a regular file is one
    };
    for (const auto& c : cases) {
        const FileRead read = read_regular_file(dir_ + "/" + c.name, c.cap);
        EXPECT_EQ(read.status, c.status) << c.name;
        EXPECT_EQ(read.bytes, c.status == FileReadStatus::Read ? "0123456789" : "") << c.name;
        EXPECT_EQ(read_file_bytes(dir_ + "/" + c.name, c.cap).has_value(), read.ok()) << c.name;
    }
    const std::string path = dir_ + "/fifo";
    EXPECT_EQ(file_read_failure(read_regular_file(path, kMostListBytes), kMostListBytes,
                                "宝贝列表文件"_gbk, path),
              "宝贝列表文件不是普通文件："_gbk + path);
    EXPECT_EQ(file_read_failure(read_regular_file(dir_ + "/ten", 9), kMostListBytes,
                                "宝贝列表文件"_gbk, path),
              "宝贝列表文件超过 256 MB 的上限："_gbk + path);
    EXPECT_EQ(file_read_failure(read_regular_file(dir_ + "/missing", 9), kMostListBytes,
                                "宝贝列表文件"_gbk, path),
              "无法读取宝贝列表文件："_gbk + path);
}

}  // namespace
