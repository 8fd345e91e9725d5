#include "userdb/user_database.h"

#include "base/console.h"

namespace nelv::userdb {

OpenResult UserDatabase::Open(const std::string& path) {
    auto file = std::make_unique<RecordFile>();
    switch (file->Open(path, RecordFile::Access::kServe)) {
        case RecordFile::OpenStatus::kOk: break;
        case RecordFile::OpenStatus::kCorrupt: return OpenResult::kCorrupt;
        default: return OpenResult::kCannotOpen;
    }
    std::vector<UserRecord::Bytes> records(file->count());
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (auto error = file->Read(i, records[i])) {
            ConsoleLine("WARNING: Record " + std::to_string(i) +
                        " of the user database could not be read whole (" + *error + ").");
        }
    }
    Load(std::move(file), records);
    return OpenResult::kOk;
}

void UserDatabase::Load(std::unique_ptr<RecordStore> store, const std::vector<UserRecord::Bytes>& records) {
    store_ = std::move(store);
    entries_ = {};
    for (const auto& bytes : records) {
        auto record = std::make_unique<UserRecord>(bytes);
        std::string name = record->Nickname();
        entries_.Append(std::move(name), std::move(record));
    }
}

UserRecord* UserDatabase::FindRegisteredUser(std::string_view name) {
    if (name.empty()) return nullptr;  // free slots have no name
    auto* found = entries_.Find(name);
    return found ? found->get() : nullptr;
}

std::ptrdiff_t UserDatabase::IndexOf(const UserRecord& record) const {
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].value.get() == &record) return static_cast<std::ptrdiff_t>(i);
    }
    return -1;
}

void UserDatabase::SaveUserRecord(const UserRecord& record) {
    std::ptrdiff_t index = IndexOf(record);
    if (index < 0 || !store_) return;
    if (auto error = store_->Write(static_cast<std::size_t>(index), record.bytes())) {
        ConsoleLine("WARNING: Record " + std::to_string(index) +
                    " of the user database could not be written (" + *error + ").");
    }
}

UserRecord* UserDatabase::AddUserRecord(std::unique_ptr<UserRecord> record) {
    UserRecord* result = record.get();
    std::string name = record->Nickname();
    // The first free slot (a freed record has no name), else a new one.
    if (auto free = entries_.IndexOf("")) {
        entries_.Rename(*free, std::move(name));
        entries_[*free].value = std::move(record);
    } else {
        entries_.Append(std::move(name), std::move(record));
    }
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
    entries_.Rename(static_cast<std::size_t>(index), "");
    entries_[static_cast<std::size_t>(index)].value.reset();
}

}  // namespace nelv::userdb
