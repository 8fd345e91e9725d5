#include "base/server_lock.h"

namespace nelv {
ServerLockType ServerLock;
}
