#include "server/startup.h"

#if NELV_HAVE_SYSTEMD
#include <systemd/sd-daemon.h>
#endif

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <memory>

#include "base/clock.h"
#include "base/console.h"
#include "chat/server_config.h"
#include "chat/chat_state.h"
#include "chat/room.h"
#include "net/listener.h"
#include "net/event_loop.h"
#include "net/web_wire.h"
#include "server/chat_socket.h"
#include "server/config.h"
#include "server/event_log.h"
#include "server/ini.h"
#include "server/maintenance.h"
#include "userdb/user_database.h"

namespace nelv::server {

void NotifyReady() {
#if NELV_HAVE_SYSTEMD
    sd_notify(0, "READY=1");  // nothing happens outside a notify service
#endif
}

void NotifyStopping() {
#if NELV_HAVE_SYSTEMD
    sd_notify(0, "STOPPING=1");
#endif
}

namespace {

// False when the file cannot be opened or a read fails (a directory, for
// instance, opens but cannot be read).
bool ReadWholeFile(const std::string& path, std::string& out) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    std::string text;
    char chunk[8192];
    ssize_t n;
    while ((n = read(fd, chunk, sizeof chunk)) != 0) {
        if (n < 0) {
            if (errno == EINTR) continue;
            close(fd);
            return false;
        }
        text.append(chunk, static_cast<std::size_t>(n));
    }
    close(fd);
    out = std::move(text);
    return true;
}

// Lets the process use as many descriptors as the system allows it.
void RaiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

sigset_t ShutdownSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGQUIT);
    return set;
}

}  // namespace

std::string ExecutableDir() {
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "./";
    std::string full(path, static_cast<std::size_t>(n));
    return full.substr(0, full.rfind('/') + 1);
}

std::string DefaultWebRoot() {
    const std::string exe = ExecutableDir();
    // Beside the program, or in the source tree when it runs from build/.
    for (const std::string& dir : {exe + "web", exe + "../web"}) {
        if (access((dir + "/index.html").c_str(), R_OK) == 0) return dir;
    }
    return NELV_WEB_DIR;
}

int RunServer(const std::string& dataDir) {
    signal(SIGPIPE, SIG_IGN);

    std::string appDir = dataDir.empty() ? ExecutableDir() : dataDir;
    if (appDir.empty()) appDir = "./";
    if (appDir.back() != '/') appDir += '/';
    EventLog eventLog(LogFileNameFor(appDir, SystemNow()), SystemNow);

    ConsoleLine("NELV 3-Server (Build " + std::to_string(protocol::kBuildNumber) + ")");
    ConsoleLine("A multi-user text chat server for the NELV 3 chat clients.");
    ConsoleLine("");
    RaiseDescriptorLimit();

    ConsoleLine("Reading configuration");
    std::string iniText;
    ReadWholeFile(appDir + "NELV3SRV.INI", iniText);
    ServerConfig config = ReadConfig(IniFile::Parse(iniText));

    std::string welcome;
    if (ReadWholeFile(appDir + "WELCOME.TXT", welcome)) {
        config.WelcomeLines = SplitTextLines(welcome);
    } else {
        ConsoleLine("WARNING: The welcome message file " + appDir + "welcome.txt couldn't be read.");
    }

    // Everything the chat knows; it outlives the loop and its connections.
    chat::ChatState chat(config, SystemNow, [&eventLog](std::string_view text) { eventLog.Write(text); });
    userdb::OpenResult opened;
    {
        ServerLockGuard lock;
        opened = chat.RegisteredUsers.Open(appDir + "NELV3SRV.UDB");
    }
    switch (opened) {
        case userdb::OpenResult::kOk:
            break;
        case userdb::OpenResult::kCannotOpen:
            ConsoleLine("FATAL ERROR: It was not possible to create/open the userdatabase.");
            return 1;
        case userdb::OpenResult::kCorrupt:
            ConsoleLine("FATAL ERROR: The user database appears to be corrupt.");
            ConsoleLine("             Please restore it from a backup or contact support.");
            return 1;
    }

    // The loop owns every socket, timer and signal from here on; it runs on
    // this thread until a shutdown has written what was left.
    net::EventLoop loop;
    net::TServer listener(loop, [&chat] { return std::make_unique<ChatSocket>(chat); });
    std::unique_ptr<net::TServer> web;
    const net::WebSettings webSettings{config.WebAllowedOrigins, config.WebTrustedProxies,
                                       config.WebRoot.empty() ? DefaultWebRoot() : config.WebRoot};
    if (config.WebPort != 0) {
        web = std::make_unique<net::TServer>(loop, [&chat] { return std::make_unique<ChatSocket>(chat); });
        web->ServeWeb(webSettings);
    }
    CuiFile cui(config.CuiFileName);
    // A shutdown signal that arrives before this ends the process the
    // default way.
    int error = loop.Error();
    if (error == 0 && !loop.OnSignals(ShutdownSignals(), [&chat, &cui, &listener, &web, &loop] {
            ShutdownHandler(chat, cui, listener, web.get(), loop);
        })) {
        error = errno;
    }
    if (error == 0) error = listener.Create(config.ChatPort, config.ChatBindTo);
    if (error != 0) {
        ConsoleLine("Chatserver could not be started (Errorcode: " + std::to_string(error) + ")");
        return 1;
    }
    if (web) {
        if (int webError = web->Create(config.WebPort, config.WebBindTo); webError != 0) {
            ConsoleLine("Web listener could not be started (Errorcode: " + std::to_string(webError) + ")");
            return 1;
        }
        ConsoleLine("Web listener is running (Port " + std::to_string(web->Port()) + ")");
    }
    chat::CreateSystemRooms(chat);
    ConsoleLine("Chatserver is running");
    NotifyReady();

    ScheduleMaintenance(loop, chat, cui);
    loop.Run();
    FlushConsole();
    return 0;
}

}  // namespace nelv::server
