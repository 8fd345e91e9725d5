// Where the records of a user database live: slot i holds record i, each
// kRecordSize bytes. RecordFile is the database file on disk, shared by the
// server and the operator tool; MemoryRecords keeps the same bytes in memory
// for tests. Errors are values: a text that says what failed.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "userdb/user_record.h"

namespace nelv::userdb {

// Somewhere records can be written to.
class RecordStore {
public:
    virtual ~RecordStore() = default;
    // Writes the record to slot `index` (the slot after the last one grows
    // the store). Nothing on success; else why it failed or came up short.
    virtual std::optional<std::string> Write(std::size_t index, const UserRecord::Bytes& bytes) = 0;
};

class RecordFile : public RecordStore {
public:
    enum class Access {
        kRead,    // an existing file, read-only, no lock
        kChange,  // an existing file, read-write, refused while another process holds the lock
        kServe,   // as kChange, but created empty when missing; the lock is kept while open
    };
    enum class OpenStatus { kOk, kCannotOpen, kLocked, kCorrupt };

    RecordFile() = default;
    RecordFile(const RecordFile&) = delete;
    RecordFile& operator=(const RecordFile&) = delete;
    ~RecordFile() override;  // closing releases the lock

    // Opens `path`, takes the exclusive advisory lock for kChange and kServe,
    // and checks that it is a regular file of whole records (a file that is
    // not is left untouched: kCorrupt). A lock that the file system cannot
    // give does not stop kServe. On failure ErrorText() says why.
    OpenStatus Open(const std::string& path, Access access);
    const std::string& ErrorText() const { return error_; }

    // Number of whole records in the file.
    std::size_t count() const { return count_; }

    // Reads record `index`. Nothing on success; on a failed or short read
    // the text says why, and `bytes` holds what was read, zeros after it.
    std::optional<std::string> Read(std::size_t index, UserRecord::Bytes& bytes) const;

    // Writes the whole record and flushes it to the disk. A new record at
    // the end that cannot be written whole is cut off again.
    std::optional<std::string> Write(std::size_t index, const UserRecord::Bytes& bytes) override;

private:
    std::string path_;
    std::string error_;
    int fd_ = -1;
    std::size_t count_ = 0;
};

// The bytes of a database file, in memory.
class MemoryRecords : public RecordStore {
public:
    std::optional<std::string> Write(std::size_t index, const UserRecord::Bytes& bytes) override;
    const std::string& bytes() const { return image_; }

private:
    std::string image_;
};

}  // namespace nelv::userdb
