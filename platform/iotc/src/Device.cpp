#include "Device.h"

#include "iotc/iotc.h"
#include "sys/Tick.h"

#include <sys/socket.h>

#include <chrono>
#include <string>

namespace iotc {

namespace {

constexpr unsigned kReadSliceMs = 100;
constexpr unsigned kPingSendMs = 1000;
constexpr unsigned kThreadStopMs = 2000;

} // namespace

Device::Device(net::Endpoint relay, net::UniqueFd fd, wire::FrameParser parser,
               const Timing& timing, AdoptSession adopt)
    : m_relay(std::move(relay)), m_timing(timing), m_adopt(std::move(adopt)), m_fd(std::move(fd)),
      m_parser(std::move(parser)) {}

Device::~Device() = default;

std::shared_ptr<Device> Device::start(int deviceId, net::Endpoint relay, net::UniqueFd fd,
                                      wire::FrameParser parser, const Timing& timing,
                                      AdoptSession adopt) {
    std::shared_ptr<Device> device(
        new Device(std::move(relay), std::move(fd), std::move(parser), timing, std::move(adopt)));
    auto self = device;
    if (!device->m_thread.start("iotc-dev-" + std::to_string(deviceId),
                                [self](sys::WorkerContext&) { self->run(); }))
        return nullptr;
    return device;
}

int Device::listen(unsigned timeoutMs) {
    std::unique_lock lock(m_lock);
    m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                       [this] { return !m_pending.empty() || m_lost || m_loggedOut; });
    if (!m_pending.empty()) {
        const int sid = m_pending.front();
        m_pending.pop_front();
        return sid;
    }
    return m_lost || m_loggedOut ? IOTC_ER_SESSION_CLOSED : IOTC_ER_TIMEOUT;
}

std::vector<int> Device::logout() {
    {
        std::lock_guard lock(m_lock);
        m_loggedOut = true;
        m_changed.notify_all();
    }
    m_stopping = true;
    ::shutdown(m_fd.get(), SHUT_RDWR);
    m_thread.stop(kThreadStopMs);
    std::lock_guard lock(m_lock);
    std::vector<int> unclaimed(m_pending.begin(), m_pending.end());
    m_pending.clear();
    return unclaimed;
}

void Device::run() {
    const net::StopCheck stop = [this] { return stopping(); };
    uint32_t lastHeardMs = sys::tickMs();
    uint32_t lastSentMs = lastHeardMs;
    wire::Frame frame;
    for (;;) {
        const auto status = net::readFrame(m_fd.get(), m_parser, frame, kReadSliceMs, stop);
        if (status == net::IoStatus::Ok) {
            lastHeardMs = sys::tickMs();
            if (frame.type == wire::FrameType::Incoming)
                acceptIncoming(wire::tokenOf(frame));
            else if (frame.type != wire::FrameType::Ping)
                break; // the relay speaks out of turn: trust nothing more on this connection
        } else if (status != net::IoStatus::Timeout ||
                   sys::elapsedMs(lastHeardMs) >= m_timing.silenceMs) {
            break;
        }
        if (sys::elapsedMs(lastSentMs) >= m_timing.pingEveryMs) {
            if (net::sendAll(m_fd.get(), wire::encodeFrame(wire::FrameType::Ping), kPingSendMs,
                             stop) != net::IoStatus::Ok)
                break;
            lastSentMs = sys::tickMs();
        }
    }
    std::lock_guard lock(m_lock);
    m_lost = true;
    m_changed.notify_all();
}

void Device::acceptIncoming(uint64_t token) {
    {
        std::lock_guard lock(m_lock);
        if (m_pending.size() >= kMaxPending)
            return;
    }
    const net::StopCheck stop = [this] { return stopping(); };
    net::UniqueFd fd;
    if (net::connectTcp(m_relay, m_timing.relayConnectMs, stop, fd) != net::IoStatus::Ok)
        return;
    if (net::sendAll(fd.get(), wire::encodeTokenFrame(wire::FrameType::Accept, token),
                     m_timing.answerMs, stop) != net::IoStatus::Ok)
        return;
    wire::FrameParser parser;
    wire::Frame answer;
    if (net::readFrame(fd.get(), parser, answer, m_timing.answerMs, stop) != net::IoStatus::Ok ||
        answer.type != wire::FrameType::Connected)
        return;
    const int sid = m_adopt(std::move(fd), std::move(parser));
    if (sid < 0)
        return;
    std::lock_guard lock(m_lock);
    m_pending.push_back(sid);
    m_changed.notify_all();
}

} // namespace iotc
