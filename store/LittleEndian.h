#pragma once

// Unaligned little-endian loads and stores for the byte formats the program reads and
// writes (stored blobs, instrument replies, engine messages).

#include <bit>
#include <cstddef>
#include <cstring>

static_assert(std::endian::native == std::endian::little, "the byte formats are little-endian");

template <typename T> T LoadLE(const void* bytes, std::size_t offset = 0)
{
    T value;
    std::memcpy(&value, static_cast<const unsigned char*>(bytes) + offset, sizeof(T));
    return value;
}

template <typename T> void StoreLE(void* bytes, std::size_t offset, T value)
{
    std::memcpy(static_cast<unsigned char*>(bytes) + offset, &value, sizeof(T));
}
