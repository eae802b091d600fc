#include "device/h264/Ctrl.h"

#include "core/NetMessage.h"
#include "core/StopThread.h"
#include "http/CgiRequest.h"
#include "sys/Tick.h"

#include <cstring>

namespace zq::h264 {

namespace {

constexpr int kCredentialsRefused = -8;
constexpr int kNotifyRefused = 41;
constexpr int kNotifyConnectFailed = 8;
constexpr int kRounds = 300;
constexpr int kImageRounds = 1000;

// Query codes posted through zq_net_setcommand 12 and the results they deliver.
enum Query : int {
    kQuerySnapshot = 25,
    kQueryImage = 27,
    kQueryPresetsQuiet = 28,
    kQueryMirrorFlip = 29,
    kQueryResetImage = 36,
    kQueryStreamType = 40,
    kQueryEmpty = 42,
    kQueryCruises = 44,
    kQueryStopCruise = 46,
    kQueryPresets = 47,
    kQueryNoAction = 53,
    kQueryPing = 105,
    kResultImage = 110,
};

} // namespace

CCtrl::CCtrl(DEVICE_PARAM* param, std::weak_ptr<ControlSink> sink)
    : CH264Channel(param), m_sink(std::move(sink)) {}

CCtrl::~CCtrl() = default;

bool CCtrl::start() {
    if (m_thread.running())
        return false;
    clearCancel();
    auto self = shared_from_this();
    return m_thread.start("ctrl_thread", [self](sys::WorkerContext& c) { self->run(c); });
}

void CCtrl::stop() {
    cancel();
    m_ring.post(kMsgQuit);
    stopAbortingHttp(m_thread, m_http, kStopWaitMs);
}

bool CCtrl::post(int code, intptr_t param1, intptr_t param2) {
    return m_ring.post(code, param1, param2);
}

bool CCtrl::queueWork(int query, std::string command) {
    std::lock_guard lock(m_workLock);
    if (m_work.size() >= kMaxQueuedWork)
        return false;
    m_work.push_back({query, std::move(command)});
    return true;
}

bool CCtrl::postQuery(int code) {
    return queueWork(code, {});
}

bool CCtrl::postCgi(std::string command) {
    return queueWork(0, std::move(command));
}

void CCtrl::notify(int code, const void* payload, int length) {
    if (auto sink = m_sink.lock())
        sink->onControl(code, payload, length);
}

void CCtrl::notifyValue(int code, int32_t value) {
    notify(code, &value, sizeof value);
}

// The camera answers every CGI request with result -8 when the user or password is wrong;
// logging in on the binary channel would only be refused again and again.
bool CCtrl::credentialsRefused() {
    std::string body;
    const int code = cgi::command(m_http, *m_param, "getIPInfo", kRounds, &body);
    if ((code == kHttpSuccess || code == kHttpPeerClosed) &&
        cgi::resultCode(body) == kCredentialsRefused) {
        notifyValue(kNotifyRefused, kCredentialsRefused);
        return true;
    }
    return false;
}

void CCtrl::run(sys::WorkerContext&) {
    // Peer-to-peer cameras have no web server to ask.
    if (cancelled() || (!transport()->peerToPeer() && credentialsRefused()))
        return;
    for (;;) {
        transport()->setMode(0);
        Outcome outcome = Outcome::Reconnect;
        if (!handleMessages(outcome) || outcome == Outcome::Stop)
            return;
        const int connected = connectToCamera();
        if (connected != 0) {
            closeTransport();
            if (connected == kIoCancelled || cancelled())
                return;
            notifyValue(kNotifyConnectFailed, connected == kIoUdtError ? 2 : 1);
            runQueuedWork(); // CGI does not need the binary channel
            if (!pause(50))
                return;
            continue;
        }
        outcome = runSession();
        closeTransport();
        if (outcome == Outcome::Stop || !pause(50))
            return;
    }
}

CCtrl::Outcome CCtrl::runSession() {
    if (onePortMode())
        sendServerPush();
    sendPacket(controlLogin(*m_param), kRetryAudioOrControl);
    const auto keepAlivePacket = keepAlive(*m_param);
    sendPacket(keepAlivePacket, kRetryAudioOrControl);
    uint32_t lastKeepAlive = sys::tickMs();

    for (;;) {
        Outcome outcome = Outcome::Reconnect;
        if (!handleMessages(outcome))
            return Outcome::Stop;
        if (outcome == Outcome::Stop)
            return Outcome::Stop;
        runQueuedWork();
        if (transport()->getMode() != kModeNoRead) {
            const int got = receive();
            if (got == kIoCancelled || cancelled())
                return Outcome::Stop;
            if (got == kIoError || got == kIoClosed)
                return Outcome::Reconnect;
        }
        if (sys::elapsedMs(lastKeepAlive) >= kKeepAliveMs) {
            sendPacket(keepAlivePacket, kRetryAudioOrControl);
            lastKeepAlive = sys::tickMs();
        }
        if (!pause(kLoopMs))
            return Outcome::Stop;
    }
}

// False when the thread must end. A reconnect request comes back as Outcome::Reconnect with
// true; everything else keeps `outcome` as it was.
bool CCtrl::handleMessages(Outcome& outcome) {
    while (auto message = m_ring.take()) {
        switch (message->code) {
        case kMsgQuit:
            outcome = Outcome::Stop;
            return false;
        case kMsgReconnect:
            return true;
        case kControlLogin:
            sendPacket(controlLogin(*m_param), kRetryAudioOrControl);
            break;
        case kControlRequest14:
            sendPacket(emptyRequest(kControlRequest14), kRetryAudioOrControl);
            break;
        default:
            break;
        }
        if (cancelled())
            return false;
    }
    return !cancelled();
}

void CCtrl::runQueuedWork() {
    while (!cancelled()) {
        Work work;
        {
            std::lock_guard lock(m_workLock);
            if (m_work.empty())
                return;
            work = std::move(m_work.front());
            m_work.pop_front();
        }
        if (work.query != 0) {
            runQuery(work.query);
        } else {
            std::string body;
            cgi::command(m_http, *m_param, work.command, kRounds, &body);
        }
    }
}

// GET "/<path>" from the camera's web port, as the snapshot answer names it.
int CCtrl::fetchFile(const std::string& path, std::string* body) {
    const std::string host = hostText();
    const std::string hostHeader = host + ":" + std::to_string(m_param->httpPort);
    return cgi::get(m_http, host.c_str(), m_param->httpPort, hostHeader, "/" + path, kRounds, body);
}

void CCtrl::runQuery(int code) {
    std::string body;
    auto ask = [&](const char* command, int rounds = kRounds) {
        const int result = cgi::command(m_http, *m_param, command, rounds, &body);
        return result == kHttpSuccess || result == kHttpPeerClosed;
    };
    switch (code) {
    case kQuerySnapshot: {
        if (!ask("snapPicture"))
            return;
        const auto path = cgi::snapshotPath(body);
        if (!path)
            return;
        std::string picture;
        const int result = fetchFile(*path, &picture);
        if ((result == kHttpSuccess || result == kHttpPeerClosed) && !picture.empty())
            notify(kQuerySnapshot, picture.data(), static_cast<int>(picture.size()));
        return;
    }
    case kQueryImage:
        if (ask("getImageSetting", kImageRounds)) {
            const auto values = cgi::imageSettings(body);
            notify(kResultImage, values.data(), static_cast<int>(values.size()));
        }
        return;
    case kQueryPresetsQuiet:
        ask("getPTZPresetPointList");
        return;
    case kQueryMirrorFlip:
        if (ask("getMirrorAndFlipSetting")) {
            const auto [mirror, flip] = cgi::mirrorFlip(body);
            const int32_t values[2] = {mirror, flip};
            notify(kQueryMirrorFlip, values, sizeof values);
        }
        return;
    case kQueryResetImage:
        ask("resetImageSetting");
        return;
    case kQueryStreamType:
        if (ask("getMainVideoStreamType"))
            notifyValue(kQueryStreamType, cgi::mainStreamType(body));
        return;
    case kQueryEmpty:
        ask("");
        return;
    case kQueryCruises:
        if (ask("ptzGetCruiseMapList")) {
            const auto names = cgi::cruiseMapList(body);
            notify(kQueryCruises, names.data(), static_cast<int>(names.size()));
        }
        return;
    case kQueryStopCruise:
        ask("ptzStopCruise");
        return;
    case kQueryPresets:
        if (ask("getPTZPresetPointList")) {
            const auto names = cgi::presetPointList(body);
            notify(kQueryPresets, names.data(), static_cast<int>(names.size()));
        }
        return;
    case kQueryPing:
        notify(kQueryPing, nullptr, 0);
        return;
    case kQueryNoAction:
    default:
        return;
    }
}

void CCtrl::onPacket(const uint8_t* packet, size_t size) {
    notify(commandOf(packet), packet + kHeaderSize, static_cast<int>(size - kHeaderSize));
    if (transport() && transport()->peerToPeer())
        transport()->setMode(kModeNoRead);
}

} // namespace zq::h264
