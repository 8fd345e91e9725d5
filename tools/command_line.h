// The command line of the server and the tools, parsed with CLI11 in one
// way: --help and --version print and end with 0, wrong usage says why and
// ends with 2.
#pragma once

#include <CLI/CLI.hpp>

#include <optional>
#include <string>

#include "protocol/wire.h"

namespace nelv::tools {

// "<program> <version> (NELV 3-Server, Build 263)".
inline std::string VersionText(const std::string& program) {
    return program + " " NELV_VERSION " (NELV 3-Server, Build " + std::to_string(protocol::kBuildNumber) + ")";
}

// Parses; nothing when the program should go on, else its exit code.
inline std::optional<int> ParseCommandLine(CLI::App& app, const std::string& program, int argc, char** argv) {
    app.set_version_flag("--version", VersionText(program));
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return 2;
    }
    return std::nullopt;
}

}  // namespace nelv::tools
