#pragma once

// Two network namespaces joined by one veth link for the benchmark, removed
// again when the object goes or the run is interrupted.

#include <string>

namespace bench {

class BenchNamespaces {
public:
    static constexpr const char* addressA = "10.78.0.1";
    static constexpr const char* addressB = "10.78.0.2";

    BenchNamespaces();
    ~BenchNamespaces();
    BenchNamespaces(const BenchNamespaces&) = delete;
    BenchNamespaces& operator=(const BenchNamespaces&) = delete;

    // Moves the calling thread into a namespace: sockets it makes stay there.
    static void enter(const std::string& name);

    std::string a;
    std::string b;
};

} // namespace bench
