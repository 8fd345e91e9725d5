// NELV 3-Server: a multi-user text chat server.
#include <CLI/CLI.hpp>

#include <string>

#include "tools/command_line.h"
#include "server/startup.h"

int main(int argc, char** argv) {
    CLI::App app{"NELV 3-Server: a multi-user text chat server for the NELV 3 chat clients.\n"
                 "Reads NELV3SRV.INI, WELCOME.TXT and NELV3SRV.UDB from the data directory and\n"
                 "writes its event log there. Stop it with Ctrl+C or SIGTERM.",
                 "nelv3srv"};
    std::string dataDir;
    app.add_option("datadir", dataDir, "data directory (default: the executable's own)");
    if (auto code = nelv::tools::ParseCommandLine(app, "nelv3srv", argc, argv)) return *code;
    return nelv::server::RunServer(dataDir);
}
