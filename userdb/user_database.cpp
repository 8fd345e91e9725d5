#include "userdb/user_database.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace nelv::userdb {

UserDatabase::~UserDatabase() {
    if (fd_ >= 0) close(fd_);
}

OpenResult UserDatabase::Open(const std::string& path) {
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return OpenResult::kCannotOpen;
    // The file belongs to this process alone while it runs: a second server
    // in the same directory (or the operator tool) finds it locked. The lock
    // goes with the descriptor, which stays open until the process ends. A
    // file system without locks does not stop the start.
    int locked;
    while ((locked = flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    bool heldElsewhere = locked != 0 && errno == EWOULDBLOCK;
    struct stat st {};
    if (heldElsewhere || fstat(fd, &st) != 0) {
        close(fd);
        return OpenResult::kCannotOpen;
    }
    if (st.st_size % static_cast<off_t>(kRecordSize) != 0) {
        close(fd);
        return OpenResult::kCorrupt;
    }
    fd_ = fd;
    LoadUserDatabase();
    return OpenResult::kOk;
}

void UserDatabase::LoadUserDatabase() {
    struct stat st {};
    if (fstat(fd_, &st) != 0) return;
    std::size_t count = static_cast<std::size_t>(st.st_size) / kRecordSize;
    for (std::size_t i = 0; i < count; ++i) {
        UserRecord::Bytes bytes{};
        std::size_t got = 0;
        while (got < kRecordSize) {
            ssize_t n = pread(fd_, bytes.data() + got, kRecordSize - got,
                              static_cast<off_t>(i * kRecordSize + got));
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
        auto record = std::make_unique<UserRecord>(bytes);
        std::string name = record->Nickname();
        entries_.Append(std::move(name), std::move(record));
    }
}

UserRecord* UserDatabase::FindRegisteredUser(std::string_view name) {
    if (name.empty()) return nullptr;
    for (auto& entry : entries_) {
        if (!entry.name.empty() && entry.value && SameName(entry.name, name)) return entry.value.get();
    }
    return nullptr;
}

std::ptrdiff_t UserDatabase::IndexOf(const UserRecord& record) const {
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].value.get() == &record) return static_cast<std::ptrdiff_t>(i);
    }
    return -1;
}

void UserDatabase::SaveUserRecord(const UserRecord& record) {
    std::ptrdiff_t index = IndexOf(record);
    if (index < 0 || fd_ < 0) return;
    const auto& bytes = record.bytes();
    [[maybe_unused]] ssize_t n = pwrite(fd_, bytes.data(), bytes.size(),
                                        static_cast<off_t>(index) * static_cast<off_t>(kRecordSize));
    fdatasync(fd_);
}

UserRecord* UserDatabase::AddUserRecord(std::unique_ptr<UserRecord> record) {
    UserRecord* result = record.get();
    std::string name = record->Nickname();
    bool placed = false;
    for (auto& entry : entries_) {
        if (entry.name.empty()) {
            entry.name = std::move(name);
            entry.value = std::move(record);
            placed = true;
            break;
        }
    }
    if (!placed) entries_.Append(std::move(name), std::move(record));
    SaveUserRecord(*result);
    return result;
}

void UserDatabase::FreeUserRecord(UserRecord* record) {
    std::ptrdiff_t index = IndexOf(*record);
    if (index < 0) return;
    record->MarkFree();
    SaveUserRecord(*record);
    // The slot is cleared where the record actually sits, not by a name
    // lookup: with two records of the same name a lookup could clear the
    // wrong slot and leave this one pointing at a released record.
    entries_[static_cast<std::size_t>(index)].name.clear();
    entries_[static_cast<std::size_t>(index)].value.reset();
}

}  // namespace nelv::userdb
