#pragma once

#include "core/DataBase.h"
#include "device/h264/Packet.h"

#include <string>

namespace zq::h264 {

// Framing shared by the two channels of an H.264 camera.
class CH264Channel : public CDataBase {
public:
    using CDataBase::CDataBase;

    int headerSize() const override { return kHeaderSize; }
    bool isHeader(const uint8_t* bytes) const override { return h264::isHeader(bytes); }
    long packetSize(const uint8_t* bytes) const override { return h264::packetSize(bytes); }
    std::vector<uint8_t> makePacket(int command, int& length) const override {
        return h264::makePacket(command, length);
    }

protected:
    // Connects the transport to the camera; 0 or a TransportResult.
    int connectToCamera();
    // In one-port mode the camera expects an HTTP-looking preface before the binary protocol.
    bool onePortMode() const;
    int sendServerPush();
};

} // namespace zq::h264
