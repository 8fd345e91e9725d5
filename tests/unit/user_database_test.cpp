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

    static RecordEntry Spec(const std::string& nickname, std::int32_t password = 1) {
        RecordEntry spec;
        spec.nickname = nickname;
        spec.password = password;
        spec.profile1 = nickname + " profile";
        spec.color = 0x123456;
        spec.registeredAt = 40000.5;
        return spec;
    }
    static std::unique_ptr<UserRecord> Record(const RecordEntry& spec) {
        UserRecord::Bytes bytes{};
        const std::string image = RecordImage(spec);
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

    UserRecord* alice = db.AddUserRecord(Record(Spec("Alice")));
    ASSERT_NE(alice, nullptr);
    EXPECT_EQ(db.size(), 1u);
    EXPECT_EQ(Read(), RecordImage(Spec("Alice")));
}

TEST_F(UserDatabaseFile, SizesThatAreAndAreNotWholeRecords) {
    Write(RecordImage(Spec("Alice")) + RecordImage(Spec("Bob")));
    {
        UserDatabase db;
        ASSERT_EQ(db.Open(path_), OpenResult::kOk);
        ASSERT_EQ(db.size(), 2u);
        EXPECT_EQ(db.At(0)->Nickname(), "Alice");
        EXPECT_EQ(db.At(1)->Nickname(), "Bob");
        EXPECT_EQ(db.At(1)->Profile1(), "Bob profile");
    }

    const std::string damaged = RecordImage(Spec("Alice")) + RecordImage(Spec("Bob")) + "x";
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
    db.AddUserRecord(Record(Spec("Alice")));
    UserRecord* bob = db.AddUserRecord(Record(Spec("Bob")));
    db.AddUserRecord(Record(Spec("Carol")));
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

    UserRecord* dave = db.AddUserRecord(Record(Spec("Dave")));
    EXPECT_EQ(db.size(), 3u);
    EXPECT_EQ(db.At(1), dave);
    EXPECT_EQ(db.FindRegisteredUser("dave"), dave);
    const std::string afterAdd = Read();
    ASSERT_EQ(afterAdd.size(), 3 * kRecordSize);
    EXPECT_EQ(afterAdd.substr(0, kRecordSize), RecordImage(Spec("Alice")));
    EXPECT_EQ(afterAdd.substr(kRecordSize, kRecordSize), RecordImage(Spec("Dave")));
    EXPECT_EQ(afterAdd.substr(2 * kRecordSize), RecordImage(Spec("Carol")));

    // The next one appends.
    db.AddUserRecord(Record(Spec("Eve")));
    EXPECT_EQ(Read().size(), 4 * kRecordSize);
    EXPECT_EQ(Read().substr(3 * kRecordSize), RecordImage(Spec("Eve")));
}

TEST_F(UserDatabaseFile, FreeSlotsFromTheFileStayInPlaceAndNeverMatch) {
    std::string freed = RecordImage(Spec("Bob", 77));
    freed[0] = '\0';  // unregistered: only the length byte was cleared
    Write(RecordImage(Spec("Alice")) + freed + RecordImage(Spec("Carol")) +
          RecordImage(Spec("ALICE", 2)));
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

    UserRecord* dave = db.AddUserRecord(Record(Spec("Dave")));
    EXPECT_EQ(db.At(1), dave);
    EXPECT_EQ(Read().size(), 4 * kRecordSize);
    EXPECT_EQ(Read().substr(kRecordSize, kRecordSize), RecordImage(Spec("Dave")));
}

TEST_F(UserDatabaseFile, ReloadSeesWhatWasWritten) {
    {
        UserDatabase db;
        ASSERT_EQ(db.Open(path_), OpenResult::kOk);
        db.AddUserRecord(Record(Spec("Alice")));
        UserRecord* bob = db.AddUserRecord(Record(Spec("Bob", 42)));
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

}  // namespace
}  // namespace nelv::userdb
