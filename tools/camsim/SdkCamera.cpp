#include "SdkCamera.h"

#include "JpegEncoder.h"
#include "SdkSessions.h"
#include "SdkWire.h"
#include "SyntheticPicture.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace camsim {

namespace {

using namespace sdkwire;

constexpr size_t kMaxConnections = 32;

// A solid picture of one colour, converted to full-range YCbCr the way JPEG files store it.
Picture solidPicture(int width, int height, const std::array<uint8_t, 3>& rgb) {
    const double r = rgb[0], g = rgb[1], b = rgb[2];
    auto clamp = [](double v) {
        return static_cast<uint8_t>(std::lround(std::min(255.0, std::max(0.0, v))));
    };
    Picture picture;
    picture.width = width;
    picture.height = height;
    picture.y.assign(static_cast<size_t>(width) * height, clamp(0.299 * r + 0.587 * g + 0.114 * b));
    const size_t chroma = static_cast<size_t>(width / 2) * (height / 2);
    picture.u.assign(chroma, clamp(128 - 0.168736 * r - 0.331264 * g + 0.5 * b));
    picture.v.assign(chroma, clamp(128 + 0.5 * r - 0.418688 * g - 0.081312 * b));
    return picture;
}

void putAddress(std::vector<uint8_t>& out, uint32_t hostOrder) {
    const uint32_t network = htonl(hostOrder);
    const auto* bytes = reinterpret_cast<const uint8_t*>(&network);
    out.insert(out.end(), bytes, bytes + 4);
}

uint32_t getAddress(const std::vector<uint8_t>& in, size_t offset) {
    uint32_t network = 0;
    if (offset + 4 <= in.size())
        std::memcpy(&network, in.data() + offset, 4);
    return ntohl(network);
}

} // namespace

SdkCamera::SdkCamera() = default;

SdkCamera::~SdkCamera() {
    stop();
}

std::vector<uint8_t> SdkCamera::defaultParameters(const SdkCameraConfig& config, uint16_t port) {
    std::vector<uint8_t> out;
    putAddress(out, config.address);
    putAddress(out, config.mask);
    putAddress(out, config.gateway);
    putAddress(out, config.dns);
    out.push_back(static_cast<uint8_t>(port >> 8)); // network order
    out.push_back(static_cast<uint8_t>(port));
    putText(out, config.name, 21);
    for (int user = 0; user < 8; ++user) {
        putText(out, user == 0 ? config.user : "", 13);
        putText(out, user == 0 ? config.password : "", 13);
        out.push_back(user == 0 ? 2 : 0);
    }
    // Fields 31-56: values a camera fills in itself, so a client's normalising shows.
    out.push_back(1);                     // 31
    putText(out, "pool.ntp.example", 21); // 32
    out.push_back(3);                     // 33
    put32(out, 3600);                     // 34
    for (uint16_t v : {7, 8, 9, 10})      // 35-38
        put16(out, v);
    out.push_back(4); // 39
    out.push_back(5); // 40
    for (const char* text : {"text41", "text42", "text43"})
        putText(out, text, 21);
    out.push_back(6); // 44
    putText(out, "text45", 41);
    putText(out, "text46", 41);
    for (const char* text : {"text47", "text48", "text49"})
        putText(out, text, 21);
    out.push_back(7); // 50
    putText(out, "text51", 21);
    put32(out, 99);   // 52
    out.push_back(8); // 53
    out.push_back(9); // 54
    for (int i = 0; i < 1880; ++i)
        out.push_back(static_cast<uint8_t>(i)); // 55
    out.push_back(10);                          // 56
    return out;
}

std::optional<SdkPorts> SdkCamera::start(const SdkCameraConfig& config) {
    const std::lock_guard lifecycle(m_lifecycleLock);
    auto fail = [this](const std::string& why) -> std::optional<SdkPorts> {
        const std::lock_guard guard(m_lock);
        m_lastError = why;
        return std::nullopt;
    };
    if (m_running)
        return fail("already running");
    if (config.id.size() != 12 || config.colours.empty())
        return fail("the camera id must have 12 characters and there must be a colour");

    auto core = std::make_shared<SdkCore>();
    core->config = config;
    for (const auto& colour : config.colours) {
        core->jpegs.push_back(
            encodeJpeg(solidPicture(config.pictureWidth, config.pictureHeight, colour)));
        if (core->jpegs.back().empty())
            return fail("cannot encode the test pictures");
    }

    std::string error;
    if (!m_listener.open(config.listenAddress, config.port, false, error))
        return fail(error);
    core->port = m_listener.port();
    core->address = config.address;
    core->mask = config.mask;
    core->gateway = config.gateway;
    core->dns = config.dns;
    core->params = defaultParameters(config, core->port);
    core->net2.assign(kNet2Bytes, 0);

    m_udp = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(config.searchPort);
    const int one = 1;
    ::setsockopt(m_udp, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    ::setsockopt(m_udp, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    if (m_udp < 0 || ::inet_pton(AF_INET, config.listenAddress.c_str(), &local.sin_addr) != 1 ||
        ::bind(m_udp, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        const std::string why = std::string("search port: ") + std::strerror(errno);
        if (m_udp >= 0)
            ::close(m_udp);
        m_udp = -1;
        m_listener.close();
        return fail(why);
    }
    socklen_t size = sizeof local;
    ::getsockname(m_udp, reinterpret_cast<sockaddr*>(&local), &size);

    m_core = core;
    m_searchThread = std::thread([this, core] { serveSearch(core); });
    m_acceptThread.start("sdkcam_accept",
                         [this, core](sys::WorkerContext& worker) { acceptLoop(worker, core); });
    m_running = true;
    return SdkPorts{core->port, ntohs(local.sin_port)};
}

void SdkCamera::stop() {
    const std::lock_guard lifecycle(m_lifecycleLock);
    if (!m_running)
        return;
    m_core->stopping = true;
    m_acceptThread.stop(2000);
    if (m_searchThread.joinable())
        m_searchThread.join();
    ::close(m_udp);
    m_udp = -1;
    m_listener.close();
    std::list<std::unique_ptr<sys::Thread>> connections;
    {
        const std::lock_guard guard(m_connectionsLock);
        connections.swap(m_connections);
    }
    for (auto& thread : connections)
        thread->stop(2000);
    m_running = false;
}

// Search and set-up: answers go back to the asking address and port.
void SdkCamera::serveSearch(const std::shared_ptr<SdkCore>& core) {
    std::vector<uint8_t> buffer(2048);
    while (!core->stopped()) {
        pollfd entry{m_udp, POLLIN, 0};
        if (::poll(&entry, 1, 50) <= 0)
            continue;
        sockaddr_in from{};
        socklen_t fromSize = sizeof from;
        const ssize_t got = ::recvfrom(m_udp, buffer.data(), buffer.size(), 0,
                                       reinterpret_cast<sockaddr*>(&from), &fromSize);
        if (got <= 0)
            continue;
        const auto request = decodeDatagram(buffer.data(), static_cast<size_t>(got), "MO_I");
        if (!request)
            continue;
        std::vector<uint8_t> answer;
        uint16_t answerOpcode = 0;
        if (request->opcode == 0 && request->payload.size() >= 4) {
            const std::lock_guard guard(core->lock);
            ++core->stats.searches;
            putText(answer, core->config.id, 13);
            putText(answer, core->config.name, 21);
            putAddress(answer, core->address);
            putAddress(answer, core->mask);
            putAddress(answer, core->gateway);
            putAddress(answer, core->dns);
            put32(answer, 0x0BADCAFE); // a value the client ignores
            put32(answer, core->config.systemVersion);
            put32(answer, core->config.applicationVersion);
            put16(answer, core->port);
            answerOpcode = 1;
        } else if (request->opcode == 2 && request->payload.size() >= 4 + 39 + 16) {
            SdkSetup setup;
            setup.id = getText(request->payload, 4, 13);
            setup.user = getText(request->payload, 17, 13);
            setup.password = getText(request->payload, 30, 13);
            setup.address = getAddress(request->payload, 43);
            setup.mask = getAddress(request->payload, 47);
            setup.gateway = getAddress(request->payload, 51);
            setup.dns = getAddress(request->payload, 55);
            if (setup.id != core->config.id)
                continue; // set-ups for other cameras are not this camera's business
            const bool accepted =
                setup.user == core->config.user && setup.password == core->config.password;
            {
                const std::lock_guard guard(core->lock);
                ++core->stats.setups;
                core->setups.push_back(setup);
                if (accepted && setup.address != 0) {
                    core->address = setup.address;
                    core->mask = setup.mask;
                    core->gateway = setup.gateway;
                    core->dns = setup.dns;
                }
            }
            put16(answer, accepted ? 0 : 1);
            answerOpcode = 3;
        } else {
            continue;
        }
        const auto bytes = encode("MO_I", answerOpcode, answer, core->config.scramble);
        ::sendto(m_udp, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&from),
                 fromSize);
        core->event("%s from %s:%u", answerOpcode == 1 ? "search" : "set-up",
                    ::inet_ntoa(from.sin_addr), ntohs(from.sin_port));
    }
}

void SdkCamera::acceptLoop(const sys::WorkerContext& worker, const std::shared_ptr<SdkCore>& core) {
    while (!worker.cancelled() && !core->stopped()) {
        std::unique_ptr<Link> link = m_listener.accept(50);
        if (!link)
            continue;
        const std::lock_guard guard(m_connectionsLock);
        m_connections.remove_if(
            [](const std::unique_ptr<sys::Thread>& thread) { return thread->wait(0); });
        if (m_connections.size() >= kMaxConnections)
            continue; // dropping `link` closes it
        auto thread = std::make_unique<sys::Thread>();
        std::shared_ptr<Link> shared(std::move(link));
        thread->start("sdkcam_conn", [shared, core](sys::WorkerContext&) {
            serveSdkConnection(*shared, core);
            shared->close();
        });
        m_connections.push_back(std::move(thread));
    }
}

std::string SdkCamera::lastError() const {
    const std::lock_guard guard(m_lock);
    return m_lastError;
}

SdkCameraStats SdkCamera::stats() const {
    if (!m_core)
        return {};
    const std::lock_guard guard(m_core->lock);
    return m_core->stats;
}

std::vector<SdkSetup> SdkCamera::setups() const {
    if (!m_core)
        return {};
    const std::lock_guard guard(m_core->lock);
    return m_core->setups;
}

std::vector<uint8_t> SdkCamera::parameters() const {
    if (!m_core)
        return {};
    const std::lock_guard guard(m_core->lock);
    return m_core->params;
}

std::vector<uint8_t> SdkCamera::net2() const {
    if (!m_core)
        return {};
    const std::lock_guard guard(m_core->lock);
    return m_core->net2;
}

void SdkCamera::setDdnsStatus(uint16_t status) {
    if (!m_core)
        return;
    const std::lock_guard guard(m_core->lock);
    m_core->ddnsStatus = status;
}

std::vector<uint8_t> SdkCamera::systemFirmware() const {
    if (!m_core)
        return {};
    const std::lock_guard guard(m_core->lock);
    return m_core->systemFirmware;
}

std::vector<uint8_t> SdkCamera::applicationFirmware() const {
    if (!m_core)
        return {};
    const std::lock_guard guard(m_core->lock);
    return m_core->applicationFirmware;
}

SdkControls SdkCamera::controls() const {
    if (!m_core)
        return {};
    const std::lock_guard guard(m_core->lock);
    return m_core->controls;
}

size_t SdkCamera::sendReport(uint16_t opcode, const std::vector<uint32_t>& values) {
    std::vector<uint8_t> payload;
    for (uint32_t value : values)
        put32(payload, value);
    if (!m_core)
        return 0;
    const std::lock_guard guard(m_core->lock);
    for (auto& box : m_core->reportBoxes)
        box->post(encode("MO_O", opcode, payload, m_core->config.scramble));
    return m_core->reportBoxes.size();
}

} // namespace camsim
