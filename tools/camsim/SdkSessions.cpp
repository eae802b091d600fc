#include "SdkSessions.h"

#include "SdkWire.h"

#include "sys/Tick.h"

#include <cmath>
#include <ctime>

namespace camsim {

namespace {

using namespace sdkwire;

constexpr size_t kMaxRequest = 4096;
// A firmware upload carries the whole file: the SDK sends up to 16 MB and its length.
constexpr size_t kMaxUpload = (16u << 20) + 4;
constexpr int kIdleMs = 200;
constexpr int kFirstMessageMs = 5000;
constexpr int16_t kAudioAmplitude = 8000;
constexpr int kSamplesPerSecond = 8000;

struct Conn {
    Link& link;
    const std::shared_ptr<SdkCore>& core;
    const char* tag;

    std::function<bool()> stop() const {
        auto shared = core;
        return [shared] { return shared->stopped(); };
    }
    bool send(uint16_t opcode, const std::vector<uint8_t>& payload) const {
        return sendAll(link, encode(tag, opcode, payload, core->config.scramble), stop());
    }
    void badRequest() const {
        const std::lock_guard guard(core->lock);
        ++core->stats.badRequests;
    }
};

// Opcodes 0-3 on either session's first channel: true when the client logged in. `onAccepted`
// runs before the client hears so, so whatever it sets up is there when the client goes on.
bool login(const Conn& conn, const Message& first, const std::function<void()>& onAccepted) {
    SdkCore& core = *conn.core;
    if (first.opcode != 0)
        return false;
    std::vector<uint8_t> answer;
    put16(answer, 0);
    putText(answer, core.config.loginId.empty() ? core.config.id : core.config.loginId, 13);
    put32(answer, core.config.protocolVersion);
    put32(answer, core.config.systemVersion);
    put32(answer, core.config.applicationVersion);
    if (!conn.send(1, answer))
        return false;
    Message verify;
    if (read(conn.link, conn.tag, kMaxRequest, kFirstMessageMs, conn.stop(), verify) !=
            ReadResult::Message ||
        verify.opcode != 2 || verify.payload.size() < 26) {
        conn.badRequest();
        return false;
    }
    const bool accepted = getText(verify.payload, 0, 13) == core.config.user &&
                          getText(verify.payload, 13, 13) == core.config.password;
    {
        const std::lock_guard guard(core.lock);
        if (!accepted)
            ++core.stats.rejectedLogins;
        else if (std::string(conn.tag) == "MO_M")
            ++core.stats.managementLogins;
        else
            ++core.stats.monitorLogins;
    }
    if (accepted && onAccepted)
        onAccepted();
    std::vector<uint8_t> status;
    put16(status, accepted ? 0 : 1);
    core.event("%s login of \"%s\": %s", conn.tag, getText(verify.payload, 0, 13).c_str(),
               accepted ? "accepted" : "refused");
    return conn.send(3, status) && accepted;
}

bool handleManagement(const Conn& conn, const Message& request) {
    SdkCore& core = *conn.core;
    std::vector<uint8_t> answer;
    std::unique_lock guard(core.lock);
    switch (request.opcode) {
    case 4:
        answer = core.params;
        guard.unlock();
        return conn.send(5, answer);
    case 6:
        if (request.payload.size() != SdkCamera::kParamsBytes) {
            ++core.stats.badRequests;
            return true;
        }
        core.params = request.payload;
        return true;
    case 7: {
        const auto now = static_cast<uint32_t>(std::time(nullptr));
        int32_t zone = 0;
        if (!core.controls.timesSet.empty())
            zone = core.controls.timesSet.back().second;
        guard.unlock();
        put32(answer, now);
        put32(answer, static_cast<uint32_t>(zone));
        return conn.send(8, answer);
    }
    case 9:
        if (request.payload.size() < 8) {
            ++core.stats.badRequests;
            return true;
        }
        core.controls.timesSet.emplace_back(get32(request.payload, 0),
                                            static_cast<int32_t>(get32(request.payload, 4)));
        return true;
    case 10:
        ++core.stats.factoryResets;
        core.params = SdkCamera::defaultParameters(core.config, core.port);
        return true;
    case 11:
        ++core.stats.reboots;
        core.event("reboot");
        return false; // a rebooting camera drops its connections
    case 12:
    case 13: {
        const uint32_t length = get32(request.payload, 0);
        if (request.payload.size() < 4 || length != request.payload.size() - 4) {
            ++core.stats.badRequests;
            return true;
        }
        auto& firmware = request.opcode == 12 ? core.systemFirmware : core.applicationFirmware;
        firmware.assign(request.payload.begin() + 4, request.payload.end());
        core.event("firmware upload (%s): %u bytes", request.opcode == 12 ? "system" : "web",
                   length);
        return true;
    }
    case 17:
        answer = core.net2;
        guard.unlock();
        return conn.send(18, answer);
    case 19:
        if (request.payload.size() != SdkCamera::kNet2Bytes) {
            ++core.stats.badRequests;
            return true;
        }
        core.net2 = request.payload;
        return true;
    case 26:
        put16(answer, core.ddnsStatus);
        guard.unlock();
        return conn.send(27, answer);
    case 28:
        ++core.stats.ddnsRestarts;
        return true;
    case 255:
        ++core.stats.keepAlives;
        return true;
    default:
        ++core.stats.badRequests;
        return true;
    }
}

void serveManagement(const Conn& conn) {
    while (!conn.core->stopped()) {
        Message request;
        switch (read(conn.link, "MO_M", kMaxUpload, kIdleMs, conn.stop(), request)) {
        case ReadResult::Idle:
            continue;
        case ReadResult::Message:
            if (!handleManagement(conn, request))
                return;
            continue;
        case ReadResult::Bad:
            conn.badRequest();
            return;
        case ReadResult::Closed:
            return;
        }
    }
}

// Handles one monitor request; false ends the connection.
bool handleMonitor(const Conn& conn, const Message& request, uint32_t connectionId) {
    SdkCore& core = *conn.core;
    std::unique_lock guard(core.lock);
    SdkCore::Grant& grant = core.grants[connectionId];
    switch (request.opcode) {
    case 4:
    case 8: {
        (request.opcode == 4 ? grant.video : grant.audio) = true;
        guard.unlock();
        std::vector<uint8_t> answer;
        put16(answer, 0);
        put32(answer, connectionId);
        core.event("%s start, connection id %u", request.opcode == 4 ? "video" : "audio",
                   connectionId);
        return conn.send(9, answer);
    }
    case 6:
        grant.video = false;
        return true;
    case 10:
        grant.audio = false;
        return true;
    case 7:
        core.controls.maxVideoRates.push_back(get32(request.payload, 0));
        return true;
    case 14:
        core.controls.decoder.push_back(get32(request.payload, 0));
        return true;
    case 16:
        ++core.stats.readyMessages;
        return true;
    case 19:
        core.controls.sensor.emplace_back(get32(request.payload, 0), get32(request.payload, 4));
        return true;
    case 255:
        ++core.stats.keepAlives;
        return true;
    default:
        ++core.stats.badRequests;
        return true;
    }
}

// After the login: `box` is already among the camera's report boxes.
void serveMonitor(const Conn& conn, const std::shared_ptr<NoticeBox>& box) {
    SdkCore& core = *conn.core;
    uint32_t connectionId = 0;
    {
        const std::lock_guard guard(core.lock);
        connectionId = core.nextConnectionId++;
    }
    while (!core.stopped()) {
        bool sent = true;
        for (auto& packet : box->takeAll())
            sent = sent && sendAll(conn.link, packet, conn.stop());
        if (!sent)
            break;
        Message request;
        const ReadResult result =
            read(conn.link, "MO_O", kMaxRequest, kIdleMs, conn.stop(), request);
        if (result == ReadResult::Idle)
            continue;
        if (result != ReadResult::Message || !handleMonitor(conn, request, connectionId)) {
            if (result == ReadResult::Bad)
                conn.badRequest();
            break;
        }
    }
    const std::lock_guard guard(core.lock);
    core.reportBoxes.remove(box);
    core.grants.erase(connectionId);
}

std::vector<uint8_t> pictureMessage(const SdkCore& core, uint32_t stamp, uint32_t index) {
    const std::vector<uint8_t>& jpeg = core.jpegs[index % core.jpegs.size()];
    std::vector<uint8_t> payload;
    put32(payload, stamp);
    put32(payload, index); // frame time: the picture's index, so tests know its colour
    payload.push_back(0);
    put32(payload, static_cast<uint32_t>(jpeg.size()));
    payload.insert(payload.end(), jpeg.begin(), jpeg.end());
    return encode("MO_V", 1, payload, core.config.scramble);
}

// A 1 kHz tone, continuous from block to block.
std::vector<uint8_t> audioMessage(const SdkCore& core, uint32_t stamp, uint32_t serial) {
    const size_t samples = kSamplesPerSecond / 1000 * core.config.audioBlockMs;
    std::vector<uint8_t> payload;
    put32(payload, stamp);
    put32(payload, serial);
    put32(payload, stamp); // gather time
    payload.push_back(0);  // 16-bit PCM
    put32(payload, static_cast<uint32_t>(samples * 2));
    for (size_t i = 0; i < samples; ++i) {
        const double phase =
            2.0 * M_PI * 1000.0 * static_cast<double>(serial * samples + i) / kSamplesPerSecond;
        put16(payload, static_cast<uint16_t>(
                           static_cast<int16_t>(std::lround(kAudioAmplitude * std::sin(phase)))));
    }
    return encode("MO_V", 2, payload, core.config.scramble);
}

// Streams pictures and audio blocks on a served video login, paced by the wall clock; with
// shuffleStamps each pair goes out in reverse order.
void serveVideo(const Conn& conn, uint32_t connectionId) {
    SdkCore& core = *conn.core;
    const uint32_t start = sys::tickMs();
    const uint32_t stampBase = 100000; // 10 ms units; the client only cares about differences
    const uint32_t pictureMs =
        1000 / static_cast<uint32_t>(std::max(1, core.config.framesPerSecond));
    const uint32_t audioMs = std::max(10u, core.config.audioBlockMs);
    uint32_t pictures = 0;
    uint32_t blocks = 0;
    std::vector<uint8_t> held;
    while (!core.stopped()) {
        // Read whatever the client sends (repeated logins) without waiting long.
        uint8_t scratch[256];
        if (conn.link.receive(scratch, sizeof scratch, 5) < 0)
            return;
        SdkCore::Grant grant;
        {
            const std::lock_guard guard(core.lock);
            const auto found = core.grants.find(connectionId);
            if (found == core.grants.end())
                return; // the monitor session ended
            grant = found->second;
        }
        const uint32_t now = sys::elapsedMs(start);
        std::vector<std::vector<uint8_t>> out;
        if (grant.video && now >= pictures * pictureMs) {
            out.push_back(pictureMessage(core, stampBase + pictures * pictureMs / 10, pictures));
            ++pictures;
        }
        if (grant.audio && now >= blocks * audioMs) {
            out.push_back(audioMessage(core, stampBase + blocks * audioMs / 10, blocks));
            ++blocks;
        }
        for (auto& message : out) {
            if (core.config.shuffleStamps && held.empty()) {
                held = std::move(message);
                continue;
            }
            if (!sendAll(conn.link, message, conn.stop()))
                return;
            if (!held.empty() && !sendAll(conn.link, std::exchange(held, {}), conn.stop()))
                return;
        }
        {
            const std::lock_guard guard(core.lock);
            core.stats.pictures = std::max(core.stats.pictures, pictures);
            core.stats.audioBlocks = std::max(core.stats.audioBlocks, blocks);
        }
        if (out.empty())
            sys::sleepMs(5);
    }
}

// Video logins: the first `ignoredVideoLogins` of the camera get no answer, then streaming
// starts for a known connection id.
void awaitVideoLogin(const Conn& conn, Message login) {
    SdkCore& core = *conn.core;
    for (;;) {
        const uint32_t connectionId = get32(login.payload, 0);
        bool served = false;
        {
            const std::lock_guard guard(core.lock);
            ++core.stats.videoLogins;
            if (core.stats.videoLogins > core.config.ignoredVideoLogins &&
                login.payload.size() >= 4 && core.grants.count(connectionId) != 0) {
                ++core.stats.servedVideoLogins;
                served = true;
            }
        }
        if (served) {
            core.event("video login, connection id %u", connectionId);
            serveVideo(conn, connectionId);
            return;
        }
        ReadResult result;
        do {
            result = read(conn.link, "MO_V", kMaxRequest, kIdleMs, conn.stop(), login);
        } while (result == ReadResult::Idle && !core.stopped());
        if (result != ReadResult::Message || login.opcode != 0)
            return;
    }
}

} // namespace

void serveSdkConnection(Link& link, const std::shared_ptr<SdkCore>& core) {
    Message first;
    std::string tag;
    const auto stop = [core] { return core->stopped(); };
    if (read(link, nullptr, kMaxRequest, kFirstMessageMs, stop, first, &tag) !=
        ReadResult::Message) {
        return;
    }
    if (tag == "MO_M") {
        const Conn conn{link, core, "MO_M"};
        if (login(conn, first, nullptr))
            serveManagement(conn);
    } else if (tag == "MO_O") {
        const Conn conn{link, core, "MO_O"};
        // Reports reach a session from the moment its client knows it is logged in.
        auto box = std::make_shared<NoticeBox>();
        const bool loggedIn = login(conn, first, [&] {
            const std::lock_guard guard(core->lock);
            core->reportBoxes.push_back(box);
        });
        if (loggedIn) {
            serveMonitor(conn, box);
        } else {
            const std::lock_guard guard(core->lock);
            core->reportBoxes.remove(box);
        }
    } else if (tag == "MO_V" && first.opcode == 0) {
        awaitVideoLogin(Conn{link, core, "MO_V"}, std::move(first));
    }
}

} // namespace camsim
