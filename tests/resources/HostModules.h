#pragma once

// The made-up modules "vaskorhost.dll" and "vaskorextra.dll" that the PE
// test images import from, served by the loader's callbacks: each load,
// symbol request and release is counted, and any module or symbol can be
// made to fail.

#include "resources/InMemoryLibrary.h"

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

class HostModules {
public:
    HostModules();
    ~HostModules();

    InMemoryLibrary* load(const std::string& imageName);
    InMemoryLibrary* load(std::vector<unsigned char> imageBytes);

    // Names passed to loadDependency, in order.
    std::vector<std::string> loadedModules;
    // Symbols asked for: names, or "#7" for ordinal 7.
    std::vector<std::string> resolvedSymbols;
    // Times each module was released.
    std::map<std::string, int> releases;
    std::set<std::string> unloadable;
    std::set<std::string> unresolvable;

    // Calls of the lifecycle image's entry point and TLS callback by reason.
    std::map<std::uint32_t, int> entryCalls;
    std::map<std::uint32_t, int> tlsCalls;
    std::vector<void*> modulesSeen;
    int entryResult = 1;

private:
    std::vector<unsigned char> image;
    friend struct HostCallbacks;
};
