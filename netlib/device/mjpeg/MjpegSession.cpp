#include "device/mjpeg/MjpegSession.h"

#include "core/NetMessage.h"
#include "device/mjpeg/CommandTable.h"
#include "transport/TCP.h"
#include "zqnet/zqnet.h"

#include <cstring>

namespace zq::mjpeg {

MjpegSession::MjpegSession(DEVICE_PARAM* param, int linkFlags, EventCallback onEvent,
                           FrameCallback onFrame, void* user)
    : m_param(param), m_linkFlags(linkFlags), m_index(linkFlags & 0xFFFF), m_onEvent(onEvent),
      m_onFrame(onFrame), m_user(user) {}

MjpegSession::~MjpegSession() = default;

bool MjpegSession::start() {
    // Channels hold this session weakly; they are built here, once shared_from_this works.
    auto self = shared_from_this();
    m_ctrl = std::make_shared<CMJCtrl>(m_param, std::weak_ptr<MjpegSink>(self));
    m_client = std::make_shared<CMJClient>(m_param, std::weak_ptr<MjpegSink>(self), m_linkFlags);
    m_ctrl->setTransport(std::make_unique<CTCP>());
    m_client->setTransport(std::make_unique<CTCP>());
    return m_ctrl->start() && m_client->start();
}

void MjpegSession::close() {
    if (m_client)
        m_client->stop();
    if (m_ctrl)
        m_ctrl->stop();
    m_gate.close();
}

void MjpegSession::event(int kind, int code, int* data, int extra) {
    if (!m_onEvent)
        return;
    m_gate.deliver([&] { m_onEvent(kind, code, data, m_user, extra); });
}

void MjpegSession::onControlNotice(int code, const void* data, int extra) {
    event(ZQ_EVENT_CONTROL, code, static_cast<int*>(const_cast<void*>(data)), extra);
    if (!data)
        return;
    int32_t value;
    std::memcpy(&value, data, sizeof value);
    if (code == kNoticeVerify && value == 8) {
        m_ctrl->send(flagRequest(kVideoStart));
        event(0, 0, nullptr, m_index);
    } else if (code == kNoticeVideo && value == 10) {
        m_client->post(kMsgConnectionId, extra);
    }
}

void MjpegSession::onMediaStatus(int code, int value, int extra) {
    if (code == kStatusReconnecting && m_ctrl)
        m_ctrl->post(kCtrlReconnect);
    event(ZQ_EVENT_MEDIA_STATUS, code, &value, extra);
}

void MjpegSession::onMediaFrame(int mediaType, FRAME_HEAD* frame) {
    if (!m_onFrame)
        return;
    m_gate.deliver([&] { m_onFrame(mediaType, frame, m_user, m_index); });
}

int MjpegSession::sendTalk(int serial, int format, const char* data, int length) {
    if (!m_client || length != kTalkBytes)
        return -1;
    return m_client->sendTalk(serial, static_cast<uint8_t>(format), data, length) == kSendOk ? 0
                                                                                             : -1;
}

void MjpegSession::setCommand(int command, intptr_t param1, intptr_t param2) {
    if (!m_ctrl || !m_client)
        return;
    switch (command) {
    case 0:
        m_ctrl->send(flagRequest(kVideoStart));
        return;
    case 1:
        m_ctrl->send(flagRequest(kAudioStart));
        return;
    case 2:
        m_ctrl->send(flagRequest(kTalkStart));
        return;
    case 4:
        if (param2 == kTalkBytes)
            m_client->sendTalk(0, 0, reinterpret_cast<const void*>(param1), kTalkBytes);
        return;
    case 5:
        m_ctrl->send(emptyRequest(kVideoEnd));
        return;
    case 6:
        m_ctrl->send(emptyRequest(kAudioEnd));
        return;
    case 7:
        m_ctrl->send(emptyRequest(kTalkEnd));
        return;
    case 12:
        for (const PtzAction& action : ptzActions(param1, param2)) {
            if (action.kind == PtzAction::Kind::Decoder)
                m_ctrl->send(decoderControl(static_cast<uint8_t>(action.code)));
            else
                m_ctrl->post(action.code, action.param1);
        }
        return;
    case kCtrlCameraControl:
    case kCtrlFlip:
    case kCtrlPicture:
        m_ctrl->post(command, param1, param2);
        return;
    default:
        return;
    }
}

} // namespace zq::mjpeg
