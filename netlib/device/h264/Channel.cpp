#include "device/h264/Channel.h"

#include "sys/Tick.h"

#include <cstdio>

namespace zq::h264 {

int CH264Channel::connectToCamera() {
    const int opened = openTransport();
    if (opened < 0)
        return opened;
    return transport()->connect(hostText().c_str(), m_param->port);
}

bool CH264Channel::onePortMode() const {
    if (transport() && transport()->peerToPeer())
        return false; // a session to a UID has no web port to share
    return m_param->httpPort == static_cast<uint16_t>(m_param->port & 0xFFFF);
}

int CH264Channel::sendServerPush() {
    char preface[256];
    const int length = std::snprintf(
        preface, sizeof preface,
        "SERVERPUSH / HTTP/1.1\r\nHost: %s:%d\r\nAccept:*/*\r\nConnection: Close\r\n\r\n",
        hostText().c_str(), m_param->port);
    if (length <= 0 || length >= static_cast<int>(sizeof preface))
        return kSendFailed;
    const int result = sendPacket(preface, static_cast<size_t>(length), kRetryServerPush);
    pause(100);
    return result;
}

} // namespace zq::h264
