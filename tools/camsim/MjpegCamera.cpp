#include "MjpegCamera.h"

#include "EventSink.h"
#include "JpegEncoder.h"
#include "SyntheticPicture.h"
#include "UrlQuery.h"

#include "audio/ImaAdpcm.h"
#include "sys/Tick.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>

namespace camsim {

namespace {

constexpr uint32_t kStopBudgetMs = 1000;
constexpr size_t kHeader = 23;
constexpr int32_t kMaxContent = 1 << 20;
constexpr size_t kMaxCgiLog = 1000;
constexpr size_t kMaxTalkPackets = 2000;
constexpr size_t kMaxNotices = 64;
constexpr int kPictures = 10;
constexpr unsigned kAudioPeriodMs = 40; // 320 samples at 8 kHz: 160 bytes of ADPCM
constexpr unsigned kFirstPacketMs = 5000;

enum : uint16_t {
    kLogin = 0,
    kLoginReply = 1,
    kVerify = 2,
    kVerifyReply = 3,
    kVideoStart = 4,
    kVideoReply = 5,
    kVideoEnd = 6,
    kAudioStart = 8,
    kAudioReply = 9,
    kAudioEnd = 10,
    kTalkStart = 11,
    kTalkReply = 12,
    kTalkEnd = 13,
    kDecoder = 14,
    kMediaLogin = 0,
    kPicture = 1,
    kAudio = 2,
    kTalk = 3,
};

void put32(uint8_t* at, int32_t value) {
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<uint8_t>(static_cast<uint32_t>(value) >> (8 * i));
}

int32_t get32(const uint8_t* at) {
    return static_cast<int32_t>(static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
                                static_cast<uint32_t>(at[2]) << 16 |
                                static_cast<uint32_t>(at[3]) << 24);
}

std::vector<uint8_t> packet(const char* magic, uint16_t opcode,
                            const std::vector<uint8_t>& content) {
    std::vector<uint8_t> out(kHeader, 0);
    std::memcpy(out.data(), magic, 4);
    out[4] = static_cast<uint8_t>(opcode);
    out[5] = static_cast<uint8_t>(opcode >> 8);
    put32(out.data() + 15, static_cast<int32_t>(content.size()));
    put32(out.data() + 19, static_cast<int32_t>(content.size()));
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

std::vector<uint8_t> reply(uint16_t opcode, uint16_t result, int32_t id) {
    std::vector<uint8_t> content(6, 0);
    content[0] = static_cast<uint8_t>(result);
    content[1] = static_cast<uint8_t>(result >> 8);
    put32(content.data() + 2, id);
    return packet("MO_O", opcode, content);
}

std::string nameField(const uint8_t* field) {
    return std::string(reinterpret_cast<const char*>(field),
                       strnlen(reinterpret_cast<const char*>(field), 13));
}

struct Grant {
    bool video = false;
    bool audio = false;
    bool talk = false;
};

} // namespace

struct MjpegCore {
    MjpegCameraConfig config;
    Faults faults;
    std::atomic<bool> stopping{false};
    std::atomic<bool> firstFormMissing{false};
    std::vector<std::vector<uint8_t>> jpegs; // filled before any thread starts

    mutable std::mutex lock;
    MjpegStats stats;                                                         // guarded by lock
    MjpegSettings settings;                                                   // guarded by lock
    std::vector<MjpegCgiEntry> cgiLog;                                        // guarded by lock
    std::vector<uint8_t> decoderCodes;                                        // guarded by lock
    std::vector<std::vector<uint8_t>> talk;                                   // guarded by lock
    std::map<int32_t, Grant> grants;                                          // guarded by lock
    int32_t nextId = 1000;                                                    // guarded by lock
    std::list<std::shared_ptr<std::deque<std::vector<uint8_t>>>> noticeBoxes; // guarded by lock

    void event(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        va_list args;
        va_start(args, format);
        emitEvent(config.eventSink, format, args);
        va_end(args);
    }
    void count(uint32_t MjpegStats::*field) {
        std::lock_guard guard(lock);
        ++(stats.*field);
    }
};

namespace {

// One connection as the session loops see it.
class Conn {
public:
    Conn(std::shared_ptr<Link> link, MjpegCore& core, const sys::WorkerContext& worker)
        : m_link(std::move(link)), m_core(core), m_worker(worker),
          m_generation(core.faults.dropGeneration()) {}

    bool open() const {
        return !m_broken && !m_worker.cancelled() && !m_core.stopping &&
               m_core.faults.dropGeneration() == m_generation;
    }
    bool receive(int waitMs) {
        if (!open())
            return false;
        if (pending.size() > (2u << 20))
            return true;
        uint8_t buffer[16384];
        const int got = m_link->receive(buffer, sizeof buffer, waitMs);
        if (got < 0) {
            m_broken = true;
            return false;
        }
        pending.insert(pending.end(), buffer, buffer + got);
        return true;
    }
    bool send(const std::vector<uint8_t>& bytes) {
        if (m_core.faults.garbage && !sendRaw(reinterpret_cast<const uint8_t*>("xyz"), 3))
            return false;
        if (!m_core.faults.byteByByte)
            return sendRaw(bytes.data(), bytes.size());
        for (size_t i = 0; i < bytes.size(); ++i) {
            if (!sendRaw(bytes.data() + i, 1))
                return false;
            if (i < kHeader)
                sys::sleepMs(1);
        }
        return true;
    }
    bool sendRaw(const uint8_t* data, size_t length) {
        size_t sent = 0;
        while (sent < length) {
            if (!open())
                return false;
            const int n = m_link->send(data + sent, length - sent, 50);
            if (n < 0) {
                m_broken = true;
                return false;
            }
            sent += static_cast<size_t>(n);
        }
        return true;
    }
    void pause(unsigned ms) const {
        const uint32_t start = sys::tickMs();
        while (open() && sys::elapsedMs(start) < ms)
            sys::sleepMs(ms - sys::elapsedMs(start) < 10 ? 1 : 10);
    }
    // Cuts one packet with `magic` from pending. 1 taken, 0 incomplete, -1 malformed.
    int take(const char* magic, uint16_t& opcode, std::vector<uint8_t>& content) {
        if (pending.size() < kHeader)
            return 0;
        if (std::memcmp(pending.data(), magic, 4) != 0)
            return -1;
        const int32_t length = get32(pending.data() + 15);
        if (length < 0 || length > kMaxContent || get32(pending.data() + 19) != length)
            return -1;
        if (pending.size() < kHeader + static_cast<size_t>(length))
            return 0;
        opcode = static_cast<uint16_t>(pending[4] | pending[5] << 8);
        content.assign(pending.begin() + kHeader, pending.begin() + kHeader + length);
        pending.erase(pending.begin(), pending.begin() + kHeader + length);
        return 1;
    }

    std::vector<uint8_t> pending;

private:
    std::shared_ptr<Link> m_link;
    MjpegCore& m_core;
    const sys::WorkerContext& m_worker;
    const uint32_t m_generation;
    bool m_broken = false;
};

void serveControl(Conn& conn, MjpegCore& core) {
    bool verified = false;
    int32_t id = 0;
    auto box = std::make_shared<std::deque<std::vector<uint8_t>>>();
    auto grant = [&](bool Grant::*what, bool on) {
        std::lock_guard guard(core.lock);
        if (id == 0) {
            id = core.nextId++;
            core.grants[id] = Grant{};
        }
        core.grants[id].*what = on;
        return id;
    };
    while (conn.receive(10)) {
        uint16_t opcode = 0;
        std::vector<uint8_t> content;
        int taken;
        while ((taken = conn.take("MO_O", opcode, content)) == 1) {
            switch (opcode) {
            case kLogin:
                conn.send(reply(kLoginReply, 0, 0));
                break;
            case kVerify: {
                const bool ok = content.size() >= 26 && !core.faults.refuseLogins &&
                                nameField(content.data()) == core.config.user &&
                                nameField(content.data() + 13) == core.config.password;
                core.count(ok ? &MjpegStats::logins : &MjpegStats::rejectedLogins);
                core.event("verify %s", ok ? "accepted" : "refused");
                if (ok && !verified) {
                    verified = true;
                    std::lock_guard guard(core.lock);
                    core.noticeBoxes.push_back(box);
                }
                conn.send(reply(kVerifyReply, ok ? 0 : 1, 0));
                break;
            }
            case kVideoStart:
                conn.send(verified ? reply(kVideoReply, 0, grant(&Grant::video, true))
                                   : reply(kVideoReply, 1, 0));
                break;
            case kAudioStart:
                conn.send(verified ? reply(kAudioReply, 0, grant(&Grant::audio, true))
                                   : reply(kAudioReply, 1, 0));
                break;
            case kTalkStart:
                conn.send(verified ? reply(kTalkReply, 0, grant(&Grant::talk, true))
                                   : reply(kTalkReply, 1, 0));
                break;
            case kVideoEnd:
                grant(&Grant::video, false);
                break;
            case kAudioEnd:
                grant(&Grant::audio, false);
                break;
            case kTalkEnd:
                grant(&Grant::talk, false);
                break;
            case kDecoder:
                if (verified && content.size() == 1) {
                    std::lock_guard guard(core.lock);
                    core.decoderCodes.push_back(content[0]);
                }
                break;
            default:
                break;
            }
        }
        if (taken < 0) {
            core.count(&MjpegStats::protocolErrors);
            break;
        }
        std::deque<std::vector<uint8_t>> notices;
        {
            std::lock_guard guard(core.lock);
            notices.swap(*box);
        }
        for (const auto& notice : notices)
            conn.send(notice);
    }
    std::lock_guard guard(core.lock);
    core.grants.erase(id);
    core.noticeBoxes.remove(box);
}

void serveMedia(Conn& conn, MjpegCore& core) {
    int32_t id = 0;
    int picture = 0;
    codec::ImaAdpcmState adpcm;
    int16_t samples[320];
    int phase = 0;
    const unsigned picturePeriod =
        1000u / static_cast<unsigned>(std::max(1, core.config.framesPerSecond));
    uint32_t lastPicture = sys::tickMs() - picturePeriod;
    uint32_t lastAudio = sys::tickMs();
    while (conn.receive(5)) {
        uint16_t opcode = 0;
        std::vector<uint8_t> content;
        int taken;
        while ((taken = conn.take("MO_V", opcode, content)) == 1) {
            if (opcode == kMediaLogin && content.size() == 4) {
                const int32_t wanted = get32(content.data());
                std::lock_guard guard(core.lock);
                if (core.grants.count(wanted) != 0) {
                    id = wanted;
                    ++core.stats.mediaLogins;
                }
            } else if (opcode == kTalk) {
                const bool ok = content.size() == 177 && get32(content.data() + 13) == 160;
                std::lock_guard guard(core.lock);
                ++(ok ? core.stats.talkPackets : core.stats.talkRejects);
                if (ok && core.talk.size() < kMaxTalkPackets)
                    core.talk.emplace_back(content.begin() + 17, content.end());
            }
        }
        if (taken < 0) {
            core.count(&MjpegStats::protocolErrors);
            break;
        }
        Grant grant;
        {
            std::lock_guard guard(core.lock);
            const auto found = core.grants.find(id);
            if (found == core.grants.end())
                id = 0; // the control connection is gone: wait for a new login
            else
                grant = found->second;
        }
        if (id == 0 || core.faults.stalled())
            continue;
        const int32_t now = static_cast<int32_t>(sys::tickMs());
        if (grant.video && sys::elapsedMs(lastPicture) >= picturePeriod) {
            lastPicture = sys::tickMs();
            const auto& jpeg = core.jpegs[static_cast<size_t>(picture++ % kPictures)];
            std::vector<uint8_t> body(13, 0);
            put32(body.data(), now);
            put32(body.data() + 4, picture);
            put32(body.data() + 9, static_cast<int32_t>(jpeg.size()));
            body.insert(body.end(), jpeg.begin(), jpeg.end());
            if (!conn.send(packet("MO_V", kPicture, body)))
                break;
            core.count(&MjpegStats::pictures);
        }
        if (grant.audio && sys::elapsedMs(lastAudio) >= kAudioPeriodMs) {
            lastAudio = sys::tickMs();
            for (int16_t& s : samples)
                s = static_cast<int16_t>(8000 * std::sin(2 * M_PI * 440 * (phase++) / 8000.0));
            std::vector<uint8_t> body(17 + 160, 0);
            put32(body.data(), now);
            put32(body.data() + 4, phase / 320);
            put32(body.data() + 8, now / 1000);
            body[12] = 0; // IMA ADPCM
            put32(body.data() + 13, 160);
            codec::imaEncode(adpcm, samples, 320, body.data() + 17);
            if (!conn.send(packet("MO_V", kAudio, body)))
                break;
            core.count(&MjpegStats::audioPackets);
        }
    }
}

std::string jsAnswer(const std::vector<std::pair<const char*, int>>& values) {
    std::string body;
    for (const auto& [name, value] : values)
        body += "var " + std::string(name) + "=" + std::to_string(value) + ";\r\n";
    return body;
}

void answer(Conn& conn, int status, const char* type, const std::string& body) {
    const std::string head = "HTTP/1.1 " + std::to_string(status) +
                             (status == 200 ? " OK" : " Not Found") + "\r\nContent-Type: " + type +
                             "\r\nContent-Length: " + std::to_string(body.size()) +
                             "\r\nConnection: close\r\n\r\n";
    conn.sendRaw(reinterpret_cast<const uint8_t*>(head.data()), head.size());
    conn.sendRaw(reinterpret_cast<const uint8_t*>(body.data()), body.size());
}

int intParam(const CgiParams& params, const char* name, int fallback) {
    const auto found = params.find(name);
    return found == params.end() ? fallback : std::atoi(found->second.c_str());
}

void serveHttp(Conn& conn, MjpegCore& core) {
    const uint32_t start = sys::tickMs();
    std::string head;
    while (head.find("\r\n\r\n") == std::string::npos) {
        if (head.size() > 8192 || sys::elapsedMs(start) > kFirstPacketMs || !conn.receive(10))
            return;
        head.assign(conn.pending.begin(), conn.pending.end());
    }
    if (head.compare(0, 4, "GET ") != 0)
        return answer(conn, 404, "text/plain", "File not found.");
    const size_t end = head.find(' ', 4);
    const std::string target = head.substr(4, end == std::string::npos ? 0 : end - 4);
    const size_t question = target.find('?');
    const std::string script =
        target.substr(1, question == std::string::npos ? std::string::npos : question - 1);
    std::optional<CgiParams> params = parseQuery(
        question == std::string::npos ? "" : std::string_view(target).substr(question + 1));
    if (!params)
        return answer(conn, 404, "text/plain", "File not found.");
    {
        std::lock_guard guard(core.lock);
        if (core.cgiLog.size() < kMaxCgiLog)
            core.cgiLog.push_back({script, *params});
    }
    core.event("cgi %s", script.c_str());
    if (const uint32_t delay = core.faults.httpDelayMs)
        conn.pause(delay);
    if (!conn.open())
        return;
    const bool allowed = !core.faults.refuseLogins && (*params)["user"] == core.config.user &&
                         (*params)["pwd"] == core.config.password;
    if (!allowed)
        return answer(conn, 200, "text/plain", "var result=\"Auth Failed\";\r\n");
    MjpegSettings s;
    {
        std::lock_guard guard(core.lock);
        MjpegSettings& now = core.settings;
        if (script == "camera_control.cgi") {
            const int value = intParam(*params, "value", 0);
            switch (intParam(*params, "param", -1)) {
            case 0:
                now.resolution = value;
                break;
            case 1:
                now.brightness = value;
                break;
            case 2:
                now.contrast = value;
                break;
            case 3:
                now.mode = value;
                break;
            case 5:
                now.flip = value;
                break;
            default:
                break;
            }
        } else if (script == "set_params.cgi") {
            now.brightness = intParam(*params, "brightness", now.brightness);
            now.contrast = intParam(*params, "contrast", now.contrast);
            now.flip = intParam(*params, "flip", now.flip);
        }
        s = now;
    }
    if (script == "get_camera_params.cgi" && !core.firstFormMissing) {
        return answer(conn, 200, "text/plain",
                      jsAnswer({{"resolution", s.resolution},
                                {"brightness", s.brightness},
                                {"contrast", s.contrast},
                                {"mode", s.mode},
                                {"flip", s.flip}}) +
                          "var alias=\"camsim\";\r\n");
    }
    if (script == "get_params.cgi") {
        return answer(conn, 200, "text/plain",
                      jsAnswer({{"resolution", s.resolution},
                                {"brightness", s.brightness / 16},
                                {"contrast", s.contrast},
                                {"hue", 0},
                                {"saturation", 0},
                                {"sharpness", 0},
                                {"powerfreq", s.mode},
                                {"ev", 0},
                                {"scene", 0},
                                {"flip", s.flip}}));
    }
    if (script == "camera_control.cgi" || script == "set_params.cgi" || script == "ptz_control.cgi")
        return answer(conn, 200, "text/plain", "ok.\r\n");
    if (script == "snapshot.cgi") {
        const auto& jpeg = core.jpegs.front();
        return answer(conn, 200, "image/jpeg", std::string(jpeg.begin(), jpeg.end()));
    }
    answer(conn, 404, "text/plain", "File not found.");
}

void serveConnection(const std::shared_ptr<Link>& link, MjpegCore& core,
                     const sys::WorkerContext& worker, bool web) {
    Conn conn(link, core, worker);
    if (web) {
        serveHttp(conn, core);
    } else {
        const uint32_t start = sys::tickMs();
        while (conn.pending.size() < 4 && sys::elapsedMs(start) < kFirstPacketMs &&
               conn.receive(10)) {
        }
        if (conn.pending.size() >= 4 && std::memcmp(conn.pending.data(), "MO_O", 4) == 0)
            serveControl(conn, core);
        else if (conn.pending.size() >= 4 && std::memcmp(conn.pending.data(), "MO_V", 4) == 0)
            serveMedia(conn, core);
        else
            core.count(&MjpegStats::protocolErrors);
    }
    link->close();
}

} // namespace

MjpegCamera::MjpegCamera() : m_core(std::make_shared<MjpegCore>()) {}

MjpegCamera::~MjpegCamera() {
    stop();
}

std::optional<MjpegPorts> MjpegCamera::start(const MjpegCameraConfig& config) {
    stop();
    const std::lock_guard lifecycle(m_lifecycleLock);
    auto core = std::make_shared<MjpegCore>();
    core->config = config;
    for (int i = 0; i < kPictures; ++i) {
        auto jpeg = encodeJpeg(drawTestPicture(640, 480, i));
        if (jpeg.empty()) {
            const std::lock_guard guard(m_lock);
            m_lastError = "cannot encode the test pictures";
            return std::nullopt;
        }
        core->jpegs.push_back(std::move(jpeg));
    }
    std::string error;
    MjpegPorts ports;
    if (m_listener.open(config.listenAddress, config.port, false, error) &&
        m_webListener.open(config.listenAddress, config.webPort, false, error)) {
        ports.port = m_listener.port();
        ports.webPort = m_webListener.port();
    } else {
        m_listener.close();
        m_webListener.close();
        const std::lock_guard guard(m_lock);
        m_lastError = error;
        return std::nullopt;
    }
    {
        const std::lock_guard guard(m_lock);
        m_core = core;
        m_running = true;
        m_lastError.clear();
    }
    m_acceptThread.start("camsim-accept",
                         [this, core](sys::WorkerContext& worker) { acceptLoop(worker, core); });
    core->event("MJPEG camera listening on port %u, web port %u", ports.port, ports.webPort);
    return ports;
}

void MjpegCamera::stop() {
    const std::lock_guard lifecycle(m_lifecycleLock);
    std::shared_ptr<MjpegCore> core;
    {
        const std::lock_guard guard(m_lock);
        if (!m_running)
            return;
        m_running = false;
        core = m_core;
    }
    const uint32_t start = sys::tickMs();
    core->stopping = true;
    m_acceptThread.stop(kStopBudgetMs);
    std::list<std::unique_ptr<sys::Thread>> connections;
    {
        const std::lock_guard guard(m_connectionsLock);
        connections.swap(m_connections);
    }
    for (auto& thread : connections)
        thread->requestCancel();
    for (auto& thread : connections) {
        const uint32_t spent = sys::elapsedMs(start);
        thread->stop(spent < kStopBudgetMs ? kStopBudgetMs - spent : 50);
    }
    m_listener.close();
    m_webListener.close();
    core->event("camera stopped");
}

void MjpegCamera::acceptLoop(const sys::WorkerContext& worker,
                             const std::shared_ptr<MjpegCore>& core) {
    while (!worker.cancelled() && !core->stopping) {
        if (auto link = m_listener.accept(10))
            spawn(std::move(link), false, core);
        if (auto link = m_webListener.accept(10))
            spawn(std::move(link), true, core);
        const std::lock_guard guard(m_connectionsLock);
        m_connections.remove_if([](const std::unique_ptr<sys::Thread>& t) { return t->wait(0); });
    }
}

void MjpegCamera::spawn(std::unique_ptr<Link> link, bool web,
                        const std::shared_ptr<MjpegCore>& core) {
    const std::lock_guard guard(m_connectionsLock);
    if (m_connections.size() >= kMaxConnections) {
        core->count(&MjpegStats::protocolErrors);
        return;
    }
    auto thread = std::make_unique<sys::Thread>();
    std::shared_ptr<Link> owned(std::move(link));
    if (thread->start("camsim-mjpeg", [core, owned, web](sys::WorkerContext& worker) {
            serveConnection(owned, *core, worker, web);
        }))
        m_connections.push_back(std::move(thread));
}

bool MjpegCamera::running() const {
    const std::lock_guard guard(m_lock);
    return m_running;
}

std::string MjpegCamera::lastError() const {
    const std::lock_guard guard(m_lock);
    return m_lastError;
}

size_t MjpegCamera::sendNotice(uint16_t opcode, const std::vector<uint8_t>& content) {
    const auto notice = packet("MO_O", opcode, content);
    const std::lock_guard guard(m_core->lock);
    size_t queued = 0;
    for (auto& box : m_core->noticeBoxes) {
        if (box->size() < kMaxNotices) {
            box->push_back(notice);
            ++queued;
        }
    }
    return queued;
}

size_t MjpegCamera::sendAlarm(uint8_t state, bool longForm) {
    std::vector<uint8_t> content(longForm ? 23 : 8, 0);
    content[0] = state;
    return sendNotice(longForm ? 25 : 17, content);
}

Faults& MjpegCamera::faults() {
    const std::lock_guard guard(m_lock);
    return m_core->faults;
}

void MjpegCamera::setFirstParamFormMissing(bool on) {
    const std::lock_guard guard(m_lock);
    m_core->firstFormMissing = on;
}

MjpegStats MjpegCamera::stats() const {
    const std::lock_guard guard(m_core->lock);
    return m_core->stats;
}

std::vector<MjpegCgiEntry> MjpegCamera::cgiLog() const {
    const std::lock_guard guard(m_core->lock);
    return m_core->cgiLog;
}

std::vector<uint8_t> MjpegCamera::decoderCodes() const {
    const std::lock_guard guard(m_core->lock);
    return m_core->decoderCodes;
}

std::vector<std::vector<uint8_t>> MjpegCamera::talkAudio() const {
    const std::lock_guard guard(m_core->lock);
    return m_core->talk;
}

MjpegSettings MjpegCamera::settings() const {
    const std::lock_guard guard(m_core->lock);
    return m_core->settings;
}

} // namespace camsim
