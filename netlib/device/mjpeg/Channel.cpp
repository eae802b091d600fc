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

bool CMJChannel::pause(unsigned ms) const {
    const uint32_t start = sys::tickMs();
    for (;;) {
        if (cancelled())
            return false;
        const uint32_t elapsed = sys::elapsedMs(start);
        if (elapsed >= ms)
            return true;
        sys::sleepMs(ms - elapsed < 10 ? ms - elapsed : 10);
    }
}

std::string CMJChannel::hostText() const {
    return std::string(fieldText(m_param->host, sizeof m_param->host));
}

} // namespace zq::mjpeg
