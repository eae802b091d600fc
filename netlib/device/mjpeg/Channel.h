#pragma once

#include "core/DataBase.h"
#include "device/mjpeg/Packet.h"

#include <string>

namespace zq::mjpeg {

// Where the channels of an MJPEG camera report. Called on "ctrl_thread" or "MJNetThread".
class MjpegSink {
public:
    virtual ~MjpegSink() = default;
    // A control notice: `data` points at a value or content, `extra` as the notice defines it.
    virtual void onControlNotice(int code, const void* data, int extra) = 0;
    virtual void onMediaStatus(int code, int value, int extra) = 0;
    virtual void onMediaFrame(int mediaType, FRAME_HEAD* frame) = 0;
};

// Framing shared by the two channels of an MJPEG camera; they differ only in their magic.
class CMJChannel : public CDataBase {
public:
    // Every send on either connection may wait this many 10 ms rounds.
    static constexpr int kSendRetries = 100;

    CMJChannel(DEVICE_PARAM* param, Magic magic) : CDataBase(param), m_magic(magic) {}

    int headerSize() const override { return kHeaderSize; }
    bool isHeader(const uint8_t* bytes) const override { return mjpeg::isHeader(m_magic, bytes); }
    long packetSize(const uint8_t* bytes) const override { return mjpeg::packetSize(bytes); }
    std::vector<uint8_t> makePacket(int command, int& length) const override;

    int send(const std::vector<uint8_t>& packet) { return sendPacket(packet, kSendRetries); }

protected:
    // Connects the transport to host:port; 0 or a TransportResult.
    int connectToCamera();

private:
    const Magic m_magic;
};

} // namespace zq::mjpeg
