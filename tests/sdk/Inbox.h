#pragma once

// What a host receives from moltrex, turned into plain values. The inbox frees every heap record
// and camera id copy with FreeMemory as it takes them, as a host must, so tests see the library's
// heap drain back to nothing.

#include "moltrex/moltrex.h"
#include "sys/MessageQueue.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace sdktest {

struct Note {
    unsigned message = 0;
    intptr_t wParam = 0; // status of 2124/2125
    intptr_t lParam = 0; // status or value of 22xx/23xx notifications without a record
    std::string id;      // the camera id copy of 22xx/23xx notifications
    std::optional<MO_SEARCH_RECORD> search;
    std::optional<MO_CAMERA_PARAMS> params;
    std::optional<MO_NET2_PARAMS> net2;
    std::optional<MO_TRANSFER_COUNTERS> counters;
    std::optional<MO_FRAME> frame; // picture.data points into `data`, not the freed record
    std::vector<uint8_t> data;
};

// Converts one notification and frees what it carried.
Note takeNote(unsigned message, MO_WPARAM wParam, MO_LPARAM lParam);

class Inbox {
public:
    // The callback target; every notification lands in instance().
    static void callback(unsigned message, MO_WPARAM wParam, MO_LPARAM lParam);
    static Inbox& instance();

    void add(Note note);
    void clear();
    std::vector<Note> all() const;
    std::vector<Note> of(unsigned message) const;
    // Waits until `ready` holds over the notes received so far; false after `timeoutMs`.
    bool waitUntil(const std::function<bool(const std::vector<Note>&)>& ready,
                   unsigned timeoutMs = 10000) const;
    // Waits for the first note of `message` (for camera `id`, when given).
    std::optional<Note> waitFor(unsigned message, unsigned timeoutMs = 10000,
                                const std::string& id = {}) const;

private:
    mutable std::mutex m_lock;
    mutable std::condition_variable m_added;
    std::vector<Note> m_notes; // guarded by m_lock
};

// Moves what a thread target received into `inbox` until a message `last` came, waiting up to
// `timeoutMs` for each; the count moved.
size_t drainQueue(sys::MessageQueue& queue, Inbox& inbox, unsigned last, unsigned timeoutMs);

} // namespace sdktest
