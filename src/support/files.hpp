#pragma once
// File access for GBK paths: the one place where the system's GBK path texts become the
// platform's file names (UTF-8). Failures are results, never exceptions.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vq {

// The platform file name for a GBK path.
std::string native_path(std::string_view gbk_path);

// Size caps for the files the program reads whole: a package table, a product list, and
// a settings file (options, site, key pairs).
inline constexpr std::uint64_t kMostTableBytes = std::uint64_t{1} << 30;
inline constexpr std::uint64_t kMostListBytes = std::uint64_t{256} << 20;
inline constexpr std::uint64_t kMostSettingsBytes = std::uint64_t{16} << 20;

enum class FileReadStatus { Read, Unreadable, NotRegular, TooLarge };

struct FileRead {
    FileReadStatus status = FileReadStatus::Unreadable;
    std::string bytes;  // the whole file when Read, else empty
    bool ok() const { return status == FileReadStatus::Read; }
};

// The whole file when it is a regular file of at most most_bytes. Anything else (a FIFO,
// a device, a folder, also through a link) is NotRegular and never blocks: it is opened
// without waiting for a writer and looked at before a byte is read. A file that is or
// grows larger than most_bytes while read is TooLarge.
FileRead read_regular_file(std::string_view gbk_path, std::uint64_t most_bytes);

// Why a read failed, for the user (GBK): "无法读取" + what + "：" + path, what +
// "不是普通文件：" + path, or what + "超过 N MB 的上限：" + path. what names the file
// ("宝贝列表文件").
std::string file_read_failure(const FileRead& read, std::uint64_t most_bytes,
                              std::string_view what, std::string_view gbk_path);

// The whole file's bytes, or nothing when it cannot be read, is not a regular file or
// is larger than most_bytes.
std::optional<std::string> read_file_bytes(std::string_view gbk_path,
                                           std::uint64_t most_bytes = kMostTableBytes);

// Writes bytes to a temporary file in the same folder and renames it over the path, so
// readers see the old file or the new one, never a part. False on any failure, leaving
// the old file (if any) untouched and no temporary file behind.
bool write_file_atomic(std::string_view gbk_path, std::string_view bytes);

// The same for secrets: the file is readable and writable by its owner only (also while it
// is being written), and its bytes are on the disk before it replaces the old one.
bool write_private_file_atomic(std::string_view gbk_path, std::string_view bytes);

enum class ReplaceResult { Written, Failed, Abandoned };

// The same, with two choices: sync flushes the bytes to the disk before the rename (so a
// full disk is noticed), and may_commit, when given, is asked just before the rename;
// false abandons the write. On anything but Written no temporary file is left.
ReplaceResult replace_file(std::string_view gbk_path, std::string_view bytes, bool sync,
                           const std::function<bool()>& may_commit);
// The same for a file made of pieces, written one after the other, so that a large file
// grown by a little is never copied whole in memory.
ReplaceResult replace_file(std::string_view gbk_path, std::span<const std::string_view> pieces,
                           bool sync, const std::function<bool()>& may_commit);

// A file written in pieces beside where it will go and renamed into place only when whole,
// so readers never see part of it; removed when dropped without being committed.
class StagedFile {
public:
    StagedFile() = default;
    // Creates a temporary file in the folder (GBK path); ok() tells whether it could.
    explicit StagedFile(std::string_view gbk_folder);
    // The bytes of an existing file staged in the folder: a hard link where the file system
    // allows, else a copy. Not ok() when the file cannot be read or the folder written.
    static StagedFile copy_of(std::string_view gbk_source, std::string_view gbk_folder);
    // The bytes written so far staged once more, beside this file or in another folder, in
    // the same way; this file stays as it is.
    StagedFile second_name() const;
    StagedFile linked_into(std::string_view gbk_folder) const;
    ~StagedFile();
    StagedFile(StagedFile&& other) noexcept;
    StagedFile& operator=(StagedFile&& other) noexcept;
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    // Created, and every write so far went through.
    bool ok() const { return fd_ >= 0 && !failed_; }
    // False (and the file no longer ok) when the bytes could not all be written.
    bool append(std::string_view bytes);
    std::uint64_t size() const { return size_; }
    // Closes the file and renames it over the GBK path; false, and the file removed, when
    // it cannot.
    bool commit(std::string_view gbk_path);
    // The system's error number of the step that failed (making, writing, closing or
    // renaming the file); 0 while none did.
    int error() const { return error_; }

private:
    static StagedFile stage_native(const std::string& source, const std::string& folder);
    void create_in(const std::string& native_folder);
    void discard();
    std::string temp_;  // native path
    int fd_ = -1;
    std::uint64_t size_ = 0;
    bool failed_ = false;
    int error_ = 0;
    bool linked_ = false;  // the temporary name is a second link to an existing file
};

// A lock file beside what it guards (made when missing, left in place), held by one owner at
// a time across threads and processes until dropped or the owner's process ends, however
// it ends.
class FileLock {
public:
    FileLock() = default;
    // Takes the lock at the GBK path without waiting: not held() when another owner has it
    // (busy()) or the file cannot be made.
    static FileLock try_take(std::string_view gbk_path);
    ~FileLock();
    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    bool held() const { return fd_ >= 0; }
    bool busy() const { return busy_; }
    void release();

private:
    int fd_ = -1;
    bool busy_ = false;
};

// What a killed writer leaves, removed; only for files whose lock the caller holds, so no
// live writer owns them. Each returns the number removed.
// The staged pictures (".vq-part-*") in a folder and its sub-folders.
int remove_stale_parts(std::string_view gbk_folder);
// The temporary copies ("<path>.tmp-*") of a file replaced atomically.
int remove_stale_copies(std::string_view gbk_path);

// Creates one folder level; true when it exists afterwards.
bool make_directory(std::string_view gbk_path);

bool file_exists(std::string_view gbk_path);

// What is at a native path, a final link not followed: one system call, for checks that
// look at many files.
struct PathLook {
    enum Kind { Missing, Link, Regular, Other } kind = Missing;
    std::uint64_t size = 0;  // Regular only
};
PathLook look_at_path(const std::string& native);

// Up to most bytes from the start of the regular file at the native path, a final link not
// followed; nothing when it cannot be opened so.
std::optional<std::string> file_head(const std::string& native, std::size_t most);

// Removes the file; true when it was removed.
bool remove_file(std::string_view gbk_path);

}  // namespace vq
