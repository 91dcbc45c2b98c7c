#include "tests/resources/LoaderTestSupport.h"

#include "resources/PeFormat.h"
#include "resources/ResourceFilesystem.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

std::vector<unsigned char> embeddedCopy(const std::string& name) {
    const ResourceFile file = embeddedResources.open(name);
    return {file.begin, file.end};
}

std::uint32_t fileOffsetOf(const std::vector<unsigned char>& file, std::uint32_t rva) {
    const auto nt = readAt<std::int32_t>(file, pe::dosLfanewOffset);
    const auto header = readAt<pe::FileHeader>(file, nt + pe::fileHeaderOffset);
    const std::size_t table = nt + pe::optionalHeaderOffset + header.SizeOfOptionalHeader;
    for (unsigned i = 0; i < header.NumberOfSections; ++i) {
        const auto section = readAt<pe::SectionHeader>(file, table + i * sizeof(pe::SectionHeader));
        if (rva >= section.VirtualAddress && rva < section.VirtualAddress + section.SizeOfRawData)
            return rva - section.VirtualAddress + section.PointerToRawData;
    }
    ADD_FAILURE() << "no section holds offset " << rva;
    return 0;
}

std::string mappingPermissions(const void* address) {
    const auto wanted = reinterpret_cast<std::uintptr_t>(address);
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        std::istringstream fields(line);
        std::uintptr_t start = 0;
        std::uintptr_t end = 0;
        char dash = 0;
        std::string permissions;
        fields >> std::hex >> start >> dash >> end >> permissions;
        if (wanted >= start && wanted < end)
            return permissions;
    }
    return "";
}

bool pageResident(const void* address) {
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    void* start = reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(address) & ~(page - 1));
    unsigned char state = 0;
    return mincore(start, page, &state) == 0 && (state & 1);
}

int mappingsNamed(const std::string& text) {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    int count = 0;
    while (std::getline(maps, line))
        if (line.find(text) != std::string::npos)
            ++count;
    return count;
}
