#include "resources/ResourceFilesystem.h"

#include "resources/EmbeddedFileList.h"

#include <cerrno>

const ResourceEntry* ResourceDirectory::addFile(const std::string& name, const unsigned char* begin,
                                                const unsigned char* end) {
    const ResourceFile& record = files.emplace_back(ResourceFile{begin, end});
    auto [position, inserted] = entries.try_emplace(name, ResourceEntry{&record});
    return &position->second;
}

ResourceNotFoundError::ResourceNotFoundError(const std::string& path)
    : std::system_error(ENOENT, std::generic_category()),
      message(path.empty() ? "no such file or directory" : path + ": no such file or directory") {}

std::string normalizePath(std::string path) {
    while (!path.empty() && path.front() == '/')
        path.erase(0, 1);
    while (!path.empty() && path.back() == '/')
        path.pop_back();
    for (auto at = path.find("//"); at != std::string::npos; at = path.find("//"))
        path.erase(at, 1);
    return path;
}

ResourceFile ResourceFilesystem::open(const std::string& path) const {
    auto found = index->find(normalizePath(path));
    if (found == index->end() || !found->second->isFile())
        throw ResourceNotFoundError(path);
    return *std::get<const ResourceFile*>(found->second->target);
}

ResourceIndex& buildResourceIndex() {
    static ResourceDirectory root;
    static const ResourceEntry rootEntry{&root};
    static ResourceIndex index;

    index.try_emplace("", &rootEntry);
    for (const EmbeddedFile& file : embeddedFileList())
        index.try_emplace(file.name, root.addFile(file.name, file.begin, file.end));
    return index;
}

ResourceFilesystem getResourceFilesystem() {
    static const ResourceIndex& index = buildResourceIndex();
    return ResourceFilesystem(index);
}

const ResourceFilesystem embeddedResources = getResourceFilesystem();
