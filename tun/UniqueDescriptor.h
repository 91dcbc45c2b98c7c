#pragma once

#include <unistd.h>
#include <utility>

// Owns one file descriptor and closes it; -1 is none.
class UniqueDescriptor {
public:
    UniqueDescriptor() = default;
    explicit UniqueDescriptor(int fd) : fd(fd) {}
    ~UniqueDescriptor() { reset(); }
    UniqueDescriptor(UniqueDescriptor&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
    UniqueDescriptor& operator=(UniqueDescriptor&& other) noexcept {
        if (this != &other) {
            reset();
            fd = std::exchange(other.fd, -1);
        }
        return *this;
    }
    UniqueDescriptor(const UniqueDescriptor&) = delete;
    UniqueDescriptor& operator=(const UniqueDescriptor&) = delete;

    int get() const { return fd; }
    int release() { return std::exchange(fd, -1); }
    void reset(int replacement = -1) {
        if (fd >= 0)
            ::close(fd);
        fd = replacement;
    }

private:
    int fd = -1;
};
