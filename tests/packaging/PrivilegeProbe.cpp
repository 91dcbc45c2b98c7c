// A GTK module, as any user may name one in GTK_MODULES: loaded into the
// program, it asks the kernel for a new network interface over route
// netlink, which needs CAP_NET_ADMIN. It writes what the kernel answered to
// the file VASKOR_PROBE_OUT names: "refused EPERM", or "granted ...".

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

struct NewLink {
    nlmsghdr header;
    ifinfomsg info;
    char attributes[128];
};

void addAttribute(NewLink& message, unsigned short type, const void* data, std::size_t length) {
    auto* attribute = reinterpret_cast<rtattr*>(reinterpret_cast<char*>(&message) +
                                                NLMSG_ALIGN(message.header.nlmsg_len));
    attribute->rta_type = type;
    attribute->rta_len = static_cast<unsigned short>(RTA_LENGTH(length));
    std::memcpy(RTA_DATA(attribute), data, length);
    message.header.nlmsg_len =
        NLMSG_ALIGN(message.header.nlmsg_len) + RTA_ALIGN(attribute->rta_len);
}

// 0 when the kernel made the interface, else its errno.
int askForInterface() {
    int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0)
        return errno;
    NewLink message{};
    message.header.nlmsg_len = NLMSG_LENGTH(sizeof(ifinfomsg));
    message.header.nlmsg_type = RTM_NEWLINK;
    message.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_ACK | NLM_F_CREATE | NLM_F_EXCL;
    message.info.ifi_family = AF_UNSPEC;
    addAttribute(message, IFLA_IFNAME, "vkprobe0", 9);
    auto* linkInfo = reinterpret_cast<rtattr*>(reinterpret_cast<char*>(&message) +
                                               NLMSG_ALIGN(message.header.nlmsg_len));
    linkInfo->rta_type = IFLA_LINKINFO;
    message.header.nlmsg_len = NLMSG_ALIGN(message.header.nlmsg_len) + RTA_LENGTH(0);
    addAttribute(message, IFLA_INFO_KIND, "dummy", 6);
    linkInfo->rta_len =
        static_cast<unsigned short>(reinterpret_cast<char*>(&message) + message.header.nlmsg_len -
                                    reinterpret_cast<char*>(linkInfo));
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (sendto(fd, &message, message.header.nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel),
               sizeof kernel) < 0) {
        int error = errno;
        close(fd);
        return error;
    }
    char answer[512];
    ssize_t length = recv(fd, answer, sizeof answer, 0);
    close(fd);
    auto* header = reinterpret_cast<nlmsghdr*>(answer);
    if (length < static_cast<ssize_t>(NLMSG_LENGTH(sizeof(nlmsgerr))) ||
        header->nlmsg_type != NLMSG_ERROR)
        return EPROTO;
    return -static_cast<nlmsgerr*>(NLMSG_DATA(header))->error;
}

__attribute__((constructor)) void probe() {
    const char* out = std::getenv("VASKOR_PROBE_OUT");
    if (out == nullptr)
        return;
    int error = askForInterface();
    if (FILE* file = std::fopen(out, "w")) {
        if (error == EPERM)
            std::fprintf(file, "refused EPERM\n");
        else
            std::fprintf(file, "granted (kernel answered %d: %s)\n", error, std::strerror(error));
        std::fclose(file);
    }
}

} // namespace

extern "C" __attribute__((visibility("default"))) void gtk_module_init(int*, char***) {}
