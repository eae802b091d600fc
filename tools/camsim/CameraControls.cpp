#include "CameraControls.h"

#include "PacketWriter.h"
#include "Protocol.h"

namespace camsim {

size_t CameraControls::sendAlarm(const AlarmNotice& alarm) {
    const auto c = core();
    if (!c) {
        return 0;
    }
    PacketWriter writer(cmd::kAlarmNotice, 4);
    writer.payload()[0] = alarm.state;
    writer.payload()[1] = alarm.secondState;
    writer.payload()[2] = alarm.recordOnAlarm;
    writer.payload()[3] = alarm.durationSeconds;
    c->event("alarm notice (state %d)", alarm.state);
    return c->broadcast(writer.take());
}

size_t CameraControls::sendMotion(int32_t state) {
    const auto c = core();
    if (!c) {
        return 0;
    }
    c->event("motion notice (state %d)", state);
    return c->broadcast(PacketWriter::words(cmd::kMotionNotice, {state}));
}

void CameraControls::stallFor(uint32_t ms) {
    if (const auto c = core()) {
        c->faults().stallFor(ms);
    }
}

void CameraControls::setStalled(bool on) {
    if (const auto c = core()) {
        c->faults().setStalled(on);
    }
}

void CameraControls::setGarbage(bool on) {
    if (const auto c = core()) {
        c->faults().garbage = on;
    }
}

void CameraControls::setByteByByte(bool on) {
    if (const auto c = core()) {
        c->faults().byteByByte = on;
    }
}

void CameraControls::setRefuseLogins(bool on) {
    if (const auto c = core()) {
        c->faults().refuseLogins = on;
    }
}

void CameraControls::setHttpDelayMs(uint32_t ms) {
    if (const auto c = core()) {
        c->faults().httpDelayMs = ms;
    }
}

void CameraControls::dropConnections() {
    if (const auto c = core()) {
        c->event("dropping every connection");
        c->faults().dropAll();
    }
}

CameraStats CameraControls::stats() const {
    const auto c = core();
    return c ? c->stats() : CameraStats{};
}

std::vector<uint8_t> CameraControls::talkBytes() const {
    const auto c = core();
    return c ? c->talkBytes() : std::vector<uint8_t>{};
}

std::vector<int16_t> CameraControls::talkPcm() const {
    const auto c = core();
    return c ? c->talkPcm() : std::vector<int16_t>{};
}

std::vector<int32_t> CameraControls::seekTargets() const {
    const auto c = core();
    return c ? c->seekTargets() : std::vector<int32_t>{};
}

std::vector<CgiLogEntry> CameraControls::cgiLog() const {
    const auto c = core();
    return c ? c->cgi().log() : std::vector<CgiLogEntry>{};
}

CgiState CameraControls::cgiState() const {
    const auto c = core();
    return c ? c->cgi().state() : CgiState{};
}

} // namespace camsim
