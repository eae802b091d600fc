#include "device/mjpeg/Channel.h"

#include "sys/Tick.h"

namespace zq::mjpeg {

std::vector<uint8_t> CMJChannel::makePacket(int command, int& length) const {
    auto packet = mjpeg::makePacket(m_magic, static_cast<uint16_t>(command), length);
    length = static_cast<int>(packet.size());
    return packet;
}

int CMJChannel::connectToCamera() {
    const int opened = openTransport();
    if (opened < 0)
        return opened;
    return transport()->connect(hostText().c_str(), m_param->port & 0xFFFF);
}

} // namespace zq::mjpeg
