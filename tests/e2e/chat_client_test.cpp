// nelv3chat driven through its standard input against the real server: two
// clients talk in a room, a private message arrives, refusals come in words.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/test_client.h"
#include "support/test_server.h"

#ifndef NELV3CHAT_BIN
#error "NELV3CHAT_BIN must name the chat client"
#endif

namespace nelv::test {
namespace {

// The client as a child process: lines in, output lines collected.
class ChatProcess {
public:
    explicit ChatProcess(uint16_t port) {
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) return;
        const std::string portText = std::to_string(port);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(in[0], 0);
            ::dup2(out[1], 1);
            ::dup2(out[1], 2);
            ::setenv("LC_ALL", "C.UTF-8", 1);  // a UTF-8 terminal, as most are
            ::execl(NELV3CHAT_BIN, NELV3CHAT_BIN, "--port", portText.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        in_ = in[1];
        out_ = out[0];
    }
    ~ChatProcess() {
        CloseInput();
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) ::close(out_);
    }

    void Type(std::string_view line) {
        std::string bytes(line);
        bytes += '\n';
        ASSERT_EQ(::write(in_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    void CloseInput() {
        if (in_ >= 0) ::close(in_);
        in_ = -1;
    }

    // Waits until a line equal to `line` has been printed.
    ::testing::AssertionResult WaitForLine(std::string_view line, Duration timeout = kDefaultTimeout) {
        const auto deadline = Clock::now() + timeout;
        for (;;) {
            for (const std::string& seen : Lines()) {
                if (seen == line) return ::testing::AssertionSuccess();
            }
            if (!ReadMore(deadline)) return ::testing::AssertionFailure() << "no line \"" << line << "\" in:\n" << text_;
        }
    }
    // Waits for the process to end by itself; its exit code.
    int WaitForExit(Duration timeout = kDefaultTimeout) {
        const auto deadline = Clock::now() + timeout;
        while (ReadMore(deadline)) {
        }
        int status = 0;
        while (::waitpid(pid_, &status, WNOHANG) == 0) {
            if (Clock::now() >= deadline) return -1;  // still running; the destructor kills it
            ::poll(nullptr, 0, 5);
        }
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        std::size_t start = 0;
        for (std::size_t end; (end = text_.find('\n', start)) != std::string::npos; start = end + 1) {
            lines.push_back(text_.substr(start, end - start));
        }
        return lines;
    }
    const std::string& Text() const { return text_; }

private:
    bool ReadMore(Clock::time_point deadline) {
        auto left = std::chrono::duration_cast<Duration>(deadline - Clock::now()).count();
        pollfd p{out_, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) return false;
        char chunk[4096];
        ssize_t n = ::read(out_, chunk, sizeof chunk);
        if (n <= 0) return false;
        text_.append(chunk, static_cast<std::size_t>(n));
        return true;
    }

    pid_t pid_ = -1;
    int in_ = -1, out_ = -1;
    bool exited_ = false;
    std::string text_;
};

TEST(ChatClient, TwoClientsTalkAndRefusalsComeInWords) {
    TestServer server;
    ASSERT_TRUE(server.Start());
    ChatProcess bob(server.Port());
    bob.Type("/nick Bob");
    bob.Type("/join Lounge");
    bob.Type("/set Lounge limit 2");
    ASSERT_TRUE(bob.WaitForLine("* Bob changed Lounge: topic \"\", colour FFFFFF, limit 2"));

    ChatProcess alice(server.Port());
    for (const char* line : {"/nick Bob", "/nick Alice", "/join lounge", "hello there", "/msg bob psst",
                             "/set Lounge limit 1", "/whois Nobody", "/kill Bob"}) {
        alice.Type(line);
    }
    ASSERT_TRUE(alice.WaitForLine("! kill refused: you are not permitted to"));
    EXPECT_EQ(alice.Lines(), (std::vector<std::string>{
                                 "* connected; the server speaks version 3.263",
                                 "! login refused: the nickname is in use",
                                 "* Alice is online",
                                 "* you are Alice now",
                                 "* you are in Lounge now",
                                 "* Bob is in Lounge (owner)",
                                 "* Alice joined Lounge",
                                 "[Lounge] <Alice> hello there",
                                 "-> *bob* psst",
                                 "! settings refused: you are not permitted to (Lounge)",
                                 "! whois refused: no such user Nobody",
                                 "! kill refused: you are not permitted to",
                             }));
    EXPECT_TRUE(bob.WaitForLine("[Lounge] <Alice> hello there"));
    EXPECT_TRUE(bob.WaitForLine("*Alice* psst"));

    // A script: it ends once everything it sent is answered.
    ChatProcess carol(server.Port());
    carol.Type("/nick Carol");
    carol.Type("/join Lounge");
    carol.CloseInput();
    EXPECT_EQ(carol.WaitForExit(), 0);
    EXPECT_TRUE(carol.WaitForLine("! join refused: the room is full (Lounge)")) << carol.Text();
    EXPECT_TRUE(bob.WaitForLine("* Carol could not join Lounge"));

    alice.CloseInput();
    EXPECT_EQ(alice.WaitForExit(), 0);
    EXPECT_TRUE(bob.WaitForLine("* Alice left Lounge"));
    EXPECT_TRUE(bob.WaitForLine("* Alice went offline"));
    server.Signal(SIGTERM);
    EXPECT_TRUE(bob.WaitForLine("! disconnected by the server: the server shuts down"));
    EXPECT_EQ(bob.WaitForExit(), 0);
}

TEST(ChatClient, ConvertsBetweenTheTerminalsCharacterSetAndWindows1252) {
    TestServer server;
    ASSERT_TRUE(server.Start());
    TestClient wire;
    ASSERT_TRUE(wire.ConnectAndGreet(server.Port()));
    ASSERT_TRUE(wire.LoginAsGuest("Wire"));
    ChatProcess alice(server.Port());
    alice.Type("/nick Alice");
    alice.Type("/msg Wire grüße, café 5€ 日");
    bool converted = false;
    while (auto message = wire.Next()) {
        if (message->find("\x01gr") == std::string::npos) continue;  // the private message
        converted = message->find("gr\xFC\xDF" "e, caf\xE9 5\x80 ?") != std::string::npos;
        EXPECT_TRUE(converted) << Escape(*message);
        break;
    }
    EXPECT_TRUE(converted);
    ASSERT_TRUE(wire.Send(24, 0, Fields({"Alice", "\x91" "danke\x92 \xB5"})));
    EXPECT_TRUE(alice.WaitForLine("*Wire* ‘danke’ µ")) << alice.Text();
}

}  // namespace
}  // namespace nelv::test
