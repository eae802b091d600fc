#pragma once

#include "core/CallbackGate.h"
#include "core/SessionRegistry.h"
#include "device/h264/Channel.h"
#include "sys/Thread.h"
#include "transport/MutilTutk.h"
#include "zqnet/zqtypes.h"

#include <atomic>
#include <string>
#include <vector>

namespace zq::tutk {

class CTutkNetBase;

// The packet framing of one channel of the session. Packets go to the owner, tagged with the
// channel they came from; reads and writes use whichever channel id is current, so the owner
// may recreate the channel without rebuilding this.
class CTutkStream : public h264::CH264Channel {
public:
    CTutkStream(DEVICE_PARAM* param, CTutkNetBase& owner, int channel);

    void onPacket(const uint8_t* packet, size_t size) override;

    std::atomic<int>& channelId() { return m_channelId; }
    // Sleeps `ms`; false when the stream was cancelled meanwhile.
    bool wait(unsigned ms) const { return pause(ms); }

private:
    CTutkNetBase& m_owner;
    const int m_channel;
    std::atomic<int> m_channelId{CMutilTutk::kNone};
};

// What every camera reached by UID has: the caller's callbacks and the one peer-to-peer
// session its channels share. Reports reach the caller only through the gate, which close()
// shuts, so nothing is delivered after the handle is closed.
class CTutkNetBase : public RegisteredSession {
public:
    static constexpr int kTextCommand = 114;

    CTutkNetBase(DEVICE_PARAM* param, EventCallback onEvent, FrameCallback onFrame, void* user,
                 int linkFlags);
    ~CTutkNetBase() override;

    virtual int notify(int kind, int code, int* data, int extra);
    virtual void run(sys::WorkerContext&) {}
    virtual void runMedia(sys::WorkerContext&) {}
    // A whole packet from `channel`, valid only for the call.
    virtual void onPacket(int channel, const uint8_t* packet, size_t size) = 0;
    int headerSize() const { return h264::kHeaderSize; }
    bool isHeader(const uint8_t* bytes) const { return h264::isHeader(bytes); }
    long packetSize(const uint8_t* bytes) const { return h264::packetSize(bytes); }
    // A packet whose payload is `text` and its NUL.
    std::vector<uint8_t> makeTextPacket(int command, int& length, const std::string& text) const;
    // Header, `length` zeroed payload bytes and one spare zero byte; `length` becomes the size
    // that goes on the wire.
    std::vector<uint8_t> makePacket(int command, int& length) const;
    int textCommand() const { return kTextCommand; }

    int index() const { return m_linkFlags & 0xFFFF; }

protected:
    void deliverFrame(int mediaType, FRAME_HEAD* frame);
    void closeGate() { m_gate.close(); }
    std::string uid() const;

    DEVICE_PARAM* const m_param; // caller-owned, outlives the session
    const EventCallback m_onEvent;
    const FrameCallback m_onFrame;
    void* const m_user;
    const int m_linkFlags;
    CMutilTutk m_tutk;

private:
    CallbackGate m_gate;
};

} // namespace zq::tutk
