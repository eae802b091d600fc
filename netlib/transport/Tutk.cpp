#include "transport/Tutk.h"

#include "sys/Tick.h"

namespace zq {

int sendOnChannel(CMutilTutk& link, int channelId, const void* buf, int len) {
    const int written = link.write(channelId, buf, len);
    if (written == -2) {
        sys::sleepMs(10);
        return kIoIdle;
    }
    return written;
}

CTutk::~CTutk() {
    close();
}

int CTutk::connect(const char* host, int port) {
    if (cancelled())
        return kIoCancelled;
    m_link.clearCancel();
    const int connected = m_link.connect(host, port);
    if (connected != 0)
        return connected == kIoCancelled ? kIoCancelled : kIoError;
    const int channel = m_link.createChannel(0, 0);
    if (channel < 0) {
        m_link.close();
        return channel == kIoCancelled ? kIoCancelled : kIoError;
    }
    m_channel.store(channel);
    return 0;
}

void CTutk::cancel() {
    CSockBase::cancel();
    m_link.cancel();
}

int CTutk::send(const void* buf, int len, int) {
    if (cancelled())
        return kIoCancelled;
    return sendOnChannel(m_link, m_channel.load(), buf, len);
}

int CTutk::recv(void* buf, int size, int) {
    if (cancelled())
        return kIoCancelled;
    return m_link.read(m_channel.load(), buf, size);
}

void CTutk::close() {
    m_link.destroyChannel(m_channel.exchange(CMutilTutk::kNone));
    m_link.close();
}

int CRdtChannelSocket::send(const void* buf, int len, int) {
    if (cancelled() || m_link.cancelled())
        return kIoCancelled;
    return sendOnChannel(m_link, m_channelId.load(), buf, len);
}

int CRdtChannelSocket::recv(void* buf, int size, int) {
    if (cancelled())
        return kIoCancelled;
    return m_link.read(m_channelId.load(), buf, size);
}

} // namespace zq
