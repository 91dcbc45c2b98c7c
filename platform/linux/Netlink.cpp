#include "platform/linux/Netlink.h"

#include <cerrno>
#include <net/if.h>
#include <netlink/errno.h>
#include <netlink/netlink.h>
#include <netlink/route/link.h>

namespace {

int keepKernelError(sockaddr_nl*, nlmsgerr* answer, void* kernelError) {
    *static_cast<int*>(kernelError) = -answer->error;
    return NL_STOP;
}

struct CacheDeleter {
    void operator()(nl_cache* cache) const { nl_cache_free(cache); }
};

LinkSummary summarise(rtnl_link* link) {
    LinkSummary summary;
    summary.index = static_cast<std::uint32_t>(rtnl_link_get_ifindex(link));
    if (const char* name = rtnl_link_get_name(link))
        summary.name = name;
    if (const char* alias = rtnl_link_get_ifalias(link))
        summary.alias = alias;
    if (const char* kind = rtnl_link_get_type(link))
        summary.kind = kind;
    return summary;
}

} // namespace

int errnoFromNetlinkError(int nlError) {
    switch (nlError < 0 ? -nlError : nlError) {
    case 0:
        return 0;
    case NLE_NOMEM:
        return ENOMEM;
    case NLE_PERM:
        return EPERM;
    case NLE_EXIST:
        return EEXIST;
    case NLE_OBJ_NOTFOUND:
        return ENOENT;
    case NLE_NODEV:
        return ENODEV;
    case NLE_INVAL:
    case NLE_RANGE:
        return EINVAL;
    case NLE_BUSY:
        return EBUSY;
    case NLE_AGAIN:
        return EAGAIN;
    case NLE_OPNOTSUPP:
        return EOPNOTSUPP;
    case NLE_NOACCESS:
        return EACCES;
    case NLE_AF_NOSUPPORT:
        return EAFNOSUPPORT;
    default:
        return EIO;
    }
}

void LinkDeleter::operator()(rtnl_link* link) const {
    rtnl_link_put(link);
}

NetlinkSocket::NetlinkSocket() {
    socket = nl_socket_alloc();
    if (socket == nullptr) {
        openError = ENOMEM;
        return;
    }
    if (int rc = nl_connect(socket, NETLINK_ROUTE); rc < 0) {
        openError = errnoFromNetlinkError(rc);
        nl_socket_free(socket);
        socket = nullptr;
    }
}

NetlinkSocket::~NetlinkSocket() {
    if (socket != nullptr)
        nl_socket_free(socket);
}

int NetlinkSocket::request(nl_msg* message) {
    if (openError != 0) {
        nlmsg_free(message);
        return openError;
    }
    int kernelError = 0;
    nl_socket_modify_err_cb(socket, NL_CB_CUSTOM, keepKernelError, &kernelError);
    int rc = nl_send_auto(socket, message);
    nlmsg_free(message);
    if (rc < 0)
        return errnoFromNetlinkError(rc);
    rc = nl_wait_for_ack(socket);
    if (kernelError != 0)
        return kernelError;
    return rc < 0 ? errnoFromNetlinkError(rc) : 0;
}

int listLinks(std::vector<LinkSummary>& links) {
    NetlinkSocket netlink;
    if (netlink.error() != 0)
        return netlink.error();
    nl_cache* raw = nullptr;
    if (int rc = rtnl_link_alloc_cache(netlink.get(), AF_UNSPEC, &raw); rc < 0)
        return errnoFromNetlinkError(rc);
    std::unique_ptr<nl_cache, CacheDeleter> cache(raw);
    links.clear();
    for (nl_object* object = nl_cache_get_first(raw); object != nullptr;
         object = nl_cache_get_next(object))
        links.push_back(summarise(reinterpret_cast<rtnl_link*>(object)));
    return 0;
}

int readLink(std::uint32_t index, LinkSummary& link) {
    NetlinkSocket netlink;
    if (netlink.error() != 0)
        return netlink.error();
    rtnl_link* raw = nullptr;
    if (int rc = rtnl_link_get_kernel(netlink.get(), static_cast<int>(index), nullptr, &raw);
        rc < 0)
        return rc == -NLE_OBJ_NOTFOUND ? ENODEV : errnoFromNetlinkError(rc);
    LinkPointer owned(raw);
    link = summarise(raw);
    return 0;
}

int changeLink(std::uint32_t index, const std::function<void(rtnl_link& changes)>& edit) {
    NetlinkSocket netlink;
    if (netlink.error() != 0)
        return netlink.error();
    rtnl_link* original = nullptr;
    if (int rc = rtnl_link_get_kernel(netlink.get(), static_cast<int>(index), nullptr, &original);
        rc < 0)
        return rc == -NLE_OBJ_NOTFOUND ? ENODEV : errnoFromNetlinkError(rc);
    LinkPointer ownedOriginal(original);
    LinkPointer changes(rtnl_link_alloc());
    if (!changes)
        return ENOMEM;
    edit(*changes);
    nl_msg* message = nullptr;
    if (int rc = rtnl_link_build_change_request(original, changes.get(), 0, &message); rc < 0)
        return errnoFromNetlinkError(rc);
    return netlink.request(message);
}

int setLinkUp(std::uint32_t index) {
    return changeLink(index, [](rtnl_link& changes) { rtnl_link_set_flags(&changes, IFF_UP); });
}

int deleteLink(std::uint32_t index) {
    NetlinkSocket netlink;
    if (netlink.error() != 0)
        return netlink.error();
    LinkPointer link(rtnl_link_alloc());
    if (!link)
        return ENOMEM;
    rtnl_link_set_ifindex(link.get(), static_cast<int>(index));
    nl_msg* message = nullptr;
    if (int rc = rtnl_link_build_delete_request(link.get(), &message); rc < 0)
        return errnoFromNetlinkError(rc);
    return netlink.request(message);
}
