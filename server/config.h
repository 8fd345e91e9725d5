// Reading the settings from NELV3SRV.INI into ServerConfig. Every key has a
// default; a value that does not convert falls back to it.
#pragma once

#include "chat/server_config.h"
#include "server/ini.h"

namespace nelv::server {

// Fills every configuration member from `ini` (WelcomeLines excepted).
ServerConfig ReadConfig(const IniFile& ini);

}  // namespace nelv::server
