#include "ConnectionRouter.h"

#include "CameraCore.h"
#include "Channel.h"
#include "ControlSession.h"
#include "HttpServer.h"
#include "LiveSession.h"
#include "PacketStream.h"
#include "PlaybackSession.h"
#include "Protocol.h"

#include "sys/Tick.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace camsim {

namespace {

// A client that connects must say something within this time.
constexpr unsigned kFirstBytesTimeoutMs = 5000;
// The one-port preface is a short HTTP-like head; anything longer is not one.
constexpr size_t kMaxPrefaceBytes = 1024;

// Receives until `count` bytes are pending; false on time-out or a closed connection.
bool awaitBytes(Channel& channel, size_t count) {
    const uint32_t start = sys::tickMs();
    while (channel.pending().size() < count) {
        if (sys::elapsedMs(start) > kFirstBytesTimeoutMs || !channel.receive(20)) {
            return false;
        }
    }
    return true;
}

bool startsWith(const std::vector<uint8_t>& bytes, std::string_view text) {
    return bytes.size() >= text.size() && std::memcmp(bytes.data(), text.data(), text.size()) == 0;
}

// Drops the "SERVERPUSH / HTTP/1.1 ... \r\n\r\n" preface from the pending bytes.
bool skipPreface(Channel& channel) {
    const uint32_t start = sys::tickMs();
    for (;;) {
        std::vector<uint8_t>& pending = channel.pending();
        const std::string_view text(reinterpret_cast<const char*>(pending.data()),
                                    std::min(pending.size(), kMaxPrefaceBytes));
        const size_t end = text.find("\r\n\r\n");
        if (end != std::string_view::npos) {
            pending.erase(pending.begin(), pending.begin() + static_cast<ptrdiff_t>(end + 4));
            return true;
        }
        if (pending.size() >= kMaxPrefaceBytes || sys::elapsedMs(start) > kFirstBytesTimeoutMs ||
            !channel.receive(20)) {
            return false;
        }
    }
}

void serveBinary(Channel& channel, CameraCore& core) {
    PacketStream packets(channel, core);
    const uint32_t start = sys::tickMs();
    auto first = packets.await(kFirstBytesTimeoutMs);
    // Clients may send a text command while their control login is still on its way; it has no
    // answer before the login, and the login must still arrive within the first-bytes time.
    while (first && first->command == cmd::kTextCommand) {
        core.event("text command before the login ignored");
        const uint32_t spent = sys::elapsedMs(start);
        if (spent >= kFirstBytesTimeoutMs) {
            return;
        }
        first = packets.await(kFirstBytesTimeoutMs - spent);
    }
    if (!first) {
        return;
    }
    switch (first->command) {
    case cmd::kControlLogin:
        ControlSession(core, channel, packets).run(*first);
        return;
    case cmd::kLiveLogin:
        LiveSession(core, channel, packets).run(*first);
        return;
    case cmd::kPlaybackLogin:
        PlaybackSession(core, channel, packets).run(*first);
        return;
    default:
        core.count(&CameraStats::protocolErrors);
        core.event("connection opened with packet %d; closed", first->command);
    }
}

} // namespace

void serveConnection(std::shared_ptr<Link> link, CameraCore& core, const sys::WorkerContext& worker,
                     bool webPort) {
    core.count(&CameraStats::connections);
    core.count(&CameraStats::activeConnections);
    const std::string peer = link->peer();
    const char* kind = link->kind();
    Channel channel(std::move(link), core, worker);
    if (webPort) {
        HttpServer(core).serve(channel);
    } else if (awaitBytes(channel, 4)) {
        if (startsWith(channel.pending(), "GET ")) {
            if (core.config().onePort) {
                HttpServer(core).serve(channel);
            } else {
                core.count(&CameraStats::protocolErrors);
            }
        } else if (startsWith(channel.pending(), "SERV")) {
            if (skipPreface(channel)) {
                serveBinary(channel, core);
            } else {
                core.count(&CameraStats::protocolErrors);
            }
        } else {
            serveBinary(channel, core);
        }
    }
    channel.close();
    core.count(&CameraStats::activeConnections, -1);
    if (!webPort) {
        core.event("%s connection from %s closed", kind, peer.c_str());
    }
}

} // namespace camsim
