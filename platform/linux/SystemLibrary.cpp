#include "platform/SystemLibrary.h"

#include "platform/LastError.h"

#include <dlfcn.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <new>
#include <string>

namespace {

bool isOrdinal(const char* nameOrOrdinal) {
    return reinterpret_cast<std::uintptr_t>(nameOrOrdinal) < 0x10000;
}

bool writeAll(int fd, const unsigned char* bytes, std::size_t size) {
    while (size > 0) {
        ssize_t written = write(fd, bytes, size);
        if (written <= 0)
            return false;
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

} // namespace

void* loadSystemLibrary(const char* name) {
    return dlopen(name, RTLD_NOW | RTLD_LOCAL);
}

void* findSystemSymbol(void* library, const char* nameOrOrdinal) {
    if (isOrdinal(nameOrOrdinal)) // ELF libraries have no ordinals
        return nullptr;
    return dlsym(library, nameOrOrdinal);
}

void releaseSystemLibrary(void* library) {
    dlclose(library);
}

// The descriptor stays open while the library is loaded: the dynamic loader
// recognises an already loaded object by the path it was opened with, so a
// descriptor number reused for a second copy would hand back the first copy.
struct LibraryFromMemory {
    void* handle;
    int fd;
};

LibraryFromMemory* openLibraryFromMemory(const char* name, const unsigned char* bytes,
                                         std::size_t size) {
    int fd = memfd_create(name, MFD_CLOEXEC);
    if (fd < 0) {
        setLastError(errorOutOfMemory);
        return nullptr;
    }
    if (!writeAll(fd, bytes, size)) {
        close(fd);
        setLastError(errorOutOfMemory);
        return nullptr;
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        close(fd);
        setLastError(errorModNotFound);
        return nullptr;
    }
    auto* library = new (std::nothrow) LibraryFromMemory{handle, fd};
    if (!library) {
        dlclose(handle);
        close(fd);
        setLastError(errorOutOfMemory);
    }
    return library;
}

void* findLibraryFromMemorySymbol(LibraryFromMemory* library, const char* name) {
    return dlsym(library->handle, name);
}

void closeLibraryFromMemory(LibraryFromMemory* library) {
    if (!library)
        return;
    dlclose(library->handle);
    close(library->fd);
    delete library;
}
