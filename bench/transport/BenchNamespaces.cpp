#include "BenchNamespaces.h"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <stdexcept>

namespace bench {

namespace {
std::string created[2];

void remove() {
    for (auto& name : created)
        if (!name.empty())
            std::system(("ip netns del " + name + " 2>/dev/null").c_str());
}

void removeOnSignal(int signal) {
    remove();
    std::_Exit(128 + signal);
}

void run(const std::string& command) {
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("command failed: " + command);
}
} // namespace

BenchNamespaces::BenchNamespaces() {
    const std::string id = std::to_string(getpid());
    a = "vbencha" + id;
    b = "vbenchb" + id;
    created[0] = a;
    created[1] = b;
    std::signal(SIGINT, removeOnSignal);
    std::signal(SIGTERM, removeOnSignal);
    run("ip netns add " + a);
    run("ip netns add " + b);
    run("ip link add vba" + id + " netns " + a + " type veth peer name vbb" + id + " netns " + b);
    run("ip -n " + a + " addr add " + addressA + "/24 dev vba" + id);
    run("ip -n " + b + " addr add " + addressB + "/24 dev vbb" + id);
    for (const auto& [space, link] : {std::pair{a, "vba" + id}, std::pair{b, "vbb" + id}}) {
        run("ip -n " + space + " link set lo up");
        run("ip -n " + space + " link set " + link + " up");
    }
}

BenchNamespaces::~BenchNamespaces() {
    remove();
}

void BenchNamespaces::enter(const std::string& name) {
    const int descriptor = open(("/var/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0 || setns(descriptor, CLONE_NEWNET) != 0)
        throw std::runtime_error("cannot enter network namespace " + name);
    close(descriptor);
}

} // namespace bench
