#pragma once

// A bounded view of bytes: every read and write is checked against the
// view's size, so a damaged table gives a failed read instead of a stray
// access outside the image.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

class ImageBytes {
public:
    ImageBytes(const unsigned char* data, std::size_t size) : data(data), length(size) {}

    std::size_t size() const { return length; }

    bool contains(std::uint64_t offset, std::uint64_t count) const {
        return offset <= length && count <= length - offset;
    }

    template <class T> bool read(std::uint64_t offset, T& value) const {
        static_assert(std::is_trivially_copyable_v<T>);
        if (!contains(offset, sizeof(T)))
            return false;
        std::memcpy(&value, data + offset, sizeof(T));
        return true;
    }

    // The zero-terminated string at offset, or null when it runs past the end.
    const char* stringAt(std::uint64_t offset) const {
        if (offset >= length)
            return nullptr;
        const void* end = std::memchr(data + offset, 0, length - offset);
        return end ? reinterpret_cast<const char*>(data + offset) : nullptr;
    }

    const unsigned char* at(std::uint64_t offset) const { return data + offset; }

private:
    const unsigned char* data;
    std::size_t length;
};

// The same view over memory the loader may write: the mapped image.
class WritableImageBytes : public ImageBytes {
public:
    WritableImageBytes(unsigned char* data, std::size_t size)
        : ImageBytes(data, size), writable(data) {}

    template <class T> bool write(std::uint64_t offset, const T& value) {
        static_assert(std::is_trivially_copyable_v<T>);
        if (!contains(offset, sizeof(T)))
            return false;
        std::memcpy(writable + offset, &value, sizeof(T));
        return true;
    }

    unsigned char* at(std::uint64_t offset) { return writable + offset; }

private:
    unsigned char* writable;
};

// Size of a source buffer whose length its headers alone tell.
constexpr std::size_t unknownImageSize = std::numeric_limits<std::size_t>::max();
