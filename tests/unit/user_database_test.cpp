// The user database file: loading, write-through of single records, slot
// reuse, and refusal of a damaged file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "tests/support/udb_image.h"
#include "userdb/user_database.h"

namespace nelv::userdb {
namespace {

using test::RecordImage;
using test::RecordEntry;

class UserDatabaseFile : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/nelv-udb-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        path_ = dir_ + "/NELV3SRV.UDB";
    }
    void TearDown() override {
        if (!dir_.empty()) std::system(("rm -rf '" + dir_ + "'").c_str());
    }

    void Write(const std::string& bytes) const {
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    std::string Read() const {
        std::ifstream in(path_, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    bool Exists() const {
        struct stat st {};
        return stat(path_.c_str(), &st) == 0;
    }

    static RecordEntry Entry(const std::string& nickname, std::int32_t password = 1) {
        RecordEntry entry;
        entry.nickname = nickname;
        entry.password = password;
        entry.profile1 = nickname + " profile";
        entry.color = 0x123456;
        entry.registeredAt = 40000.5;
        return entry;
    }
    static std::unique_ptr<UserRecord> Record(const RecordEntry& entry) {
        UserRecord::Bytes bytes{};
        const std::string image = RecordImage(entry);
        for (std::size_t i = 0; i < kRecordSize; ++i) bytes[i] = static_cast<std::uint8_t>(image[i]);
        return std::make_unique<UserRecord>(bytes);
    }

    std::string dir_, path_;
};

TEST_F(UserDatabaseFile, MissingFileIsCreatedEmptyAndFirstRecordLandsAtOffsetZero) {
    ASSERT_FALSE(Exists());
    UserDatabase db;
    ASSERT_EQ(db.Open(path_), OpenResult::kOk);
    EXPECT_TRUE(Exists());
    EXPECT_EQ(db.size(), 0u);
    EXPECT_EQ(Read(), "");

    UserRecord* alice = db.AddUserRecord(Record(Entry("Alice")));
    ASSERT_NE(alice, nullptr);
    EXPECT_EQ(db.size(), 1u);
    EXPECT_EQ(Read(), RecordImage(Entry("Alice")));
}

TEST_F(UserDatabaseFile, SizesThatAreAndAreNotWholeRecords) {
    Write(RecordImage(Entry("Alice")) + RecordImage(Entry("Bob")));
    {
        UserDatabase db;
        ASSERT_EQ(db.Open(path_), OpenResult::kOk);
        ASSERT_EQ(db.size(), 2u);
        EXPECT_EQ(db.At(0)->Nickname(), "Alice");
        EXPECT_EQ(db.At(1)->Nickname(), "Bob");
        EXPECT_EQ(db.At(1)->Profile1(), "Bob profile");
    }

    const std::string damaged = RecordImage(Entry("Alice")) + RecordImage(Entry("Bob")) + "x";
    ASSERT_EQ(damaged.size(), 933u);
    Write(damaged);
    {
        UserDatabase db;
        EXPECT_EQ(db.Open(path_), OpenResult::kCorrupt);
        EXPECT_EQ(db.size(), 0u);
    }
    EXPECT_EQ(Read(), damaged);

    Write(std::string(465, '\0'));
    UserDatabase shortFile;
    EXPECT_EQ(shortFile.Open(path_), OpenResult::kCorrupt);

    UserDatabase nowhere;
    EXPECT_EQ(nowhere.Open(dir_ + "/no/such/dir/NELV3SRV.UDB"), OpenResult::kCannotOpen);
}

TEST_F(UserDatabaseFile, FreedSlotIsReusedInPlace) {
    UserDatabase db;
    ASSERT_EQ(db.Open(path_), OpenResult::kOk);
    db.AddUserRecord(Record(Entry("Alice")));
    UserRecord* bob = db.AddUserRecord(Record(Entry("Bob")));
    db.AddUserRecord(Record(Entry("Carol")));
    ASSERT_EQ(Read().size(), 3 * kRecordSize);

    const std::string before = Read();
    db.FreeUserRecord(bob);
    const std::string afterFree = Read();
    ASSERT_EQ(afterFree.size(), before.size());
    for (std::size_t i = 0; i < before.size(); ++i) {
        if (i == kRecordSize) {
            EXPECT_EQ(afterFree[i], '\0');
            EXPECT_NE(before[i], '\0');
        } else {
            ASSERT_EQ(afterFree[i], before[i]) << "byte " << i << " changed by the free";
        }
    }
    EXPECT_EQ(db.FindRegisteredUser("Bob"), nullptr);
    EXPECT_EQ(db.FindRegisteredUser(""), nullptr);
    EXPECT_EQ(db.At(1), nullptr);

    UserRecord* dave = db.AddUserRecord(Record(Entry("Dave")));
    EXPECT_EQ(db.size(), 3u);
    EXPECT_EQ(db.At(1), dave);
    EXPECT_EQ(db.FindRegisteredUser("dave"), dave);
    const std::string afterAdd = Read();
    ASSERT_EQ(afterAdd.size(), 3 * kRecordSize);
    EXPECT_EQ(afterAdd.substr(0, kRecordSize), RecordImage(Entry("Alice")));
    EXPECT_EQ(afterAdd.substr(kRecordSize, kRecordSize), RecordImage(Entry("Dave")));
    EXPECT_EQ(afterAdd.substr(2 * kRecordSize), RecordImage(Entry("Carol")));

    // The next one appends.
    db.AddUserRecord(Record(Entry("Eve")));
    EXPECT_EQ(Read().size(), 4 * kRecordSize);
    EXPECT_EQ(Read().substr(3 * kRecordSize), RecordImage(Entry("Eve")));
}

TEST_F(UserDatabaseFile, FreeSlotsFromTheFileStayInPlaceAndNeverMatch) {
    std::string freed = RecordImage(Entry("Bob", 77));
    freed[0] = '\0';  // unregistered: only the length byte was cleared
    Write(RecordImage(Entry("Alice")) + freed + RecordImage(Entry("Carol")) +
          RecordImage(Entry("ALICE", 2)));
    UserDatabase db;
    ASSERT_EQ(db.Open(path_), OpenResult::kOk);
    ASSERT_EQ(db.size(), 4u);

    EXPECT_EQ(db.FindRegisteredUser("alice"), db.At(0));  // the first of the two
    EXPECT_EQ(db.FindRegisteredUser("ALICE")->Password(), 1);
    EXPECT_EQ(db.FindRegisteredUser("cAROL"), db.At(2));
    EXPECT_EQ(db.FindRegisteredUser("Bob"), nullptr);
    EXPECT_EQ(db.FindRegisteredUser(""), nullptr);
    EXPECT_EQ(db.FindRegisteredUser("Alic"), nullptr);

    // A change is written to its own record only.
    UserRecord* carol = db.FindRegisteredUser("Carol");
    const std::string before = Read();
    carol->SetColor(0xFF80);
    db.SaveUserRecord(*carol);
    std::string expected = before;
    expected[2 * kRecordSize + 443] = static_cast<char>(0x80);
    expected[2 * kRecordSize + 444] = static_cast<char>(0xFF);
    expected[2 * kRecordSize + 445] = 0;
    EXPECT_EQ(Read(), expected);

    UserRecord* dave = db.AddUserRecord(Record(Entry("Dave")));
    EXPECT_EQ(db.At(1), dave);
    EXPECT_EQ(Read().size(), 4 * kRecordSize);
    EXPECT_EQ(Read().substr(kRecordSize, kRecordSize), RecordImage(Entry("Dave")));
}

TEST_F(UserDatabaseFile, ReloadSeesWhatWasWritten) {
    {
        UserDatabase db;
        ASSERT_EQ(db.Open(path_), OpenResult::kOk);
        db.AddUserRecord(Record(Entry("Alice")));
        UserRecord* bob = db.AddUserRecord(Record(Entry("Bob", 42)));
        bob->SetLastLoginAt(45000.75);
        db.SaveUserRecord(*bob);
        db.FreeUserRecord(db.FindRegisteredUser("alice"));
    }
    UserDatabase db;
    ASSERT_EQ(db.Open(path_), OpenResult::kOk);
    ASSERT_EQ(db.size(), 2u);
    EXPECT_EQ(db.FindRegisteredUser("Alice"), nullptr);
    EXPECT_EQ(db.At(0)->Nickname(), "");
    EXPECT_EQ(db.At(0)->Profile1(), "Alice profile");  // the rest of a freed record stays
    const UserRecord* bob = db.FindRegisteredUser("BOB");
    ASSERT_NE(bob, nullptr);
    EXPECT_EQ(bob->LastLoginAt(), 45000.75);
    EXPECT_TRUE(bob->PasswordMatches("42"));
}

// A store whose writes fail, or stop after some bytes.
class BrokenStore : public RecordStore {
public:
    std::optional<std::string> Write(std::size_t index, const UserRecord::Bytes&) override {
        return "slot " + std::to_string(index) + ": No space left on device";
    }
};

TEST(UserDatabaseWrites, AFailedWriteWarnsOnceAndMemoryKeepsTheChange) {
    UserDatabase db;
    db.Load(std::make_unique<BrokenStore>(), {UserRecord::Bytes{}});
    testing::internal::CaptureStdout();
    auto record = std::make_unique<UserRecord>();
    record->SetNickname("Alice");
    UserRecord* alice = db.AddUserRecord(std::move(record));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "WARNING: Record 0 of the user database could not be written "
              "(slot 0: No space left on device).\n");
    EXPECT_EQ(db.FindRegisteredUser("alice"), alice);
}

TEST(UserDatabaseWrites, ChangesReachTheStoreRecordByRecord) {
    UserDatabase db;
    auto image = std::make_unique<MemoryRecords>();
    const MemoryRecords& bytes = *image;
    db.Load(std::move(image), {});
    auto record = std::make_unique<UserRecord>();
    record->SetNickname("Bob");
    db.FreeUserRecord(db.AddUserRecord(std::move(record)));
    ASSERT_EQ(bytes.bytes().size(), kRecordSize);
    EXPECT_EQ(bytes.bytes().substr(0, 4), std::string("\0Bob", 4));  // freed: only the length byte
}

}  // namespace
}  // namespace nelv::userdb
