#include "Heap.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_set>

namespace moltrex::heap {

namespace {

struct Blocks {
    std::mutex lock;
    std::unordered_set<void*> live; // guarded by lock
};

// Never destroyed: session threads that outlive static destruction at exit may still free.
Blocks& blocks() {
    static auto* instance = new Blocks;
    return *instance;
}

} // namespace

void* allocate(size_t bytes) {
    void* block = std::calloc(1, bytes == 0 ? 1 : bytes);
    if (block == nullptr)
        return nullptr;
    Blocks& all = blocks();
    try {
        std::lock_guard guard(all.lock);
        all.live.insert(block);
    } catch (...) {
        std::free(block);
        return nullptr;
    }
    return block;
}

bool release(void* block) {
    if (block == nullptr)
        return false;
    Blocks& all = blocks();
    {
        std::lock_guard guard(all.lock);
        if (all.live.erase(block) == 0)
            return false;
    }
    std::free(block);
    return true;
}

size_t outstanding() {
    Blocks& all = blocks();
    std::lock_guard guard(all.lock);
    return all.live.size();
}

char* copyId(std::string_view id) {
    auto* copy = static_cast<char*>(allocate(13));
    if (copy != nullptr)
        std::memcpy(copy, id.data(), id.size() < 12 ? id.size() : 12);
    return copy;
}

} // namespace moltrex::heap
