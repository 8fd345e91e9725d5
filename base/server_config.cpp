#include "base/server_config.h"

namespace nelv {

ServerConfig& Config() {
    static ServerConfig config;
    return config;
}

}  // namespace nelv
