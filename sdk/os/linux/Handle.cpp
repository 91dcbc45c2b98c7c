#include "sdk/os/Handle.h"

#include <unistd.h>

namespace sdk::os {

void closeHandle(Handle handle) {
    ::close(static_cast<int>(handle));
}

} // namespace sdk::os
