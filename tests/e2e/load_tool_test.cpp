// nelv3load against the real server: short fanout and rooms runs in which
// every text must reach every member of its room exactly once, a port where
// nobody listens, and wrong usage; and one short nelv3attack run.
#include <string>
#include <vector>

#include "support/run_program.h"
#include "support/test_server.h"

#if !defined(NELV3LOAD_BIN) || !defined(NELV3ATTACK_BIN)
#error "NELV3LOAD_BIN and NELV3ATTACK_BIN must name the load and attack tools"
#endif

namespace nelv::test {
namespace {

TEST(LoadTool, EveryDeliveryArrivesAndFailuresShowInTheExitStatus) {
    TestServer server;
    ASSERT_TRUE(server.Start());
    const std::string port = std::to_string(server.Port());
    const std::string pid = std::to_string(server.Pid());
    const std::string nobody = std::to_string(PickFreePort());
    struct Case {
        std::vector<std::string> args;
        int code;
        std::vector<std::string> wanted;  // in the RESULT line
        const char* program = NELV3LOAD_BIN;
    };
    const Case cases[] = {
        // 3 senders x 200 texts, each to all 20 members, the sender included.
        {{"--scenario", "fanout", "--clients", "20", "--senders", "3", "--messages", "200", "--window", "8",
          "--port", port, "--server-pid", pid, "--nick-prefix", "f"},
         0, {"status=ok", " deliveries=12000 ", " missing=0 ", " srv_us_per_delivery="}},
        // Rooms of 7, 7 and 6 members, each member says 50 texts: (49 + 49 + 36) x 50.
        {{"--scenario", "rooms", "--clients", "20", "--rooms", "3", "--messages", "50", "--window", "4",
          "--port", port, "--nick-prefix", "r", "--room-prefix", "R"},
         0, {"status=ok", " deliveries=6700 ", " missing=0 ", " duplicated=0 ", " reordered=0 ", " unexpected=0 "}},
        {{"--clients", "3", "--port", nobody}, 1, {"status=fail", " lost=0 "}},
        {{"--port", port, "--bogus"}, 2, {}},
        // 40 connections from one address: 32 are let in; the probe and ten other addresses still are.
        {{"--scenario", "flood", "--clients", "40", "--port", port, "--pid", pid, "--settle", "0.2"},
         0, {"status=ok", " newcomers=10/10 ", " admitted=32 refused=8 ", " probe_lost=0 ", " peak_rss_kb="},
         NELV3ATTACK_BIN},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--timeout", "60"});
        const ProgramRun run = RunProgram(c.program, args, server.Dir(), Duration{90000});
        std::string context;
        for (const std::string& arg : c.args) context += arg + " ";
        EXPECT_EQ(run.code, c.code) << context << "\n" << run.out << run.err;
        if (c.wanted.empty()) continue;
        // The last line is the result.
        const std::size_t last = run.out.rfind('\n', run.out.size() - 2);
        const std::string result = run.out.substr(last == std::string::npos ? 0 : last + 1);
        ASSERT_TRUE(result.starts_with("RESULT ")) << context << "\n" << run.out;
        for (const std::string& wanted : c.wanted) EXPECT_NE(result.find(wanted), std::string::npos) << context << wanted << "\n" << result;
    }
}

}  // namespace
}  // namespace nelv::test
