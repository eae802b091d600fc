#include "Inbox.h"

#include <chrono>
#include <cstring>

namespace sdktest {

namespace {

template <typename Record> std::optional<Record> copyAndFree(MO_LPARAM lParam) {
    if (lParam == 0)
        return std::nullopt;
    auto* record = reinterpret_cast<Record*>(lParam);
    Record copy = *record;
    FreeMemory(record);
    return copy;
}

} // namespace

Note takeNote(unsigned message, MO_WPARAM wParam, MO_LPARAM lParam) {
    Note note;
    note.message = message;
    if (message == MO_MSG_SEARCH || message == MO_MSG_INIT) {
        note.wParam = static_cast<intptr_t>(wParam);
        if (message == MO_MSG_SEARCH)
            note.search = copyAndFree<MO_SEARCH_RECORD>(lParam);
        return note;
    }
    if (wParam != 0) {
        const char* id = reinterpret_cast<const char*>(wParam);
        note.id.assign(id, strnlen(id, MO_ID_SIZE));
        FreeMemory(reinterpret_cast<void*>(wParam));
    }
    switch (message) {
    case MO_MSG_PARAMS:
        note.params = copyAndFree<MO_CAMERA_PARAMS>(lParam);
        break;
    case MO_MSG_NET2:
        note.net2 = copyAndFree<MO_NET2_PARAMS>(lParam);
        break;
    case MO_MSG_COUNTERS:
        note.counters = copyAndFree<MO_TRANSFER_COUNTERS>(lParam);
        break;
    case MO_MSG_PICTURE:
    case MO_MSG_AUDIO:
    case MO_MSG_PICTURE_FLUSH:
    case MO_MSG_AUDIO_FLUSH: {
        auto* frame = reinterpret_cast<MO_FRAME*>(lParam);
        note.data.assign(frame->picture.data, frame->picture.data + frame->picture.length);
        note.frame = *frame;
        note.frame->picture.data = nullptr;
        FreeMemory(frame);
        break;
    }
    default:
        note.lParam = lParam;
        break;
    }
    return note;
}

void Inbox::callback(unsigned message, MO_WPARAM wParam, MO_LPARAM lParam) {
    instance().add(takeNote(message, wParam, lParam));
}

Inbox& Inbox::instance() {
    static Inbox inbox;
    return inbox;
}

void Inbox::add(Note note) {
    {
        std::lock_guard guard(m_lock);
        m_notes.push_back(std::move(note));
    }
    m_added.notify_all();
}

void Inbox::clear() {
    std::lock_guard guard(m_lock);
    m_notes.clear();
}

std::vector<Note> Inbox::all() const {
    std::lock_guard guard(m_lock);
    return m_notes;
}

std::vector<Note> Inbox::of(unsigned message) const {
    std::vector<Note> found;
    std::lock_guard guard(m_lock);
    for (const Note& note : m_notes) {
        if (note.message == message)
            found.push_back(note);
    }
    return found;
}

bool Inbox::waitUntil(const std::function<bool(const std::vector<Note>&)>& ready,
                      unsigned timeoutMs) const {
    std::unique_lock guard(m_lock);
    return m_added.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                            [&] { return ready(m_notes); });
}

std::optional<Note> Inbox::waitFor(unsigned message, unsigned timeoutMs,
                                   const std::string& id) const {
    std::optional<Note> found;
    waitUntil(
        [&](const std::vector<Note>& notes) {
            for (const Note& note : notes) {
                if (note.message == message && (id.empty() || note.id == id)) {
                    found = note;
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    return found;
}

size_t drainQueue(sys::MessageQueue& queue, Inbox& inbox, unsigned last, unsigned timeoutMs) {
    size_t count = 0;
    while (auto message = queue.take(timeoutMs)) {
        Note note = takeNote(static_cast<unsigned>(message->code),
                             static_cast<MO_WPARAM>(message->param1), message->param2);
        const bool done = note.message == last;
        inbox.add(std::move(note));
        ++count;
        if (done)
            break;
    }
    return count;
}

} // namespace sdktest
