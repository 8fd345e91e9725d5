// Fuzz target for the whole dispatch: the input chooses the settings, the
// registered nicknames and a sequence of steps (connect, bytes from a
// client, a client hanging up, the clock moving on) run against a fresh
// chat state with up to 8 fake clients. After every step the chat state
// and every message sent must pass the invariant checks; a breach aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/clock.h"
#include "support/chat_invariants.h"
#include "support/fake_chat.h"

namespace {

using nelv::testing::FakeChat;

// Takes bytes off the front of the input; zeros once it is used up.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool empty() const { return at_ >= size_; }
    std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    std::string Bytes(std::size_t count) {
        std::string out;
        while (count-- > 0 && at_ < size_) out += static_cast<char>(data_[at_++]);
        return out;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

nelv::ServerConfig SettingsFrom(Input& in) {
    nelv::ServerConfig settings;
    const std::uint8_t limits = in.Byte();
    const std::uint8_t flags = in.Byte();
    settings.MaxUsers = limits & 7;                                // 0: no limit
    settings.MaxUserRooms = static_cast<std::int32_t>((limits >> 3) & 3) - 1;  // -1: no limit
    settings.OnlyRegisteredUsers = flags & 1;
    if (flags & 2) settings.RegistrationPassword = 7;
    if (flags & 4) settings.UsersIPList = {"D127.0.0.3", "A*.*.*.*"};
    if (flags & 8) settings.SystemRoomLines.push_back("Main=00FF00,Welcome");
    if (flags & 16) settings.SystemRoomLines.push_back("Quiet=,");
    return settings;
}

std::vector<nelv::userdb::UserRecord::Bytes> RecordsFrom(Input& in) {
    std::vector<nelv::userdb::UserRecord::Bytes> records;
    const std::uint8_t count = in.Byte() & 3;
    for (std::uint8_t i = 0; i < count; ++i) {
        const std::uint8_t flags = in.Byte();
        nelv::userdb::UserRecord record;
        record.SetNickname(flags & 0x80 ? "" : "Reg" + std::to_string(i));
        record.SetPassword(i);
        record.SetEnabled(!(flags & 1));
        record.SetPrivileged(flags & 2);
        record.SetLoginInvisible(flags & 4);
        record.SetColor(0x00FF00 * (flags & 8));
        records.push_back(record.bytes());
    }
    return records;
}

[[noreturn]] void Breach(const std::string& what) {
    std::fprintf(stderr, "invariant broken: %s\n", what.c_str());
    std::abort();
}

void CheckAll(FakeChat& fake) {
    for (std::size_t i = 0; i < fake.size(); ++i) {
        for (const std::string& message : fake.client(i).wire.TakeSent()) {
            if (auto breach = nelv::testing::CheckMessage(message)) Breach(*breach);
        }
    }
    nelv::ServerLockGuard lock;
    if (auto breach = nelv::testing::CheckChatState(fake.chat(), fake.udbImage())) Breach(*breach);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    const nelv::ServerConfig settings = SettingsFrom(in);
    FakeChat fake(settings, RecordsFrom(in));
    CheckAll(fake);
    std::vector<std::size_t> live;  // clients still online, at most 8
    while (!in.empty()) {
        const std::uint8_t op = in.Byte();
        switch (op & 3) {
            case 0:  // connect from one of three addresses
                if (live.size() < 8) {
                    const std::size_t index = fake.Connect(0x7F000001 + (op >> 2) % 3);
                    if (fake.client(index).online) live.push_back(index);
                }
                break;
            case 1: {  // bytes from a client, cut into messages as received
                const std::string chunk = in.Bytes(in.Byte() % 64);
                if (!live.empty()) fake.Receive(live[(op >> 2) % live.size()], chunk);
                break;
            }
            case 2:  // a client hangs up
                if (!live.empty()) fake.Close(live[(op >> 2) % live.size()]);
                break;
            case 3:  // the clock moves on by up to an hour
                fake.now() += (op >> 2) * nelv::kMinute;
                break;
        }
        std::erase_if(live, [&fake](std::size_t index) { return !fake.client(index).online; });
        CheckAll(fake);
    }
    return 0;
}
