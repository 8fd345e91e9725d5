// The user database: every registered nickname as a 466-byte record in the
// file NELV3SRV.UDB, record i at offset i * 466, and in memory as the list
// RegisteredUsers whose entry i is record i. The file is read once at
// start-up and afterwards only written through, one record at a time.
// Not thread-safe: the owner's lock guards it.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/names.h"
#include "userdb/record_file.h"
#include "userdb/user_record.h"

namespace nelv::userdb {

enum class OpenResult { kOk, kCannotOpen, kCorrupt };

class UserDatabase {
public:
    UserDatabase() = default;
    UserDatabase(const UserDatabase&) = delete;
    UserDatabase& operator=(const UserDatabase&) = delete;

    // Opens the file (creating it empty when missing), keeps the exclusive
    // lock while it stays open, and loads every record. A file locked by
    // another process cannot be opened: kCannotOpen. A file whose size is
    // not a whole number of records is left untouched: kCorrupt. A record
    // that cannot be read whole costs one console warning and is loaded
    // as far as it was read.
    OpenResult Open(const std::string& path);

    // Takes `records` as the content (slot i = record i; free slots keep
    // their places) and writes every later change through to `store`.
    void Load(std::unique_ptr<RecordStore> store, const std::vector<UserRecord::Bytes>& records);

    // The first record whose nickname equals `name` ignoring case; free slots
    // and the empty name never match.
    UserRecord* FindRegisteredUser(std::string_view name);

    // Writes the record to its slot. A write that fails or comes up short
    // costs one console warning; memory keeps the new content either way.
    void SaveUserRecord(const UserRecord& record);

    // Takes the first free slot (else appends) and saves the record.
    UserRecord* AddUserRecord(std::unique_ptr<UserRecord> record);

    // Unregisters: zeroes the nickname length byte in the file, releases the
    // record and leaves its entry as a free slot.
    void FreeUserRecord(UserRecord* record);

    std::size_t size() const { return entries_.size(); }
    // Record of entry i, or nullptr for a slot freed while running.
    const UserRecord* At(std::size_t i) const { return entries_[i].value.get(); }

private:
    std::ptrdiff_t IndexOf(const UserRecord& record) const;

    std::unique_ptr<RecordStore> store_;
    NamedList<std::unique_ptr<UserRecord>> entries_;
};

}  // namespace nelv::userdb
