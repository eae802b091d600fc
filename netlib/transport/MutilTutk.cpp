#include "transport/MutilTutk.h"

#include "iotc/iotc.h"
#include "sys/Diag.h"
#include "transport/SockBase.h"

namespace zq {

CMutilTutk::~CMutilTutk() {
    close();
}

void CMutilTutk::reset() {
    std::lock_guard lock(m_sessionLock);
    m_session = kNone;
}

void CMutilTutk::clearCancel() {
    m_cancelled.store(false, std::memory_order_release);
}

void CMutilTutk::cancel() {
    m_cancelled.store(true, std::memory_order_release);
}

int CMutilTutk::cancelCheck(void* self) {
    return static_cast<CMutilTutk*>(self)->cancelled() ? 1 : 0;
}

int CMutilTutk::session() const {
    std::lock_guard lock(m_sessionLock);
    return m_session;
}

int CMutilTutk::connect(const char* uid, int /*port*/) {
    if (cancelled())
        return kIoCancelled;
    // The lock is held through the connect so two threads never open two sessions; the
    // connect itself watches the cancel flag, so a stop is not held up by it.
    std::lock_guard lock(m_sessionLock);
    if (m_session >= 0)
        return 0;
    const int session = IOTC_Connect_ByUID_Ex(uid, &CMutilTutk::cancelCheck, this);
    sys::debugOut("IOTC_Connect:%d\n", session);
    if (session >= 0) {
        m_session = session;
        m_connected.store(true);
        return 0;
    }
    if (session == IOTC_ER_CONNECT_STOPPED || cancelled())
        return kIoCancelled;
    return session == IOTC_ER_DEVICE_OFFLINE ? -2 : kIoError;
}

int CMutilTutk::write(int channelId, const void* data, int length) {
    if (channelId < 0 || length < 0)
        return kIoError;
    if (m_checkWriteStatus.load()) {
        RdtStatus status{};
        if (RDT_Status_Check(channelId, &status) < 0)
            return kIoError;
        if (status.sendQueued > kMaxPendingSend)
            return -2;
    }
    const int written = RDT_Write(channelId, static_cast<const char*>(data), length);
    if (written == RDT_ER_SEND_QUEUE_FULL)
        return -2;
    if (written == RDT_ER_REMOTE_EXIT || written == RDT_ER_SESSION_CLOSED)
        return kIoClosed;
    return written < 0 ? kIoError : written;
}

int CMutilTutk::read(int channelId, void* buffer, int size) {
    if (cancelled())
        return kIoCancelled;
    if (channelId < 0)
        return kIoError;
    const int got = RDT_Read(channelId, static_cast<char*>(buffer), size, kReadWaitMs);
    if (got >= 0)
        return got;
    if (got == RDT_ER_TIMEOUT || got == RDT_ER_REMOTE_NOT_READY)
        return cancelled() ? kIoCancelled : kIoIdle;
    if (got == RDT_ER_REMOTE_EXIT || got == RDT_ER_SESSION_CLOSED)
        return kIoClosed;
    return kIoError;
}

void CMutilTutk::close() {
    int session;
    {
        std::lock_guard lock(m_sessionLock);
        session = m_session;
        m_session = kNone;
    }
    if (session >= 0)
        IOTC_Session_Close(session);
}

int CMutilTutk::createChannel(int /*unused*/, int channel) {
    if (cancelled())
        return kIoCancelled;
    const int session = this->session();
    if (session < 0)
        return kIoError;
    // Waited for in short steps: the camera may take its time, a stop must not.
    for (int waited = 0; waited < kChannelWaitMs; waited += kReadWaitMs) {
        const int id = RDT_Create(session, kReadWaitMs, static_cast<unsigned char>(channel));
        if (id >= 0)
            return id;
        if (id != RDT_ER_TIMEOUT)
            return kIoError;
        if (cancelled())
            return kIoCancelled;
    }
    return kIoError;
}

void CMutilTutk::destroyChannel(int channelId) {
    if (channelId >= 0)
        RDT_Destroy(channelId);
}

bool CMutilTutk::takeConnected() {
    return m_connected.exchange(false);
}

} // namespace zq
