// User records and the database file from any bytes: decoding stays inside
// each field, every field set from what was decoded reads back the same,
// and loading any file content either takes every whole record in order or
// refuses a file that is not made of whole records, leaving it untouched.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "fuzz/fuzz_check.h"
#include "userdb/user_database.h"

namespace {

using nelv::userdb::kRecordSize;
using nelv::userdb::UserRecord;

void CheckRecord(const UserRecord& record) {
    FUZZ_CHECK(record.Nickname().size() <= UserRecord::kNicknameMax);
    FUZZ_CHECK(record.Profile1().size() <= UserRecord::kProfile1Max);
    FUZZ_CHECK(record.Profile3().size() <= UserRecord::kProfile3Max);
    UserRecord copy;
    copy.SetNickname(record.Nickname());
    copy.SetPassword(record.Password());
    copy.SetProfile1(record.Profile1());
    copy.SetProfile2(record.Profile2());
    copy.SetProfile3(record.Profile3());
    copy.SetColor(record.Color());
    copy.SetLoginInvisible(record.LoginInvisible());
    copy.SetEnabled(record.Enabled());
    copy.SetPrivileged(record.Privileged());
    FUZZ_CHECK(copy.Nickname() == record.Nickname() && copy.Profile1() == record.Profile1() &&
               copy.Profile2() == record.Profile2() && copy.Profile3() == record.Profile3());
    FUZZ_CHECK(copy.Password() == record.Password() && copy.Color() == record.Color());
    FUZZ_CHECK(copy.Enabled() == record.Enabled() && copy.Privileged() == record.Privileged());
    // A copy of a decoded record encodes to the very same bytes again.
    FUZZ_CHECK(UserRecord(copy.bytes()).bytes() == copy.bytes());
}

std::string TempPath() {
    static const std::string path = [] {
        char pattern[] = "/tmp/nelv-record-fuzz-XXXXXX";
        const char* dir = mkdtemp(pattern);
        FUZZ_CHECK(dir != nullptr);
        return std::string(dir) + "/NELV3SRV.UDB";
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    for (std::size_t at = 0; at + kRecordSize <= size; at += kRecordSize) {
        UserRecord::Bytes bytes;
        std::copy(data + at, data + at + kRecordSize, bytes.begin());
        CheckRecord(UserRecord(bytes));
    }

    const std::string path = TempPath();
    const std::string content(reinterpret_cast<const char*>(data), size);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
    nelv::userdb::UserDatabase db;
    const auto result = db.Open(path);
    if (size % kRecordSize == 0) {
        FUZZ_CHECK(result == nelv::userdb::OpenResult::kOk);
        FUZZ_CHECK(db.size() == size / kRecordSize);
        for (std::size_t i = 0; i < db.size(); ++i) {
            FUZZ_CHECK(std::equal(db.At(i)->bytes().begin(), db.At(i)->bytes().end(),
                                  data + i * kRecordSize));
            if (!db.At(i)->Nickname().empty()) FUZZ_CHECK(db.FindRegisteredUser(db.At(i)->Nickname()));
        }
    } else {
        FUZZ_CHECK(result == nelv::userdb::OpenResult::kCorrupt);
        FUZZ_CHECK(db.size() == 0);
    }
    std::ifstream in(path, std::ios::binary);
    FUZZ_CHECK(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()) == content);
    return 0;
}
