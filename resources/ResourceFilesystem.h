#pragma once

#include <cstddef>
#include <list>
#include <map>
#include <string>
#include <system_error>
#include <variant>

// A read-only view of one embedded file. The bytes are part of the program's
// constant data: valid, unchanged and at the same address until the process ends.
struct ResourceFile {
    const unsigned char* begin = nullptr;
    const unsigned char* end = nullptr;

    std::size_t size() const { return static_cast<std::size_t>(end - begin); }
};

class ResourceDirectory;

// Either a file or a directory.
struct ResourceEntry {
    std::variant<const ResourceFile*, const ResourceDirectory*> target;

    bool isFile() const { return std::holds_alternative<const ResourceFile*>(target); }
};

class ResourceDirectory {
public:
    // Adds a file under name and returns the entry the directory holds for the
    // name; a name added twice keeps its first entry.
    const ResourceEntry* addFile(const std::string& name, const unsigned char* begin,
                                 const unsigned char* end);

private:
    std::list<ResourceFile> files; // append-only: records never move
    std::map<std::string, ResourceEntry> entries;
};

// Full normalised path to entry; "" is the root directory.
using ResourceIndex = std::map<std::string, const ResourceEntry*>;

// Thrown by ResourceFilesystem::open for a path that names no file: generic
// category, "no such file or directory", with the caller's path in the text.
class ResourceNotFoundError : public std::system_error {
public:
    explicit ResourceNotFoundError(const std::string& path);
    const char* what() const noexcept override { return message.c_str(); }

private:
    std::string message;
};

class ResourceFilesystem {
public:
    explicit ResourceFilesystem(const ResourceIndex& index) : index(&index) {}

    // The file at path; leading, trailing and doubled slashes are ignored,
    // everything else is compared byte for byte.
    ResourceFile open(const std::string& path) const;

private:
    const ResourceIndex* index;
};

// Removes leading and trailing slashes and collapses runs of slashes.
std::string normalizePath(std::string path);

// Registers the embedded files in the process's index, once.
ResourceIndex& buildResourceIndex();

ResourceFilesystem getResourceFilesystem();

// The program's one view of its embedded files.
extern const ResourceFilesystem embeddedResources;
