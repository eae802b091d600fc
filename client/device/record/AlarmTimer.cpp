#include "device/record/AlarmTimer.h"

namespace Device {

namespace {

constexpr int kMjpegAlarmLength = 23;

bool isAlarm(const uint8_t* data) {
    return data[0] != 0 && data[1] == 0;
}

} // namespace

void AlarmTimer::onEvent(const uint8_t* data, int length, uint32_t nowMs) {
    if (data == nullptr || length < 2)
        return;
    enum class Outcome { None, Started, Ended } outcome = Outcome::None;
    {
        std::lock_guard guard(m_lock);
        if (!m_running) {
            const bool full = length == 4;
            m_recordOnAlarm = full ? data[2] != 0 : true;
            m_durationSeconds = full ? data[3] : kDefaultDurationSeconds;
            if (isAlarm(data) && m_recordOnAlarm) {
                m_counter = 1;
                m_running = true;
                m_lastTickMs = nowMs;
                outcome = Outcome::Started;
            }
        } else if (!isAlarm(data)) {
            m_running = false;
            outcome = Outcome::Ended;
        }
    }
    if (outcome == Outcome::Started) {
        if (m_actions.alarmStarted)
            m_actions.alarmStarted();
        if (m_actions.post102)
            m_actions.post102(0);
    } else if (outcome == Outcome::Ended && m_actions.post102) {
        m_actions.post102(1);
    }
}

void AlarmTimer::poll(uint32_t nowMs) {
    bool ended = false;
    {
        std::lock_guard guard(m_lock);
        while (m_running && nowMs - m_lastTickMs >= kTickMs) {
            m_lastTickMs += kTickMs;
            if (++m_counter == m_durationSeconds) {
                m_running = false;
                m_recordOnAlarm = false;
                ended = true;
            }
        }
    }
    if (ended && m_actions.post102)
        m_actions.post102(1);
}

bool AlarmTimer::running() const {
    std::lock_guard guard(m_lock);
    return m_running;
}

bool AlarmTimer::recordOnAlarm() const {
    std::lock_guard guard(m_lock);
    return m_recordOnAlarm;
}

int AlarmTimer::durationSeconds() const {
    std::lock_guard guard(m_lock);
    return m_durationSeconds;
}

int AlarmTimer::secondsCounted() const {
    std::lock_guard guard(m_lock);
    return m_counter;
}

int mjpegAlarmMessage(const uint8_t* data, int length) {
    if (data == nullptr || length != kMjpegAlarmLength)
        return -1;
    if (data[0] == 0)
        return 1;
    return data[0] <= 3 ? 0 : -1;
}

} // namespace Device
