#include "tun/HelperLink.h"
#include "tun/HelperReceive.h"

#include "interfaces/WintunTypes.h"
#include "platform/linux/HelperProcess.h"
#include "tun/Logger.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/socket.h>
#include <sys/syscall.h>

#ifndef VASKOR_ADAPTER_HELPER_PATH
#error "VASKOR_ADAPTER_HELPER_PATH names the installed adapter helper"
#endif

namespace {

constexpr int networkAdminBit = CAP_NET_ADMIN;
// The helper answers at once; a helper that hangs must not hold the run forever.
constexpr int replyTimeLimitMs = 10000;

// The installed helper; VASKOR_ADAPTER_HELPER names another (the build's own,
// in tests). This process holds no privilege for the choice to matter.
const char* helperPath() {
    const char* chosen = std::getenv("VASKOR_ADAPTER_HELPER");
    return chosen != nullptr && *chosen != '\0' ? chosen : VASKOR_ADAPTER_HELPER_PATH;
}

int startFailure(int spawnError) {
    switch (spawnError) {
    case ENOENT:
    case ENOTDIR:
        return static_cast<int>(wintunHelperMissing);
    case EACCES:
    case EPERM:
        return static_cast<int>(wintunHelperNotAllowed);
    default:
        return spawnError;
    }
}

const char* startFailureText(int code) {
    if (code == static_cast<int>(wintunHelperMissing))
        return "The adapter helper is not installed";
    if (code == static_cast<int>(wintunHelperNotAllowed))
        return "This user may not start the adapter helper";
    return "Failed to start the adapter helper";
}

} // namespace

bool holdsNetworkAdmin() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct sets[_LINUX_CAPABILITY_U32S_3]{};
    if (::syscall(SYS_capget, &header, sets) != 0)
        return false;
    return (sets[networkAdminBit / 32].effective >> (networkAdminBit % 32)) & 1;
}

HelperLink::HelperLink(pid_t child, UniqueDescriptor socket)
    : child(child), socket(std::move(socket)) {}

HelperLink::~HelperLink() {
    socket.reset();
    queue.reset();
    childExitStatus(child);
}

int HelperLink::createAdapter(const AdapterIdentity& identity,
                              std::unique_ptr<WintunAdapterRecord>& created) {
    auto message = encodeHelperCreate(identity);
    if (!message)
        return EINVAL;
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0)
        return errno;
    UniqueDescriptor ours(pair[0]);
    UniqueDescriptor theirs(pair[1]);
    pid_t child = 0;
    if (int rc = startHelper(helperPath(), theirs.get(), child); rc != 0) {
        int code = startFailure(rc);
        logFailure(startFailureText(code), code);
        return code;
    }
    theirs.reset();
    std::shared_ptr<HelperLink> link(new HelperLink(child, std::move(ours)));
    HelperReply reply;
    UniqueDescriptor queue;
    if (int rc = link->exchange(*message, reply, &queue); rc != 0)
        return rc;
    if (reply.error != 0) {
        // The helper answers EPERM when it was not given CAP_NET_ADMIN.
        int code = reply.error == EPERM ? static_cast<int>(wintunHelperUnprivileged) : reply.error;
        logFailure("The adapter helper refused: " + reply.text, code);
        return code;
    }
    if (queue.get() < 0 || reply.index == 0 || reply.text.empty()) {
        logFailure("The adapter helper gave no interface", EPROTO);
        return EPROTO;
    }
    link->queue = std::move(queue);
    link->interfaceName = reply.text;
    created = std::make_unique<WintunAdapterRecord>(
        WintunAdapterRecord{identity, reply.text, reply.index, link});
    return 0;
}

int HelperLink::exchange(const std::vector<std::uint8_t>& message, HelperReply& reply,
                         UniqueDescriptor* received) {
    if (socket.get() < 0)
        return ENODEV;
    if (send(socket.get(), message.data(), message.size(), MSG_NOSIGNAL) < 0)
        return logFailure("The adapter helper is gone", errno);
    ReceivedReply answer;
    switch (const int rc = receiveHelperReply(socket.get(), replyTimeLimitMs, answer)) {
    case 0:
        break;
    case ETIMEDOUT:
        return logFailure("The adapter helper does not answer", rc);
    case EPROTO:
        return logFailure("The adapter helper's answer is malformed", rc);
    default:
        return logFailure("The adapter helper ended", rc);
    }
    reply = std::move(answer.reply);
    if (received != nullptr)
        *received = std::move(answer.handed);
    return 0;
}

int HelperLink::request(HelperInterfaceRequest request) {
    std::lock_guard guard(lock);
    request.interfaceName = interfaceName;
    auto message = encodeHelperRequest(request);
    if (!message)
        return logFailure("Invalid request for the adapter helper", EINVAL);
    HelperReply reply;
    if (int rc = exchange(*message, reply, nullptr); rc != 0)
        return rc;
    if (reply.error != 0)
        return logFailure("The adapter helper refused: " + reply.text, reply.error);
    return 0;
}

int HelperLink::startSession(UniqueDescriptor& session) {
    {
        std::lock_guard guard(lock);
        if (sessionOpen)
            return EBUSY;
        if (queue.get() < 0)
            return ENODEV;
        UniqueDescriptor copy(fcntl(queue.get(), F_DUPFD_CLOEXEC, 0));
        if (copy.get() < 0)
            return errno;
        int flags = fcntl(copy.get(), F_GETFL);
        if (flags < 0 || fcntl(copy.get(), F_SETFL, flags | O_NONBLOCK) < 0)
            return errno;
        session = std::move(copy);
        sessionOpen = true;
    }
    if (int rc = request({HelperRequestKind::up, {}, 0, 0, 0}); rc != 0) {
        endSession();
        session.reset();
        return rc;
    }
    return 0;
}

void HelperLink::endSession() {
    std::lock_guard guard(lock);
    sessionOpen = false;
}

int HelperLink::removeAdapter(bool forceCloseSessions) {
    {
        std::lock_guard guard(lock);
        if (sessionOpen && !forceCloseSessions)
            return EBUSY;
    }
    int rc = request({HelperRequestKind::remove, {}, 0, 0, 0});
    std::lock_guard guard(lock);
    queue.reset();
    return rc;
}
