#include "platform/Process.h"

#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

bool isWow64Process() {
    return false;
}

// Lowering these sets needs no privilege, so neither call can be refused for
// lack of one; the program's own permitted and effective sets stay.
void keepCapabilitiesFromChildren() {
    ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct sets[_LINUX_CAPABILITY_U32S_3]{};
    if (::syscall(SYS_capget, &header, sets) != 0)
        return;
    for (auto& set : sets)
        set.inheritable = 0;
    ::syscall(SYS_capset, &header, sets);
}
