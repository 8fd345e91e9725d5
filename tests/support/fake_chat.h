// A chat server without sockets or threads, for handler tests and the
// dispatch fuzzer: a fresh ChatState with a clock the test sets, and named
// clients on recording fake connections.
#pragma once

#include <arpa/inet.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/server_lock.h"
#include "chat/chat_connection.h"
#include "chat/chat_state.h"
#include "chat/room.h"
#include "commands/dispatch.h"
#include "net/connection.h"
#include "net/framing.h"
#include "userdb/record_file.h"

namespace nelv::testing {

// Keeps every message sent to it, and drops them once disconnected, as the
// socket connection does.
class FakeConnection : public net::Connection {
public:
    FakeConnection(std::uint64_t id, int handle, std::uint32_t hostOrderAddress)
        : id_(id), handle_(handle), address_(htonl(hostOrderAddress)) {
        in_addr a{};
        a.s_addr = address_;
        peerText_ = inet_ntoa(a);
    }

    void SendText(std::string_view message) override {
        if (!closed_) sent_.emplace_back(message);
    }
    void Disconnect() override { closed_ = true; }
    std::uint64_t Id() const override { return id_; }
    int Handle() const override { return handle_; }
    std::uint32_t PeerAddress() const override { return address_; }
    const std::string& PeerText() const override { return peerText_; }

    bool Closed() const { return closed_; }
    // Everything sent since the last call.
    std::vector<std::string> TakeSent() { return std::exchange(sent_, {}); }

private:
    const std::uint64_t id_;
    const int handle_;
    const std::uint32_t address_;
    std::string peerText_;
    bool closed_ = false;
    std::vector<std::string> sent_;
};

// One client: its fake wire and its chat connection.
struct FakeClient {
    FakeClient(std::uint64_t id, int handle, std::uint32_t address)
        : wire(id, handle, address), user(wire) {}
    FakeConnection wire;
    chat::TActUser user;
    net::FrameCutter received;
    bool online = false;  // between the connect and the disconnect bookkeeping
};

class FakeChat {
public:
    // A chat with these settings whose user database starts as `records`
    // and is written to an image in memory.
    explicit FakeChat(ServerConfig settings = {}, const std::vector<userdb::UserRecord::Bytes>& records = {})
        : chat_(std::move(settings), [this] { return now_; },
                [this](std::string_view text) { events_.emplace_back(text); }) {
        auto image = std::make_unique<userdb::MemoryRecords>();
        image_ = image.get();
        for (std::size_t i = 0; i < records.size(); ++i) image->Write(i, records[i]);
        {
            ServerLockGuard lock;
            chat_.RegisteredUsers.Load(std::move(image), records);
        }
        chat::CreateSystemRooms(chat_);
    }
    ~FakeChat() {
        for (auto& client : clients_) {
            if (client->online) chat::Disconnected(chat_, client->user);
        }
    }

    chat::ChatState& chat() { return chat_; }
    double& now() { return now_; }
    std::vector<std::string>& events() { return events_; }
    // The bytes the user database file would hold.
    const std::string& udbImage() const { return image_->bytes(); }

    // Connects a new client from `hostOrderAddress`; its index is returned.
    // A refused client has left again when this returns.
    std::size_t Connect(std::uint32_t hostOrderAddress = 0x7F000001) {
        const std::size_t index = clients_.size();
        clients_.push_back(std::make_unique<FakeClient>(index + 1, static_cast<int>(index + 5),
                                                        hostOrderAddress));
        FakeClient& client = *clients_.back();
        client.online = chat::Connect(chat_, client.user);
        return index;
    }

    // The client's message (terminator removed) is handled; a client that
    // the server disconnected meanwhile then leaves, as its thread would.
    void Send(std::size_t index, std::string_view message) {
        FakeClient& client = *clients_.at(index);
        if (!client.online) return;
        {
            ServerLockGuard lock;
            commands::HandleMessage(chat_, client.user, message);
        }
        Settle();
    }

    // A chunk of bytes arrives, as from one receive: every whole message in
    // it is handled, even after the connection was ended meanwhile.
    void Receive(std::size_t index, std::string_view chunk) {
        FakeClient& client = *clients_.at(index);
        if (!client.online) return;
        client.received.Feed(chunk);
        while (auto message = client.received.Next()) {
            ServerLockGuard lock;
            commands::HandleMessage(chat_, client.user, *message);
        }
        if (client.received.Overflowed()) client.wire.Disconnect();
        Settle();
    }

    // The peer closes its end.
    void Close(std::size_t index) {
        FakeClient& client = *clients_.at(index);
        client.wire.Disconnect();
        Settle();
    }

    // Every client the server has disconnected leaves.
    void Settle() {
        for (auto& client : clients_) {
            if (client->online && client->wire.Closed()) {
                client->online = false;
                chat::Disconnected(chat_, client->user);
            }
        }
    }

    std::size_t size() const { return clients_.size(); }
    FakeClient& client(std::size_t index) { return *clients_.at(index); }

private:
    double now_ = 45000.5;  // 2023-03-15, noon
    std::vector<std::string> events_;
    userdb::MemoryRecords* image_ = nullptr;  // owned by the user database
    chat::ChatState chat_;
    std::vector<std::unique_ptr<FakeClient>> clients_;
};

}  // namespace nelv::testing
