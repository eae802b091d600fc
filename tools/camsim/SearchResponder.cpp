#include "SearchResponder.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace camsim {

namespace {

constexpr size_t kMoiHeader = 23;
constexpr size_t kMoiContent = 72;     // more than the 64 bytes a searcher ignores
constexpr size_t kMoiContentUid = 120; // more than 97, so the identifier counts
constexpr size_t kRecordPortByte = 1;  // the port sits one byte into the last int32

void putLe32(std::vector<uint8_t>& out, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
}

void putText(std::vector<uint8_t>& out, size_t at, const std::string& text, size_t room) {
    std::memcpy(out.data() + at, text.data(), std::min(text.size(), room - 1));
}

// Four address bytes in wire order; 0.0.0.0 when the text is no address.
void putAddress(std::vector<uint8_t>& out, size_t at, const std::string& dotted) {
    in_addr address{};
    if (::inet_pton(AF_INET, dotted.c_str(), &address) == 1)
        std::memcpy(out.data() + at, &address, 4);
}

std::vector<uint8_t> moiReply(const SearchCamera& camera) {
    const size_t contentSize = camera.flag == 2 ? kMoiContentUid : kMoiContent;
    std::vector<uint8_t> out(kMoiHeader + contentSize, 0);
    std::memcpy(out.data(), "MO_I", 4);
    out[4] = 1; // opcode 1: a search reply
    putLe32(out, 15, static_cast<uint32_t>(contentSize));
    putLe32(out, 19, static_cast<uint32_t>(contentSize));
    const size_t c = kMoiHeader;
    putText(out, c + 0, camera.mac, 13);
    putText(out, c + 13, camera.name, 21);
    putAddress(out, c + 34, camera.address);
    out[c + 50] = camera.flag;
    out[c + 52] = static_cast<uint8_t>(camera.mediaPort); // the camera's own short order
    out[c + 53] = static_cast<uint8_t>(camera.mediaPort >> 8);
    putAddress(out, c + 54, camera.extra1);
    putAddress(out, c + 58, camera.extra2);
    out[c + 62] = static_cast<uint8_t>(camera.webPort >> 8); // network order
    out[c + 63] = static_cast<uint8_t>(camera.webPort);
    if (camera.flag == 2)
        putText(out, c + 65, camera.uid, contentSize - 65);
    return out;
}

std::vector<uint8_t> recordReply(const SearchCamera& camera) {
    std::vector<uint8_t> out(5, 0);
    putLe32(out, 0, 0x4D709AB4);
    // In the order the searcher lays them out: MAC, extra 2, extra 1, name.
    for (const std::string* text : {&camera.mac, &camera.extra2, &camera.extra1, &camera.name}) {
        const size_t length = std::min<size_t>(text->size(), 255);
        out.push_back(static_cast<uint8_t>(length));
        out.insert(out.end(), text->begin(), text->begin() + static_cast<std::ptrdiff_t>(length));
    }
    const size_t numbers = out.size();
    out.resize(numbers + 32, 0);
    putAddress(out, numbers, camera.address);
    out[numbers + 28 + kRecordPortByte] = static_cast<uint8_t>(camera.webPort);
    out[numbers + 28 + kRecordPortByte + 1] = static_cast<uint8_t>(camera.webPort >> 8);
    return out;
}

// Cuts `stream` into at least `parts` near-equal datagrams of at most kMaxDatagram bytes.
void cut(const std::vector<uint8_t>& stream, size_t parts,
         std::vector<std::vector<uint8_t>>& datagrams) {
    const size_t max = SearchResponder::kMaxDatagram;
    const size_t count = std::max({parts, (stream.size() + max - 1) / max, size_t{1}});
    size_t begin = 0;
    for (size_t i = 0; i < count; ++i) {
        const size_t end = stream.size() * (i + 1) / count;
        datagrams.emplace_back(stream.begin() + static_cast<std::ptrdiff_t>(begin),
                               stream.begin() + static_cast<std::ptrdiff_t>(end));
        begin = end;
    }
}

bool isSearchRequest(const uint8_t* data, size_t size) {
    return size >= kMoiHeader && std::memcmp(data, "MO_I", 4) == 0 && data[4] == 0 && data[5] == 0;
}

} // namespace

std::vector<uint8_t> SearchResponder::encodeReply(SearchReplyFormat format,
                                                  const SearchCamera& camera) {
    return format == SearchReplyFormat::Moi ? moiReply(camera) : recordReply(camera);
}

std::vector<std::vector<uint8_t>>
SearchResponder::replyDatagrams(const SearchResponderConfig& config) {
    std::vector<std::vector<uint8_t>> datagrams;
    std::vector<uint8_t> batch;
    for (const SearchCamera& camera : config.cameras) {
        const std::vector<uint8_t> reply = encodeReply(config.format, camera);
        if (!config.batch) {
            cut(reply, config.parts, datagrams);
            continue;
        }
        // Replies share a datagram while they fit; a reply is never cut for batching alone.
        if (!batch.empty() && batch.size() + reply.size() > kMaxDatagram) {
            cut(batch, config.parts, datagrams);
            batch.clear();
        }
        batch.insert(batch.end(), reply.begin(), reply.end());
    }
    if (!batch.empty())
        cut(batch, config.parts, datagrams);
    return datagrams;
}

std::optional<uint16_t> SearchResponder::start(const SearchResponderConfig& config) {
    stop();
    m_config = config;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(config.port);
    if (::inet_pton(AF_INET, config.listenAddress.c_str(), &local.sin_addr) != 1) {
        m_error = "bad listen address " + config.listenAddress;
        return std::nullopt;
    }
    m_socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    // Several responders may share port 10000 on one host; each hears every broadcast.
    if (m_socket < 0 || ::setsockopt(m_socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::setsockopt(m_socket, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0 ||
        ::bind(m_socket, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        m_error = std::string("cannot bind the search port: ") + std::strerror(errno);
        if (m_socket >= 0)
            ::close(m_socket);
        m_socket = -1;
        return std::nullopt;
    }
    socklen_t length = sizeof local;
    ::getsockname(m_socket, reinterpret_cast<sockaddr*>(&local), &length);
    m_stop = false;
    m_thread = std::thread([this] { serve(); });
    return ntohs(local.sin_port);
}

void SearchResponder::stop() {
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_socket >= 0)
        ::close(m_socket);
    m_socket = -1;
}

void SearchResponder::serve() {
    const std::vector<std::vector<uint8_t>> datagrams = replyDatagrams(m_config);
    while (!m_stop) {
        pollfd ready{m_socket, POLLIN, 0};
        if (::poll(&ready, 1, 100) <= 0)
            continue;
        uint8_t request[512];
        sockaddr_in peer{};
        socklen_t peerLength = sizeof peer;
        const ssize_t got = ::recvfrom(m_socket, request, sizeof request, 0,
                                       reinterpret_cast<sockaddr*>(&peer), &peerLength);
        if (got < 0 || !isSearchRequest(request, static_cast<size_t>(got)))
            continue;
        for (const auto& datagram : datagrams)
            ::sendto(m_socket, datagram.data(), datagram.size(), MSG_NOSIGNAL,
                     reinterpret_cast<const sockaddr*>(&peer), peerLength);
        ++m_answered;
        if (m_config.eventSink) {
            char from[INET_ADDRSTRLEN] = "?";
            ::inet_ntop(AF_INET, &peer.sin_addr, from, sizeof from);
            m_config.eventSink("search request from " + std::string(from) + ":" +
                               std::to_string(ntohs(peer.sin_port)) + ", " +
                               std::to_string(datagrams.size()) + " datagrams sent");
        }
    }
}

} // namespace camsim
