#pragma once

// Alarms a camera reports, turned into the record thread's messages 102/0 (alarm started) and
// 102/1 (alarm ended).
//
// H.264 cameras send control event 111 with the alarm state, a second state, the record-on-alarm
// flag and the alarm duration in seconds (the last two only when the payload has 4 bytes). An
// alarm starts when the state is set, the second state is clear and the flag is set; it then
// lasts until a one-second timer has counted up to the duration, or until an event 111 that is
// not such an alarm arrives. The count starts at 1 and the first tick makes it 2, so a duration
// of 0 or 1 second never runs out: such an alarm lasts until the camera reports its end.
//
// The timer is driven by poll() with the current tick (the record thread polls it on every
// pass), so a test drives it with ticks of its own and nothing waits.

#include <cstdint>
#include <functional>
#include <mutex>

namespace Device {

class AlarmTimer {
public:
    static constexpr int kDefaultDurationSeconds = 30;
    static constexpr uint32_t kTickMs = 1000;

    struct Actions {
        std::function<void()> alarmStarted;      // alarm sound, alarm recording enabled
        std::function<void(int wParam)> post102; // to the record thread: 0 started, 1 ended
    };

    explicit AlarmTimer(Actions actions) : m_actions(std::move(actions)) {}

    // Event 111 with `length` bytes of payload (fewer than 2 are ignored).
    void onEvent(const uint8_t* data, int length, uint32_t nowMs);
    // Counts the seconds elapsed since the last count.
    void poll(uint32_t nowMs);

    bool running() const;
    // The camera's record-on-alarm flag: from the last event 111 taken while no alarm ran,
    // cleared when the timer runs out.
    bool recordOnAlarm() const;
    int durationSeconds() const;
    int secondsCounted() const;

private:
    const Actions m_actions;
    mutable std::mutex m_lock; // guards everything below; actions run outside it
    bool m_running = false;
    bool m_recordOnAlarm = false;
    int m_durationSeconds = kDefaultDurationSeconds;
    int m_counter = 0;
    uint32_t m_lastTickMs = 0;
};

// The MJPEG camera's alarm report (control event 8 with 23 bytes): 0 when the first byte says an
// alarm started (1 … 3), 1 when it ended (0), -1 for anything else (4 and above, or another
// length).
int mjpegAlarmMessage(const uint8_t* data, int length);

} // namespace Device
