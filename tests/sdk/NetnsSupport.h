#pragma once

// Two network namespaces joined by veth links, made and removed by the test
// itself (also when the run is interrupted). Traffic stays inside them.
//
// Two links join a and b: the direct one and a second one. With impairments
// on, nftables rules in each namespace send a random half of the UDP
// datagrams over the second link (whose receive side is handled by another
// CPU, which reorders them), duplicate some and drop some on arrival.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace netnstest {

inline std::vector<std::string>& namespacesToRemove() {
    static std::vector<std::string> names;
    return names;
}

inline void removeNamespaces() {
    for (const auto& name : namespacesToRemove())
        std::system(("ip netns del " + name + " 2>/dev/null").c_str());
    namespacesToRemove().clear();
}

inline void removeOnSignal(int signal) {
    removeNamespaces();
    std::_Exit(128 + signal);
}

inline bool run(const std::string& command) {
    const int status = std::system(command.c_str());
    if (status != 0)
        ADD_FAILURE() << "command failed: " << command;
    return status == 0;
}

class NamespacePair {
public:
    static constexpr const char* addressA = "10.77.0.1";
    static constexpr const char* addressB = "10.77.0.2";

    NamespacePair() {
        const std::string id = std::to_string(getpid());
        a = "vsdka" + id;
        b = "vsdkb" + id;
        linkA = "vsa" + id;
        linkB = "vsb" + id;
        slowA = "vsc" + id;
        slowB = "vsd" + id;
        namespacesToRemove() = {a, b};
        std::signal(SIGINT, removeOnSignal);
        std::signal(SIGTERM, removeOnSignal);
        ready = run("ip netns add " + a) && run("ip netns add " + b) &&
                run("ip link add " + linkA + " netns " + a + " type veth peer name " + linkB +
                    " netns " + b) &&
                run("ip link add " + slowA + " netns " + a + " type veth peer name " + slowB +
                    " netns " + b) &&
                run("ip -n " + a + " addr add " + addressA + "/24 dev " + linkA) &&
                run("ip -n " + b + " addr add " + addressB + "/24 dev " + linkB) &&
                up(a, {"lo", linkA, slowA}) && up(b, {"lo", linkB, slowB});
    }

    ~NamespacePair() { removeNamespaces(); }

    void impair(int lossPercent, int duplicatePercent) {
        impairSide(a, linkA, slowA, addressB, lossPercent, duplicatePercent);
        impairSide(b, linkB, slowB, addressA, lossPercent, duplicatePercent);
    }

    // Runs f on a thread inside the namespace: sockets made there stay there.
    template <typename F> auto inside(const std::string& name, F f) {
        decltype(f()) result{};
        std::thread thread([&] {
            const int descriptor = open(("/var/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
            if (descriptor < 0 || setns(descriptor, CLONE_NEWNET) != 0) {
                ADD_FAILURE() << "cannot enter namespace " << name;
                return;
            }
            close(descriptor);
            result = f();
        });
        thread.join();
        return result;
    }

    std::string a, b, linkA, linkB, slowA, slowB;
    bool ready = false;

private:
    static bool up(const std::string& space, std::initializer_list<std::string> links) {
        for (const auto& link : links)
            if (!run("ip -n " + space + " link set " + link + " up"))
                return false;
        return true;
    }

    static void impairSide(const std::string& space, const std::string& link,
                           const std::string& slow, const std::string& peerAddress, int loss,
                           int duplicate) {
        const std::string exec = "ip netns exec " + space + " ";
        run("ip -n " + space + " route add " + peerAddress + " dev " + slow + " table 100");
        run("ip -n " + space + " rule add fwmark 1 table 100");
        run(exec +
            "sysctl -qw net.ipv4.conf.all.rp_filter=0 net.ipv4.conf.default.rp_filter=0 "
            "net.ipv4.conf." +
            slow + ".rp_filter=0");
        // Arrivals on the two links are handled by different CPUs.
        run(exec + "sh -c 'echo 1 > /sys/class/net/" + link + "/queues/rx-0/rps_cpus; echo 2 > " +
            "/sys/class/net/" + slow + "/queues/rx-0/rps_cpus'");
        const std::string rules =
            "table ip vaskor_impair {\n"
            "  chain route { type route hook output priority mangle; meta l4proto udp meta mark "
            "set numgen random mod 2; }\n"
            "  chain out { type filter hook output priority 0; meta l4proto udp numgen random "
            "mod 100 < " +
            std::to_string(duplicate) + " dup to " + peerAddress + " device \"" + link +
            "\"; }\n"
            "  chain in { type filter hook input priority 0; meta l4proto udp numgen random mod "
            "100 < " +
            std::to_string(loss) +
            " drop; }\n"
            "}\n";
        run(exec + "nft -f - <<'EOF'\n" + rules + "EOF");
    }
};

} // namespace netnstest
