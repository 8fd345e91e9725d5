// The operator tool nelv3udb run as a child process on hand-built user database files, alone and
// beside a running server, and the server's own hold on its database file.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>
#include <vector>

#include "support/run_program.h"
#include "support/test_client.h"
#include "support/test_server.h"
#include "support/udb_image.h"

#ifndef NELV3UDB_BIN
#error "NELV3UDB_BIN must name the user database tool"
#endif

namespace nelv::test {
namespace {

constexpr std::string_view kCannotOpenLine =
    "FATAL ERROR: It was not possible to create/open the userdatabase.";

ProgramRun Tool(std::vector<std::string> args, const std::string& dir) {
    return RunProgram(NELV3UDB_BIN, std::move(args), dir);
}

RecordEntry Entry(std::string nickname, uint8_t privileged = 0) {
    RecordEntry entry;
    entry.nickname = std::move(nickname);
    entry.privileged = privileged;
    return entry;
}

TEST(UdbTool, ListsRecordsInUseAndCountsFreeSlots) {
    RecordEntry alice = Entry("Alice");
    alice.color = 0xFF8000;
    alice.registeredAt = 45000.5;  // 2023-03-15 12:00:00
    RecordEntry odd = Entry(std::string("Odd\x01", 4), 7);
    odd.enabled = 0;
    odd.loginInvisible = 2;
    odd.color = 0x123;
    odd.registeredAt = 45000.5;
    odd.lastLoginAt = 45001.25;  // 2023-03-16 06:00:00
    std::string freed = RecordImage(Entry("Gone"));
    freed[0] = 0;
    TestServer files;  // only for its directory
    files.WriteFile("NELV3SRV.UDB", RecordImage(alice) + freed + RecordImage(odd));

    ProgramRun run = Tool({"list"}, files.Dir());  // the file of the current directory
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.out,
              "0 \"Alice\" enabled=1 privileged=0 invisible=0 color=FF8000 "
              "registered=2023-03-15 12:00:00 last-login=never\n"
              "2 \"Odd\\x01\" enabled=0 privileged=1 invisible=1 color=000123 "
              "registered=2023-03-15 12:00:00 last-login=2023-03-16 06:00:00\n"
              "2 in use, 1 free\n");
    EXPECT_EQ(run.err, "");

    EXPECT_EQ(Tool({"list", "a", "b"}, files.Dir()).code, 2);
    EXPECT_EQ(Tool({"list", files.PathOf("MISSING.UDB")}, files.Dir()).code, 1);
    EXPECT_FALSE(files.FileExists("MISSING.UDB"));
}

TEST(UdbTool, SetChangesOneByteOfTheFirstMatchingRecord) {
    std::string freed = RecordImage(Entry("bob"));
    freed[0] = 0;  // a free slot keeps its old name bytes but never matches
    const std::string before = freed + RecordImage(Entry("Alice")) + RecordImage(Entry("BOB")) +
                               RecordImage(Entry("Bob"));
    TestServer files;
    files.WriteFile("NELV3SRV.UDB", before);
    const std::string path = files.PathOf("NELV3SRV.UDB");

    ProgramRun run = Tool({"set", path, "bob", "privileged", "1"}, files.Dir());
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.out, "record 2 \"BOB\": privileged 0 -> 1\n");
    std::string expected = before;
    expected[2 * 466 + 465] = 1;
    EXPECT_EQ(files.ReadFile("NELV3SRV.UDB"), expected);

    // Unknown names, wrong usage and a missing file change nothing.
    run = Tool({"set", path, "Carol", "enabled", "0"}, files.Dir());
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err, "");
    EXPECT_EQ(Tool({"set", path, "Alice", "enabled", "yes"}, files.Dir()).code, 2);
    EXPECT_EQ(Tool({"set", path, "Alice", "admin", "1"}, files.Dir()).code, 2);
    EXPECT_EQ(Tool({"set", path, "Alice"}, files.Dir()).code, 2);
    EXPECT_EQ(Tool({"set", files.PathOf("MISSING.UDB"), "Alice", "enabled", "0"}, files.Dir()).code, 1);
    EXPECT_FALSE(files.FileExists("MISSING.UDB"));
    EXPECT_EQ(files.ReadFile("NELV3SRV.UDB"), expected);
}

TEST(UdbTool, FileOfWrongSizeIsRefusedAndLeftAlone) {
    const std::string bytes = RecordImage(Entry("Alice")) + "x";
    TestServer files;
    files.WriteFile("NELV3SRV.UDB", bytes);
    for (auto args : {std::vector<std::string>{"list"},
                      std::vector<std::string>{"set", "Alice", "enabled", "0"}}) {
        ProgramRun run = Tool(args, files.Dir());
        EXPECT_EQ(run.code, 1) << args[0];
        EXPECT_NE(run.err.find("467 bytes"), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
    }
    EXPECT_EQ(files.ReadFile("NELV3SRV.UDB"), bytes);
}

TEST(UdbTool, RunningServerKeepsItsDatabaseToItself) {
    const std::string bytes = RecordImage(Entry("Alice"));
    TestServer server;
    server.SetUserDatabase(bytes);
    ASSERT_TRUE(server.Start());

    ProgramRun set = Tool({"set", "Alice", "privileged", "1"}, server.Dir());
    EXPECT_EQ(set.code, 1);
    EXPECT_NE(set.err.find("the server appears to be running"), std::string::npos) << set.err;
    EXPECT_EQ(Tool({"list"}, server.Dir()).code, 0);

    // A second server for the same directory cannot open the database.
    ProgramRun second = RunProgram(NELV3SRV_BIN, {server.Dir()}, server.Dir());
    EXPECT_EQ(second.code, 1) << second.out;
    EXPECT_NE(second.out.find(std::string(kCannotOpenLine) + "\n"), std::string::npos) << second.out;
    EXPECT_EQ(second.out.find(kRunningLine), std::string::npos) << second.out;

    TestClient client;
    EXPECT_TRUE(client.ConnectAndGreet(server.Port()));
    EXPECT_EQ(server.ReadFile("NELV3SRV.UDB"), bytes);

    // Once the server has ended the file is free again.
    client.Close();
    server.Signal(SIGTERM);
    ASSERT_EQ(server.WaitForExit(), 0);
    EXPECT_EQ(Tool({"set", "Alice", "privileged", "1"}, server.Dir()).code, 0);
    EXPECT_EQ(server.ReadFile("NELV3SRV.UDB"), RecordImage(Entry("Alice", 1)));
}

constexpr std::size_t kRecordSize = 466;

// Every sub-command in turn on one file: what it prints, its exit code, and
// the file's records afterwards (letter case ignored, the first match wins).
TEST(UdbTool, EverySubCommandInTurn) {
    std::string gone = RecordImage(Entry("Gone"));
    gone[0] = 0;
    TestServer files;
    files.WriteFile("NELV3SRV.UDB", RecordImage(Entry("Alice")) + gone + RecordImage(Entry("Bob")));
    struct Step {
        std::vector<std::string> args;
        int code;
        std::string out;  // what stdout must contain ("" when it must be empty)
        std::string list;  // the `list` names afterwards, comma-separated
    };
    const Step steps[] = {
        {{"add", "Carol", "--password", "7", "--color", "00ff00", "--privileged"}, 0, "record 1 \"Carol\" added",
         "Alice,Carol,Bob"},
        {{"add", "carol", "--password", "7"}, 1, "", "Alice,Carol,Bob"},          // registered already
        {{"add", "Two words", "--password", "7"}, 1, "", "Alice,Carol,Bob"},      // no valid nickname
        {{"add", "Dave", "--password", "x7"}, 1, "", "Alice,Carol,Bob"},          // not a number
        {{"add", "Dave"}, 2, "", "Alice,Carol,Bob"},                              // no password
        {{"add", "Dave", "--password", "$1F"}, 0, "record 3 \"Dave\" added", "Alice,Carol,Bob,Dave"},
        {{"show", "CAROL"}, 0, "colour:      00FF00\ninvisible:   off", ""},
        {{"show", "dave"}, 0, "password:    31\n", ""},
        {{"passwd", "alice", "42"}, 0, "record 0 \"Alice\": password changed", ""},
        {{"passwd", "alice", "042x"}, 1, "", ""},
        {{"passwd", "Nobody", "1"}, 1, "", ""},
        {{"color", "bob", "ABCDEF"}, 0, "colour ABCDEF", ""},
        {{"color", "bob", "blue"}, 1, "", ""},
        {{"set", "bob", "enabled", "off"}, 0, "enabled 1 -> 0", ""},
        {{"set", "bob", "enabled", "off"}, 0, "unchanged; nothing written", ""},
        {{"set", "bob", "enabled", "maybe"}, 2, "", ""},
        {{"free", "carol"}, 0, "record 1 \"Carol\": freed", "Alice,Bob,Dave"},
        {{"show", "Carol"}, 1, "", ""},
        {{"check"}, 0, "4 records, 3 in use, 1 free: sound", ""},
        {{"show"}, 2, "", ""},  // no nickname: wrong usage, not a crash
    };
    for (const Step& step : steps) {
        ProgramRun run = Tool(step.args, files.Dir());
        std::string what = step.args[0] + (step.args.size() > 1 ? " " + step.args[1] : "");
        EXPECT_EQ(run.code, step.code) << what << "\n" << run.out << run.err;
        if (step.out.empty()) {
            EXPECT_EQ(run.out, "") << what;
        } else {
            EXPECT_NE(run.out.find(step.out), std::string::npos) << what << "\n" << run.out;
        }
        if (step.list.empty()) continue;
        std::string names;
        for (std::string line : std::vector<std::string>{Tool({"list"}, files.Dir()).out}) {
            for (std::size_t at = 0; (at = line.find(" \"", at)) != std::string::npos; at += 2) {
                const std::size_t end = line.find('"', at + 2);
                names += (names.empty() ? "" : ",") + line.substr(at + 2, end - at - 2);
            }
        }
        EXPECT_EQ(names, step.list) << what;
    }
    // The password and colour reached the file as the server reads them.
    RecordEntry alice = Entry("Alice");
    alice.password = 42;
    EXPECT_EQ(files.ReadFile("NELV3SRV.UDB")->substr(0, kRecordSize), RecordImage(alice));
}

TEST(UdbTool, CheckReportsDamage) {
    RecordEntry bad = Entry("Bad");
    bad.enabled = 7;
    std::string image = RecordImage(Entry("Twin")) + RecordImage(Entry("TWIN")) + RecordImage(bad);
    image[2 * kRecordSize + 187] = static_cast<char>(255);  // profile 3 at its longest: fine
    image[2 * kRecordSize + 25] = static_cast<char>(81);    // profile 1 one too long
    TestServer files;
    files.WriteFile("NELV3SRV.UDB", image);
    ProgramRun run = Tool({"check"}, files.Dir());
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(run.out,
              "record 1: nickname \"TWIN\" is that of record 0 too (only the first one can log in)\n"
              "record 2: profile 1 length 81 is over 80\n"
              "record 2: enabled flag is 7, not 0 or 1\n"
              "3 records, 3 in use, 0 free: 3 problems\n");
    files.WriteFile("NELV3SRV.UDB", image + "x");
    run = Tool({"check"}, files.Dir());
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.out.find("1399 bytes, not a whole number"), std::string::npos) << run.out;
    EXPECT_EQ(files.ReadFile("NELV3SRV.UDB"), image + "x");
}

}  // namespace
}  // namespace nelv::test
