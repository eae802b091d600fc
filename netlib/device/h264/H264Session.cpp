#include "device/h264/H264Session.h"

#include "core/NetMessage.h"
#include "core/StopThread.h"
#include "device/h264/CommandTable.h"
#include "http/CgiRequest.h"
#include "sys/Tick.h"
#include "transport/TCP.h"
#include "transport/UDP.h"
#include "zqnet/zqnet.h"

#include <cstring>

namespace zq::h264 {

namespace {

std::unique_ptr<CSockBase> makeTransport(H264Session::Transport kind) {
    if (kind == H264Session::Transport::Udt)
        return std::make_unique<CUDP>();
    return std::make_unique<CTCP>();
}

} // namespace

H264Session::H264Session(Transport transport, const char* playFile, DEVICE_PARAM* param,
                         int buffering, int linkFlags, EventCallback onEvent, FrameCallback onFrame,
                         void* user)
    : m_param(param), m_transport(transport), m_index(linkFlags & 0xFFFF), m_onEvent(onEvent),
      m_onFrame(onFrame), m_user(user) {
    // Channels hold this session weakly; they are built in start(), once shared_from_this works.
    m_playFile = playFile ? std::string(playFile, strnlen(playFile, 4096)) : std::string();
    m_hasPlayFile = playFile != nullptr;
    m_buffering = buffering;
    m_linkFlags = linkFlags;
}

H264Session::~H264Session() = default;

bool H264Session::start() {
    auto self = shared_from_this();
    m_client = std::make_shared<CClient>(m_hasPlayFile ? m_playFile.c_str() : nullptr, m_param,
                                         m_buffering, std::weak_ptr<MediaSink>(self), m_linkFlags);
    m_ctrl = std::make_shared<CCtrl>(m_param, std::weak_ptr<ControlSink>(self));
    m_ctrl->setTransport(makeTransport(m_transport));
    m_client->setTransport(makeTransport(m_transport));
    if (!m_ctrl->start())
        return false;
    return m_ptzThread.start("ptz_thread", [self](sys::WorkerContext& c) { self->runPtz(c); });
}

void H264Session::close() {
    m_ptzHttp.userQuit();
    m_ptzRing.post(kMsgQuit);
    stopAbortingHttp(m_ptzThread, m_ptzHttp, kPtzStopWaitMs);
    if (m_client)
        m_client->stop();
    if (m_ctrl)
        m_ctrl->stop();
    m_gate.close();
}

void H264Session::event(int kind, int code, int* data, int extra) {
    if (!m_onEvent)
        return;
    m_gate.deliver([&] { m_onEvent(kind, code, data, m_user, extra); });
}

void H264Session::onMediaStatus(int code, int& value, int extra) {
    if (code == kStatusLoggedIn && value == 4) {
        event(0, 0, nullptr, m_index);
        return;
    }
    if ((code == kStatusTalkGranted || code == kStatusTalkEnded) && value == 0) {
        event(code, 19, nullptr, m_index);
        return;
    }
    if (code == kStatusReconnecting && m_ctrl)
        m_ctrl->post(kMsgReconnect);
    event(ZQ_EVENT_MEDIA_STATUS, code, &value, extra);
}

void H264Session::onMediaFrame(int mediaType, FRAME_HEAD* frame) {
    if (!m_onFrame)
        return;
    m_gate.deliver([&] { m_onFrame(mediaType, frame, m_user, m_index); });
}

void H264Session::startMediaOnce() {
    std::lock_guard lock(m_mediaStartLock);
    if (m_client && !m_client->running())
        m_client->start();
}

void H264Session::onControl(int code, const void* payload, int length) {
    if (code == kLoginReply && length >= 4 && readInt(static_cast<const uint8_t*>(payload)) == 0)
        startMediaOnce();
    event(ZQ_EVENT_CONTROL, code, static_cast<int*>(const_cast<void*>(payload)), length);
}

void H264Session::runPtz(sys::WorkerContext& context) {
    for (;;) {
        if (context.cancelled())
            return;
        auto message = m_ptzRing.take();
        if (!message) {
            sys::sleepMs(50);
            continue;
        }
        if (message->code == kMsgQuit)
            return;
        const char* move = ptzMoveName(static_cast<int>(message->param1));
        if (move)
            cgi::sendOnly(m_ptzHttp, *m_param, move);
    }
}

void H264Session::queueToControl(int code) {
    if (m_ctrl)
        m_ctrl->postQuery(code);
}

void H264Session::queueCgi(std::string command) {
    if (m_ctrl && !command.empty())
        m_ctrl->postCgi(std::move(command));
}

void H264Session::setCommand(int command, intptr_t param1, intptr_t param2) {
    if (!m_client)
        return;
    switch (command) {
    case 0:
        m_client->sendLoginNow();
        return;
    case 1:
        m_client->sendStartVideo();
        return;
    case 2:
        m_client->sendOpenAudio();
        return;
    case 4:
        if (param2 >= 0 && param2 <= kMaxTalkBytes)
            m_client->sendTalk(reinterpret_cast<const void*>(param1), static_cast<int>(param2));
        return;
    case 5:
        m_client->requestLogout();
        return;
    case 6:
        m_client->sendStopVideo();
        return;
    case 7:
        m_client->sendCloseAudio();
        return;
    case 12:
        if (isPtzMove(static_cast<int>(param1)))
            m_ptzRing.post(12, param1, param2);
        else if (isControlQuery(static_cast<int>(param1)))
            queueToControl(static_cast<int>(param1));
        return;
    case 53:
        queueToControl(53);
        return;
    default:
        queueCgi(cgiCommandText(command, param1, param2));
        return;
    }
}

} // namespace zq::h264
