#pragma once

// Helpers shared by the loader's and the binding's tests: the embedded test
// images as editable copies, PE offsets for patching them, and what the
// process's memory map says about an address.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

// A copy of an embedded test file.
std::vector<unsigned char> embeddedCopy(const std::string& name);

// File offset of an image offset (RVA) in a PE file; fails the test when no
// section holds it.
std::uint32_t fileOffsetOf(const std::vector<unsigned char>& file, std::uint32_t rva);

template <class T> T readAt(const std::vector<unsigned char>& bytes, std::size_t offset) {
    T value{};
    std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

template <class T> void writeAt(std::vector<unsigned char>& bytes, std::size_t offset, T value) {
    std::memcpy(bytes.data() + offset, &value, sizeof(T));
}

// The permissions ("r-xp", "---p") of the mapping holding address, or "" when unmapped.
std::string mappingPermissions(const void* address);

// Whether the page holding address has memory behind it.
bool pageResident(const void* address);

// How many mappings of the process name contains this text.
int mappingsNamed(const std::string& text);
