#include "device/mjpeg/Ctrl.h"

#include "core/NetMessage.h"
#include "core/StopThread.h"
#include "device/mjpeg/JsAnswer.h"
#include "http/CgiRequest.h"
#include "parsix/UrlEncode.h"

#include <algorithm>
#include <array>
#include <vector>

namespace zq::mjpeg {

namespace {

constexpr const char* kCameraParams = "get_camera_params.cgi?";
constexpr const char* kGenericParams = "get_params.cgi?resolution=&brightness=&contrast=&hue=&"
                                       "saturation=&sharpness=&powerfreq=&ev=&scene=&flip=";

constexpr const char* kSetParams = "set_params.cgi?reinit_camera=1&save=1&";

std::string number(long value) {
    return std::to_string(value);
}

} // namespace

CMJCtrl::CMJCtrl(DEVICE_PARAM* param, std::weak_ptr<MjpegSink> sink)
    : CMJChannel(param, Magic::Operation), m_sink(std::move(sink)) {}

CMJCtrl::~CMJCtrl() = default;

bool CMJCtrl::start() {
    if (m_thread.running())
        return false;
    clearCancel();
    auto self = shared_from_this();
    return m_thread.start("ctrl_thread", [self](sys::WorkerContext& c) { self->run(c); });
}

void CMJCtrl::stop() {
    cancel();
    m_ring.post(kMsgQuit);
    stopAbortingHttp(m_thread, m_http, kStopWaitMs);
}

bool CMJCtrl::post(int code, intptr_t param1, intptr_t param2) {
    return m_ring.post(code, param1, param2);
}

void CMJCtrl::notify(int code, const void* data, int extra) {
    if (auto sink = m_sink.lock())
        sink->onControlNotice(code, data, extra);
}

void CMJCtrl::notifyValue(int code, int32_t value, int extra) {
    notify(code, &value, extra);
}

void CMJCtrl::run(sys::WorkerContext&) {
    for (;;) {
        bool reconnect = false;
        if (!handleMessages(reconnect))
            return;
        const int connected = connectToCamera();
        if (connected != 0) {
            closeTransport();
            if (connected == kIoCancelled || cancelled())
                return;
            notifyValue(kNoticeCamera, connected == kIoUdtError ? 2 : 1, 4);
            // A refused connection comes back at once; without a pause the thread would spin.
            if (!pause(kRetryPauseMs))
                return;
            continue;
        }
        const Outcome outcome = runSession();
        closeTransport();
        if (outcome == Outcome::Stop || !pause(kRetryPauseMs))
            return;
    }
}

CMJCtrl::Outcome CMJCtrl::runSession() {
    send(emptyRequest(kLoginRequest));
    // The parameters are read before the login reply is looked at, so the caller has them by
    // the time video starts.
    m_ring.post(kCtrlReadParams);
    for (;;) {
        bool reconnect = false;
        if (!handleMessages(reconnect))
            return Outcome::Stop;
        if (reconnect)
            return Outcome::Reconnect;
        const int got = receive();
        if (got == kIoCancelled || cancelled())
            return Outcome::Stop;
        if (got == kIoError || got == kIoClosed)
            return Outcome::Reconnect;
        if (!pause(kLoopMs))
            return Outcome::Stop;
    }
}

bool CMJCtrl::handleMessages(bool& reconnect) {
    while (auto message = m_ring.take()) {
        if (cancelled())
            return false;
        switch (message->code) {
        case kMsgQuit:
            return false;
        case kCtrlReconnect:
            reconnect = true;
            break;
        default:
            runWork(message->code, message->param1, message->param2);
            break;
        }
    }
    return !cancelled();
}

bool CMJCtrl::ask(const std::string& text, std::string& body) {
    if (cancelled())
        return false;
    const std::string host = hostText();
    const std::string path =
        "/" + text +
        "&user=" + Parse::url_encode_component(fieldText(m_param->user, sizeof m_param->user)) +
        "&pwd=" +
        Parse::url_encode_component(fieldText(m_param->password, sizeof m_param->password));
    const std::string hostHeader = host + ":" + std::to_string(m_param->httpPort);
    const int code =
        cgi::get(m_http, host.c_str(), m_param->httpPort, hostHeader, path, kCgiRounds, &body);
    return code == kHttpSuccess || code == kHttpPeerClosed;
}

void CMJCtrl::readParams() {
    std::string body;
    if (!ask(kCameraParams, body))
        return;
    ParamForm form = ParamForm::Camera;
    if (body == kFileNotFound) {
        if (!ask(kGenericParams, body))
            return;
        form = ParamForm::Generic;
    }
    // The notice's extra (22) reads like a length to many callers: hand over that many bytes,
    // the record first and zeros after it.
    constexpr int kParamsExtra = 22;
    const auto record = cameraParams(body, form);
    std::array<uint8_t, kParamsExtra> padded{};
    std::copy(record.begin(), record.end(), padded.begin());
    notify(kNoticeParams, padded.data(), kParamsExtra);
}

void CMJCtrl::runWork(int code, intptr_t param1, intptr_t param2) {
    std::string body;
    const long p1 = static_cast<long>(param1);
    const long p2 = static_cast<long>(param2);
    switch (code) {
    case kCtrlCameraControl:
        ask("camera_control.cgi?param=" + number(p1) + "&value=" + number(p2), body);
        return;
    case kCtrlSnapshot:
        if (ask("snapshot.cgi?", body) && !body.empty())
            notify(kNoticeSnapshot, body.data(), static_cast<int>(body.size()));
        return;
    case kCtrlReadParams:
        readParams();
        return;
    case kCtrlPing:
        notify(kNoticePing, nullptr, 0);
        return;
    case kCtrlFlip:
        ask(kSetParams + ("flip=" + number(p2)), body);
        return;
    case kCtrlPicture:
        if (p1 == 0)
            ask(kSetParams + ("brightness=" + number(p2)), body);
        else if (p1 == 1)
            ask(kSetParams + ("contrast=" + number(p2)), body);
        else if (p1 == 2)
            ask(kSetParams + ("contrast=" + number(p2 == 8 ? 4 : 6)), body);
        return;
    case kCtrlPtzCommand:
        ask("ptz_control.cgi?command=" + number(p1) + "&param=0", body);
        return;
    default:
        return;
    }
}

void CMJCtrl::onPacket(const uint8_t* packet, size_t size) {
    const uint16_t opcode = opcodeOf(packet);
    const uint8_t* content = packet + kHeaderSize;
    const size_t length = size - kHeaderSize;
    if (opcode == kNotice17 || opcode == kNotice18 || opcode == kNotice25) {
        const int extra = opcode == kNotice17 ? 21 : opcode == kNotice18 ? 22 : 23;
        // The content may be shorter than `extra`, which callers may read as a length: copy it
        // into a zeroed buffer of at least that size.
        std::vector<uint8_t> copy(std::max(length, static_cast<size_t>(extra)), 0);
        std::copy(content, content + length, copy.begin());
        notify(kNoticeCamera, copy.data(), extra);
        return;
    }
    Reply reply;
    if (!parseReply(content, length, reply))
        return; // too short to say anything
    const bool ok = reply.result == 0;
    switch (opcode) {
    case kLoginReply:
        if (ok) {
            send(verifyRequest(fieldText(m_param->user, sizeof m_param->user),
                               fieldText(m_param->password, sizeof m_param->password)));
            notifyValue(kNoticeLogin, 5, 0);
        } else {
            notifyValue(kNoticeLogin, 6, reply.result);
        }
        return;
    case kVerifyReply:
        notifyValue(kNoticeVerify, ok ? 8 : 9, ok ? 0 : reply.result);
        return;
    case kVideoStartReply:
        notifyValue(kNoticeVideo, ok ? 10 : 13, ok ? reply.connectionId : reply.result);
        return;
    case kAudioStartReply:
        notifyValue(kNoticeAudio, ok ? 14 : 18, ok ? reply.connectionId : reply.result);
        return;
    case kTalkStartReply:
        notifyValue(kNoticeTalk, ok ? 19 : 20, ok ? reply.connectionId : reply.result);
        return;
    default:
        return;
    }
}

} // namespace zq::mjpeg
