#include "transport/UDP.h"

#include "transport/Resolve.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <udt.h>
#include <unistd.h>

namespace zq {

namespace {

constexpr int kWaitMs = 10;
constexpr int kInvalid = -1;
constexpr int kConnectSteps = 302; // about 3 s, as for TCP

int mapUdtError() {
    // The error codes are run-time constants of the library, so no switch.
    const int code = UDT::getlasterror().getErrorCode();
    if (code == CUDTException::ETIMEOUT || code == CUDTException::EASYNCRCV ||
        code == CUDTException::EASYNCSND)
        return kIoIdle;
    if (code == CUDTException::ECONNLOST)
        return kIoClosed;
    return kIoError;
}

} // namespace

void ensureUdtStarted() {
    static std::once_flag started;
    std::call_once(started, [] { UDT::startup(); });
}

CUDP::CUDP() : m_socket(kInvalid) {
    ensureUdtStarted();
}

CUDP::~CUDP() {
    close();
}

int CUDP::open() {
    close();
    const UDTSOCKET created = UDT::socket(AF_INET, SOCK_STREAM, 0);
    if (created == UDT::INVALID_SOCK)
        return kIoError;
    std::lock_guard lock(m_lock);
    m_socket = created;
    return 0;
}

int CUDP::setOptions() {
    std::lock_guard lock(m_lock);
    if (m_socket == kInvalid)
        return kIoError;
    const int waitMs = kWaitMs;
    UDT::setsockopt(m_socket, 0, UDT_RCVTIMEO, &waitMs, sizeof waitMs);
    UDT::setsockopt(m_socket, 0, UDT_SNDTIMEO, &waitMs, sizeof waitMs);
    // Linger on, no wait: a close never holds up a stop waiting for unsent data.
    const linger noWait{1, 0};
    UDT::setsockopt(m_socket, 0, UDT_LINGER, &noWait, sizeof noWait);
    return 0;
}

int CUDP::connect(const char* host, int port) {
    const std::string address = resolveIPv4(host);
    if (address.empty())
        return kIoError;
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<uint16_t>(port & 0xFFFF));
    if (inet_pton(AF_INET, address.c_str(), &peer.sin_addr) != 1)
        return kIoError;
    if (m_socket == kInvalid || cancelled())
        return kIoCancelled;

    // UDT's blocking connect holds the socket's lock until its handshake gives up, so neither a
    // close nor anything else can cut it short. Connect asynchronously and watch the state in
    // 10 ms steps instead, looking at the cancel flag each time.
    const bool blocking = false;
    UDT::setsockopt(m_socket, 0, UDT_RCVSYN, &blocking, sizeof blocking);
    if (UDT::connect(m_socket, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == UDT::ERROR)
        return kIoUdtError;
    for (int step = 0; step < kConnectSteps; ++step) {
        if (cancelled())
            return kIoCancelled;
        const UDTSTATUS state = UDT::getsockstate(m_socket);
        if (state == CONNECTED) {
            // Back to blocking reads and writes, bounded by the 10 ms time-outs.
            const bool block = true;
            UDT::setsockopt(m_socket, 0, UDT_RCVSYN, &block, sizeof block);
            UDT::setsockopt(m_socket, 0, UDT_SNDSYN, &block, sizeof block);
            return 0;
        }
        if (state != CONNECTING && state != OPENED && state != INIT)
            return kIoUdtError;
        usleep(kWaitMs * 1000);
    }
    return kIoUdtError;
}

void CUDP::cancel() {
    CSockBase::cancel();
}

int CUDP::send(const void* buf, int len, int /*flags*/) {
    if (cancelled())
        return kIoCancelled;
    const int sent = UDT::send(m_socket, static_cast<const char*>(buf), len, 0);
    if (sent == UDT::ERROR)
        return mapUdtError();
    return sent;
}

int CUDP::recv(void* buf, int size, int /*flags*/) {
    if (cancelled())
        return kIoCancelled;
    const int got = UDT::recv(m_socket, static_cast<char*>(buf), size, 0);
    if (got == UDT::ERROR)
        return mapUdtError();
    return got == 0 ? kIoIdle : got;
}

void CUDP::close() {
    std::lock_guard lock(m_lock);
    if (m_socket != kInvalid) {
        UDT::close(m_socket);
        m_socket = kInvalid;
    }
}

} // namespace zq
