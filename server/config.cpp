#include "server/config.h"

#include "base/names.h"

namespace nelv::server {

ServerConfig ReadConfig(const IniFile& ini) {
    ServerConfig c;
    c.ChatName = ini.GetString("General", "Chatname", "My NELV Chat");
    c.ChatPort = static_cast<std::uint16_t>(ini.GetInteger("General", "Port", 1995));
    c.ChatBindTo = ini.GetString("General", "BindTo", "*");
    c.MaxUserRooms = ini.GetInteger("General", "Maximum number of user rooms", -1);
    c.CuiFileName = ini.GetString("General", "CUI file", "");
    c.SystemRoomLines = ini.SectionLines("System rooms");
    c.OnlyRegisteredUsers = ini.GetBool("Users", "Only registered users", false);
    c.MaxUsers = ini.GetInteger("Users", "Maximum number of users", 0);
    c.MaxConnectionsPerAddress = ini.GetInteger("Users", "Maximum number of connections per address", 32);
    c.RegistrationPassword = ini.GetInteger("Users", "Registration password", 0);
    c.UsersIPList = SplitRuleList(ini.GetString("Users", "IPList", ""));
    c.TimeoutMinutes = ini.GetInteger("Users", "Timeout", 15);
    c.WebPort = static_cast<std::uint16_t>(ini.GetInteger("Web", "Port", 0));
    c.WebBindTo = ini.GetString("Web", "BindTo", "*");
    c.WebAllowedOrigins = SplitRuleList(ini.GetString("Web", "Allowed origins", ""));
    c.WebTrustedProxies = SplitRuleList(ini.GetString("Web", "Trusted proxies", ""));
    c.WebRoot = ini.GetString("Web", "Web root", "");
    c.BannerUpdateInterval = ini.GetInteger("Banners", "Update interval", 0);
    c.BannerLines = ini.SectionLines("Banners");
    for (auto it = c.BannerLines.begin(); it != c.BannerLines.end(); ++it) {
        if (SameName(it->substr(0, it->find('=')), "Update interval")) {
            c.BannerLines.erase(it);
            break;
        }
    }
    return c;
}

}  // namespace nelv::server
