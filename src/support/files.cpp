#include "support/files.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <random>
#include <vector>

#include "support/encoding.hpp"
#include "support/gbk_literal.hpp"

namespace vq {
namespace {

bool write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

std::string native_path(std::string_view gbk_path) {
    return gbk_to_utf8(gbk_path);
}

FileRead read_regular_file(std::string_view gbk_path, std::uint64_t most_bytes) {
    FileRead result;
    // O_NONBLOCK: opening a FIFO must not wait for a writer. The flag is cleared again
    // once the file is known to be regular.
    const int fd = ::open(native_path(gbk_path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return result;
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        ::close(fd);
        return result;
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        result.status = FileReadStatus::NotRegular;
        return result;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return result;
    }
    if (static_cast<std::uint64_t>(info.st_size) > most_bytes) {
        ::close(fd);
        result.status = FileReadStatus::TooLarge;
        return result;
    }
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(info.st_size));
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            return result;
        }
        if (n == 0) break;
        // The size seen at the start is no promise: a file still being written grows.
        if (bytes.size() + static_cast<std::size_t>(n) > most_bytes) {
            ::close(fd);
            result.status = FileReadStatus::TooLarge;
            return result;
        }
        bytes.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fd);
    result.status = FileReadStatus::Read;
    result.bytes = std::move(bytes);
    return result;
}

std::string file_read_failure(const FileRead& read, std::uint64_t most_bytes,
                              std::string_view what, std::string_view gbk_path) {
    const std::string path(gbk_path);
    switch (read.status) {
        case FileReadStatus::NotRegular:
            return std::string(what) + "不是普通文件："_gbk + path;
        case FileReadStatus::TooLarge:
            return std::string(what) + "超过 "_gbk + std::to_string(most_bytes >> 20) +
                   " MB 的上限："_gbk + path;
        default:
            return "无法读取"_gbk + std::string(what) + "："_gbk + path;
    }
}

std::optional<std::string> read_file_bytes(std::string_view gbk_path, std::uint64_t most_bytes) {
    FileRead read = read_regular_file(gbk_path, most_bytes);
    if (!read.ok()) return std::nullopt;
    return std::move(read.bytes);
}

namespace {

ReplaceResult replace_file_as(std::string_view gbk_path, std::span<const std::string_view> pieces,
                              bool sync, const std::function<bool()>& may_commit, bool owner_only) {
    const std::string target = native_path(gbk_path);
    if (target.empty()) return ReplaceResult::Failed;
    std::vector<char> temp(target.begin(), target.end());
    const std::string suffix = ".tmp-XXXXXX";
    temp.insert(temp.end(), suffix.begin(), suffix.end());
    temp.push_back('\0');
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return ReplaceResult::Failed;
    // mkstemp makes owner-only files; packages and pictures are ordinary documents.
    if (!owner_only) ::fchmod(fd, 0644);
    // A full disk often shows only at sync or close, so both are checked.
    bool written = true;
    for (const std::string_view bytes : pieces) written = written && write_all(fd, bytes);
    written = written && (!sync || ::fsync(fd) == 0);
    const bool closed = ::close(fd) == 0;
    ReplaceResult result = ReplaceResult::Written;
    if (!written || !closed) {
        result = ReplaceResult::Failed;
    } else if (may_commit && !may_commit()) {
        result = ReplaceResult::Abandoned;
    } else if (::rename(temp.data(), target.c_str()) != 0) {
        result = ReplaceResult::Failed;
    }
    if (result != ReplaceResult::Written) ::unlink(temp.data());
    return result;
}

}  // namespace

ReplaceResult replace_file(std::string_view gbk_path, std::string_view bytes, bool sync,
                           const std::function<bool()>& may_commit) {
    return replace_file_as(gbk_path, std::span(&bytes, 1), sync, may_commit, false);
}

ReplaceResult replace_file(std::string_view gbk_path, std::span<const std::string_view> pieces,
                           bool sync, const std::function<bool()>& may_commit) {
    return replace_file_as(gbk_path, pieces, sync, may_commit, false);
}

bool write_private_file_atomic(std::string_view gbk_path, std::string_view bytes) {
    return replace_file_as(gbk_path, std::span(&bytes, 1), true, {}, true) == ReplaceResult::Written;
}

bool write_file_atomic(std::string_view gbk_path, std::string_view bytes) {
    return replace_file(gbk_path, bytes, false, {}) == ReplaceResult::Written;
}

StagedFile::StagedFile(std::string_view gbk_folder) {
    create_in(native_path(gbk_folder));
}

void StagedFile::create_in(const std::string& folder) {
    std::string pattern = folder + "/.vq-part-XXXXXX";
    fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd_ < 0) {
        error_ = errno;
        return;
    }
    ::fchmod(fd_, 0644);  // an ordinary document, not mkstemp's owner-only file
    temp_ = std::move(pattern);
}

StagedFile::~StagedFile() {
    discard();
}

StagedFile StagedFile::copy_of(std::string_view gbk_source, std::string_view gbk_folder) {
    return stage_native(native_path(gbk_source), native_path(gbk_folder));
}

StagedFile StagedFile::second_name() const {
    if (temp_.empty()) return {};
    const std::size_t slash = temp_.rfind('/');
    return stage_native(temp_, slash == std::string::npos ? "." : temp_.substr(0, slash));
}

StagedFile StagedFile::linked_into(std::string_view gbk_folder) const {
    if (temp_.empty()) return {};
    return stage_native(temp_, native_path(gbk_folder));
}

StagedFile StagedFile::stage_native(const std::string& source, const std::string& folder) {
    struct stat info {};
    if (::stat(source.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return {};
    // A second name for the source under a fresh temporary name: no file is made and
    // deleted for it, which costs the file system more than the link itself.
    thread_local std::mt19937_64 random{std::random_device{}()};
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (int attempt = 0; attempt < 8; ++attempt) {
        std::string name = folder + "/.vq-part-";
        for (int i = 0; i < 6; ++i) name += kLetters[random() % (sizeof kLetters - 1)];
        if (::link(source.c_str(), name.c_str()) == 0) {
            StagedFile staged;
            staged.temp_ = std::move(name);
            staged.fd_ = ::open(staged.temp_.c_str(), O_RDONLY | O_CLOEXEC);
            staged.linked_ = true;
            staged.size_ = static_cast<std::uint64_t>(info.st_size);
            return staged;
        }
        if (errno != EEXIST) break;
    }
    // No link here (another file system, or links refused): a copy.
    StagedFile staged;
    staged.create_in(folder);
    if (staged.fd_ < 0) return staged;
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        staged.failed_ = true;
        return staged;
    }
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(in, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) staged.failed_ = true;
        if (n <= 0 || !staged.append(std::string_view(chunk, static_cast<std::size_t>(n)))) break;
    }
    ::close(in);
    return staged;
}

StagedFile::StagedFile(StagedFile&& other) noexcept
    : temp_(std::move(other.temp_)), fd_(other.fd_), size_(other.size_), failed_(other.failed_),
      error_(other.error_), linked_(other.linked_) {
    other.fd_ = -1;
    other.temp_.clear();
}

StagedFile& StagedFile::operator=(StagedFile&& other) noexcept {
    if (this != &other) {
        discard();
        temp_ = std::move(other.temp_);
        fd_ = other.fd_;
        size_ = other.size_;
        failed_ = other.failed_;
        error_ = other.error_;
        linked_ = other.linked_;
        other.fd_ = -1;
        other.temp_.clear();
    }
    return *this;
}

void StagedFile::discard() {
    if (fd_ >= 0) ::close(fd_);
    if (!temp_.empty()) ::unlink(temp_.c_str());
    fd_ = -1;
    temp_.clear();
}

bool StagedFile::append(std::string_view bytes) {
    if (!ok()) return false;
    if (!write_all(fd_, bytes)) {
        error_ = errno;
        failed_ = true;
        return false;
    }
    size_ += bytes.size();
    return true;
}

bool StagedFile::commit(std::string_view gbk_path) {
    const bool written = ok() && ::close(fd_) == 0;
    if (!written && error_ == 0) error_ = fd_ < 0 ? EBADF : errno;
    fd_ = -1;
    const std::string target = native_path(gbk_path);
    if (written && linked_) {
        // Renaming a link over another name of the same file would leave both names.
        struct stat mine {}, theirs {};
        if (::stat(temp_.c_str(), &mine) == 0 && ::stat(target.c_str(), &theirs) == 0 &&
            mine.st_dev == theirs.st_dev && mine.st_ino == theirs.st_ino) {
            discard();
            return true;
        }
    }
    if (!written || ::rename(temp_.c_str(), target.c_str()) != 0) {
        if (error_ == 0) error_ = errno;
        discard();
        return false;
    }
    temp_.clear();
    return true;
}

FileLock FileLock::try_take(std::string_view gbk_path) {
    FileLock lock;
    const int fd = ::open(native_path(gbk_path).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return lock;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        lock.busy_ = errno == EWOULDBLOCK;
        ::close(fd);
        return lock;
    }
    lock.fd_ = fd;
    return lock;
}

FileLock::~FileLock() {
    release();
}

FileLock::FileLock(FileLock&& other) noexcept : fd_(other.fd_), busy_(other.busy_) {
    other.fd_ = -1;
}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        release();
        fd_ = other.fd_;
        busy_ = other.busy_;
        other.fd_ = -1;
    }
    return *this;
}

void FileLock::release() {
    // Closing the one descriptor that holds it drops the lock.
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

namespace {

// Removes the regular files of folder whose names start with prefix, looking depth levels
// of sub-folders further down (never through a link).
int remove_prefixed(const std::filesystem::path& folder, const std::string& prefix, int depth) {
    namespace fs = std::filesystem;
    int removed = 0;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::error_code kind;
        if (it->is_symlink(kind)) continue;
        if (it->path().filename().string().rfind(prefix, 0) == 0 && it->is_regular_file(kind)) {
            removed += fs::remove(it->path(), kind) ? 1 : 0;
        } else if (depth > 0 && it->is_directory(kind)) {
            removed += remove_prefixed(it->path(), prefix, depth - 1);
        }
    }
    return removed;
}

}  // namespace

int remove_stale_parts(std::string_view gbk_folder) {
    // Pictures go into the folder and one level of product sub-folders.
    return remove_prefixed(native_path(gbk_folder), ".vq-part-", 1);
}

int remove_stale_copies(std::string_view gbk_path) {
    const std::filesystem::path path(native_path(gbk_path));
    if (!path.has_filename()) return 0;
    const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
    return remove_prefixed(folder, path.filename().string() + ".tmp-", 0);
}

bool make_directory(std::string_view gbk_path) {
    const std::string path = native_path(gbk_path);
    if (::mkdir(path.c_str(), 0777) == 0) return true;
    struct stat st {};
    return errno == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool remove_file(std::string_view gbk_path) {
    const std::string path = native_path(gbk_path);
    return !path.empty() && ::unlink(path.c_str()) == 0;
}

bool file_exists(std::string_view gbk_path) {
    struct stat st {};
    return ::stat(native_path(gbk_path).c_str(), &st) == 0;
}

PathLook look_at_path(const std::string& native) {
    struct stat st {};
    PathLook look;
    if (::lstat(native.c_str(), &st) != 0) return look;
    if (S_ISLNK(st.st_mode)) {
        look.kind = PathLook::Link;
    } else if (S_ISREG(st.st_mode)) {
        look.kind = PathLook::Regular;
        look.size = static_cast<std::uint64_t>(st.st_size);
    } else {
        look.kind = PathLook::Other;
    }
    return look;
}

std::optional<std::string> file_head(const std::string& native, std::size_t most) {
    // Non-blocking: what was a file a moment ago may be a pipe now.
    const int fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    std::string head(most, '\0');
    std::size_t got = 0;
    while (got < most) {
        const ssize_t n = ::read(fd, head.data() + got, most - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    head.resize(got);
    return head;
}

}  // namespace vq
