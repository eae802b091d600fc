#pragma once

#include "zqnet/zqnet.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// Collects what a session delivers to its callbacks, and lets a test wait for it.
class SessionRecorder {
public:
    struct Event {
        int kind;
        int code;
        int value; // *data for media statuses, first word for control packets of 4+ bytes
        int extra;
        std::vector<uint8_t> payload; // control packets
    };
    struct Frame {
        int type;
        FRAME_HEAD head;
        std::vector<uint8_t> prefix; // first bytes of the data
    };

    static int onEvent(int kind, int code, int* data, void* user, int extra) {
        auto* self = static_cast<SessionRecorder*>(user);
        Event event{kind, code, 0, extra, {}};
        if (kind == ZQ_EVENT_CONTROL && data && extra > 0) {
            const auto* bytes = reinterpret_cast<const uint8_t*>(data);
            event.payload.assign(bytes, bytes + extra);
            if (extra >= 4)
                std::memcpy(&event.value, bytes, 4);
        } else if (data) {
            event.value = *data;
        }
        std::lock_guard lock(self->m_lock);
        self->m_events.push_back(std::move(event));
        self->m_changed.notify_all();
        return 0;
    }

    static void onFrame(int type, FRAME_HEAD* frame, void* user, int index) {
        auto* self = static_cast<SessionRecorder*>(user);
        Frame copy{type, *frame, {}};
        copy.head.data = nullptr;
        const int n = frame->length < 16 ? frame->length : 16;
        copy.prefix.assign(reinterpret_cast<uint8_t*>(frame->data),
                           reinterpret_cast<uint8_t*>(frame->data) + n);
        std::lock_guard lock(self->m_lock);
        self->m_lastIndex = index;
        self->m_frames.push_back(std::move(copy));
        if (self->m_frames.size() > 5000)
            self->m_frames.erase(self->m_frames.begin(), self->m_frames.begin() + 1000);
        ++self->m_frameCount[type == ZQ_MEDIA_VIDEO ? 0 : 1];
        self->m_changed.notify_all();
    }

    // Waits until `done` holds or `timeout` passes. `done` runs without the recorder's lock,
    // so it may call the recorder (and anything else) freely.
    bool waitFor(std::chrono::milliseconds timeout, const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            if (done())
                return true;
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            std::unique_lock lock(m_lock);
            m_changed.wait_for(lock, std::chrono::milliseconds(10));
        }
    }
    bool waitEvent(std::chrono::milliseconds timeout, int kind, int code) {
        return waitFor(timeout, [&] { return indexOf(kind, code) >= 0; });
    }
    bool waitFrames(std::chrono::milliseconds timeout, size_t video, size_t audio = 0) {
        return waitFor(timeout, [&] { return videoFrames() >= video && audioFrames() >= audio; });
    }

    std::vector<Event> events() {
        std::lock_guard lock(m_lock);
        return m_events;
    }
    std::vector<Frame> frames() {
        std::lock_guard lock(m_lock);
        return m_frames;
    }
    size_t videoFrames() {
        std::lock_guard lock(m_lock);
        return m_frameCount[0];
    }
    size_t audioFrames() {
        std::lock_guard lock(m_lock);
        return m_frameCount[1];
    }
    int lastIndex() {
        std::lock_guard lock(m_lock);
        return m_lastIndex;
    }
    // Position of the first event (kind, code) in arrival order, or -1.
    int indexOf(int kind, int code) {
        std::lock_guard lock(m_lock);
        for (size_t i = 0; i < m_events.size(); ++i)
            if (m_events[i].kind == kind && m_events[i].code == code)
                return static_cast<int>(i);
        return -1;
    }
    std::vector<Event> eventsOf(int kind, int code) {
        std::lock_guard lock(m_lock);
        std::vector<Event> found;
        for (const auto& e : m_events)
            if (e.kind == kind && e.code == code)
                found.push_back(e);
        return found;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<Event> m_events;
    std::vector<Frame> m_frames;
    size_t m_frameCount[2] = {0, 0};
    int m_lastIndex = -1;
};

inline DEVICE_PARAM makeParam(uint16_t port, uint16_t webPort, const char* user = "admin",
                              const char* password = "admin", uint8_t stream = 0) {
    DEVICE_PARAM param{};
    param.id = 7;
    std::snprintf(param.host, sizeof param.host, "127.0.0.1");
    param.port = port;
    std::snprintf(param.user, sizeof param.user, "%s", user);
    std::snprintf(param.password, sizeof param.password, "%s", password);
    param.streamType = stream;
    param.httpPort = webPort;
    return param;
}

// Milliseconds a call took.
template <typename Fn> long long timedMs(Fn&& fn) {
    const auto start = std::chrono::steady_clock::now();
    fn();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}
