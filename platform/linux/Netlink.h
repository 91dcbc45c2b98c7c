#pragma once

// Route netlink requests over libnl-route-3, shared by the address calls here and
// by our Wintun library. Every failure is an errno value (std::system_category
// on Linux), taken from the kernel's own answer where there is one.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct nl_sock;
struct nl_msg;
struct rtnl_link;

// One connected NETLINK_ROUTE socket. Not shared between threads: each
// operation opens its own, so callers on different threads never meet.
class NetlinkSocket {
public:
    // Throws nothing: check error() before use.
    NetlinkSocket();
    ~NetlinkSocket();
    NetlinkSocket(const NetlinkSocket&) = delete;
    NetlinkSocket& operator=(const NetlinkSocket&) = delete;

    // 0 when the socket is connected, else the errno value that prevented it.
    int error() const { return openError; }
    nl_sock* get() const { return socket; }

    // Sends a request built by a libnl *_build_*_request call (taking it over) and
    // waits for the kernel's acknowledgement. Returns 0 or the kernel's errno.
    int request(nl_msg* message);

private:
    nl_sock* socket = nullptr;
    int openError = 0;
};

// An errno value for a libnl error code (negative NLE_*), for the few failures
// that do not come with the kernel's own errno (allocation, socket, parsing).
int errnoFromNetlinkError(int nlError);

struct LinkDeleter {
    void operator()(rtnl_link* link) const;
};
using LinkPointer = std::unique_ptr<rtnl_link, LinkDeleter>;

// What the layers above need to know of one network interface.
struct LinkSummary {
    std::uint32_t index = 0;
    std::string name;
    std::string alias; // IFLA_IFALIAS, empty when none
    std::string kind;  // IFLA_INFO_KIND ("tun", "dummy", ...), empty when none
};

// Lists the interfaces of the calling thread's network namespace.
// Returns 0 or an errno value.
int listLinks(std::vector<LinkSummary>& links);

// Reads one interface by index. Returns 0, ENODEV, or another errno value.
int readLink(std::uint32_t index, LinkSummary& link);

// Changes attributes of the interface: edit sets them on a fresh change object.
int changeLink(std::uint32_t index, const std::function<void(rtnl_link& changes)>& edit);

// Sets IFF_UP on the interface.
int setLinkUp(std::uint32_t index);

// Removes the interface from the system.
int deleteLink(std::uint32_t index);
