#include "device/tutk/TutkNetBase.h"

#include "transport/Tutk.h"

#include <cstring>

namespace zq::tutk {

CTutkStream::CTutkStream(DEVICE_PARAM* param, CTutkNetBase& owner, int channel)
    : CH264Channel(param), m_owner(owner), m_channel(channel) {}

void CTutkStream::onPacket(const uint8_t* packet, size_t size) {
    m_owner.onPacket(m_channel, packet, size);
}

CTutkNetBase::CTutkNetBase(DEVICE_PARAM* param, EventCallback onEvent, FrameCallback onFrame,
                           void* user, int linkFlags)
    : m_param(param), m_onEvent(onEvent), m_onFrame(onFrame), m_user(user),
      m_linkFlags(linkFlags) {}

CTutkNetBase::~CTutkNetBase() = default;

int CTutkNetBase::notify(int kind, int code, int* data, int extra) {
    int result = 0;
    if (m_onEvent)
        m_gate.deliver([&] { result = m_onEvent(kind, code, data, m_user, extra); });
    return result;
}

void CTutkNetBase::deliverFrame(int mediaType, FRAME_HEAD* frame) {
    if (m_onFrame)
        m_gate.deliver([&] { m_onFrame(mediaType, frame, m_user, index()); });
}

std::vector<uint8_t> CTutkNetBase::makePacket(int command, int& length) const {
    int withSpare = length + 1;
    auto packet = h264::makePacket(command, withSpare);
    // The header announces the payload without the spare byte.
    h264::writeInt(packet.data() + 8, length);
    length = h264::kHeaderSize + length;
    return packet;
}

std::vector<uint8_t> CTutkNetBase::makeTextPacket(int command, int& length,
                                                  const std::string& text) const {
    int payload = static_cast<int>(text.size()) + 1;
    auto packet = h264::makePacket(command, payload);
    std::memcpy(packet.data() + h264::kHeaderSize, text.data(), text.size());
    length = payload;
    return packet;
}

std::string CTutkNetBase::uid() const {
    return std::string(m_param->host, strnlen(m_param->host, sizeof m_param->host));
}

} // namespace zq::tutk
