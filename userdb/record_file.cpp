#include "userdb/record_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace nelv::userdb {
namespace {

off_t Offset(std::size_t index) { return static_cast<off_t>(index) * static_cast<off_t>(kRecordSize); }

std::string ErrnoText(const std::string& path, const char* what) {
    return path + ": " + what + ": " + std::strerror(errno);
}

}  // namespace

RecordFile::~RecordFile() {
    if (fd_ >= 0) close(fd_);
}

RecordFile::OpenStatus RecordFile::Open(const std::string& path, Access access) {
    path_ = path;
    int flags = O_CLOEXEC | (access == Access::kRead ? O_RDONLY : O_RDWR);
    if (access == Access::kServe) flags |= O_CREAT;
    fd_ = open(path.c_str(), flags, 0644);
    if (fd_ < 0) {
        error_ = ErrnoText(path, "cannot open");
        return OpenStatus::kCannotOpen;
    }
    if (access != Access::kRead) {
        int locked;
        while ((locked = flock(fd_, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
        }
        if (locked != 0 && errno == EWOULDBLOCK) {
            error_ = path + " is locked: the server appears to be running; stop it first";
            return OpenStatus::kLocked;
        }
        if (locked != 0 && access == Access::kChange) {
            error_ = ErrnoText(path, "cannot lock");
            return OpenStatus::kCannotOpen;
        }
    }
    struct stat st {};
    if (fstat(fd_, &st) != 0) {
        error_ = ErrnoText(path, "cannot read its size");
        return OpenStatus::kCannotOpen;
    }
    if (!S_ISREG(st.st_mode)) {
        error_ = path + " is not a regular file";
        return OpenStatus::kCannotOpen;
    }
    if (st.st_size % static_cast<off_t>(kRecordSize) != 0) {
        error_ = path + " is " + std::to_string(st.st_size) + " bytes, not a whole number of " +
                 std::to_string(kRecordSize) + "-byte records; the file looks damaged and was left untouched";
        return OpenStatus::kCorrupt;
    }
    count_ = static_cast<std::size_t>(st.st_size) / kRecordSize;
    return OpenStatus::kOk;
}

std::optional<std::string> RecordFile::Read(std::size_t index, UserRecord::Bytes& bytes) const {
    bytes.fill(0);
    std::size_t got = 0;
    while (got < kRecordSize) {
        ssize_t n = pread(fd_, bytes.data() + got, kRecordSize - got, Offset(index) + static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return ErrnoText(path_, "read failed");
        if (n == 0) return path_ + ": the file became shorter while being read";
        got += static_cast<std::size_t>(n);
    }
    return std::nullopt;
}

std::optional<std::string> RecordFile::Write(std::size_t index, const UserRecord::Bytes& bytes) {
    std::optional<std::string> error;
    std::size_t done = 0;
    while (done < kRecordSize && !error) {
        ssize_t n = pwrite(fd_, bytes.data() + done, kRecordSize - done, Offset(index) + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) error = ErrnoText(path_, "write failed");
        else if (n == 0) error = path_ + ": write came up short";
        else done += static_cast<std::size_t>(n);
    }
    if (!error && fdatasync(fd_) != 0) error = ErrnoText(path_, "flushing to disk failed");
    if (error) {
        // A record that could not be added whole is taken off again, so the
        // file keeps holding whole records only.
        if (index >= count_ && done > 0) {
            [[maybe_unused]] int rc = ftruncate(fd_, Offset(count_));
        }
        return error;
    }
    if (index >= count_) count_ = index + 1;
    return std::nullopt;
}

std::optional<std::string> MemoryRecords::Write(std::size_t index, const UserRecord::Bytes& bytes) {
    const std::size_t offset = index * kRecordSize;
    if (image_.size() < offset + kRecordSize) image_.resize(offset + kRecordSize, '\0');
    image_.replace(offset, kRecordSize, reinterpret_cast<const char*>(bytes.data()), kRecordSize);
    return std::nullopt;
}

}  // namespace nelv::userdb
