#pragma once

#include <cstddef>
#include <string_view>

namespace moltrex {

// The records and buffers the library hands to its host, freed by FreeMemory.
//
// Every block is remembered until it is released, so FreeMemory can ignore pointers the library
// never handed out or already freed instead of corrupting the host's heap: a double free by a
// host is a mistake the library can absorb. All functions are thread-safe.
namespace heap {

// Zero-filled; null when out of memory.
void* allocate(size_t bytes);
// False (and nothing freed) for null and for pointers not handed out or already released.
bool release(void* block);
// Blocks handed out and not yet released: a leak check for tests.
size_t outstanding();

// A heap copy of a camera id: 13 bytes, NUL-terminated.
char* copyId(std::string_view id);

template <typename Record> Record* make(const Record& value) {
    auto* record = static_cast<Record*>(allocate(sizeof(Record)));
    if (record != nullptr)
        *record = value;
    return record;
}

} // namespace heap
} // namespace moltrex
