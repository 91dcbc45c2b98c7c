#include "tests/resources/HostModules.h"

#include "tests/resources/LoaderTestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>

namespace {

// The images call these with no way to pass the fixture along.
HostModules* current = nullptr;

constexpr std::uint16_t secretOrdinal = 7;

int __attribute__((ms_abi)) hostAdd(int a, int b) {
    return a + b;
}
int __attribute__((ms_abi)) hostScale(int a) {
    return a * 10;
}
int __attribute__((ms_abi)) hostSecret() {
    return 7;
}
int __attribute__((ms_abi)) extraOffset() {
    return 1000;
}

int __attribute__((ms_abi)) hostNoteEntry(void* module, std::uint32_t reason) {
    ++current->entryCalls[reason];
    current->modulesSeen.push_back(module);
    return current->entryResult;
}

void __attribute__((ms_abi)) hostNoteTls(void* module, std::uint32_t reason) {
    ++current->tlsCalls[reason];
    current->modulesSeen.push_back(module);
}

// Handles are the addresses of these names.
const std::string hostModule = "vaskorhost.dll";
const std::string extraModule = "vaskorextra.dll";

const std::string& moduleOf(InMemoryDependency dependency) {
    return dependency == &hostModule ? hostModule : extraModule;
}

} // namespace

struct HostCallbacks {
    static InMemoryDependency load(const char* name, void* userData) {
        auto& host = *static_cast<HostModules*>(userData);
        host.loadedModules.push_back(name);
        if (host.unloadable.count(name))
            return nullptr;
        if (name == hostModule)
            return const_cast<std::string*>(&hostModule);
        if (name == extraModule)
            return const_cast<std::string*>(&extraModule);
        return nullptr;
    }

    static void* resolve(InMemoryDependency dependency, const char* nameOrOrdinal, void* userData) {
        auto& host = *static_cast<HostModules*>(userData);
        const auto value = reinterpret_cast<std::uintptr_t>(nameOrOrdinal);
        const std::string symbol =
            value < 0x10000 ? "#" + std::to_string(value) : std::string(nameOrOrdinal);
        host.resolvedSymbols.push_back(symbol);
        if (host.unresolvable.count(symbol))
            return nullptr;
        const std::map<std::string, void*> table = {
            {"hostAdd", reinterpret_cast<void*>(hostAdd)},
            {"hostScale", reinterpret_cast<void*>(hostScale)},
            {"#" + std::to_string(secretOrdinal), reinterpret_cast<void*>(hostSecret)},
            {"hostNoteEntry", reinterpret_cast<void*>(hostNoteEntry)},
            {"hostNoteTls", reinterpret_cast<void*>(hostNoteTls)},
            {"extraOffset", reinterpret_cast<void*>(extraOffset)},
        };
        auto found = table.find(symbol);
        const bool inModule = (symbol == "extraOffset") == (moduleOf(dependency) == extraModule);
        return found != table.end() && inModule ? found->second : nullptr;
    }

    static void release(InMemoryDependency dependency, void* userData) {
        auto& host = *static_cast<HostModules*>(userData);
        ++host.releases[moduleOf(dependency)];
    }
};

HostModules::HostModules() {
    current = this;
}

HostModules::~HostModules() {
    current = nullptr;
}

InMemoryLibrary* HostModules::load(const std::string& imageName) {
    return load(embeddedCopy(imageName));
}

InMemoryLibrary* HostModules::load(std::vector<unsigned char> imageBytes) {
    image = std::move(imageBytes);
    return loadInMemoryLibraryWith(image.data(), HostCallbacks::load, HostCallbacks::resolve,
                                   HostCallbacks::release, this);
}
