#pragma once

#include "core/CallbackGate.h"
#include "core/SessionRegistry.h"
#include "device/mjpeg/Client.h"
#include "device/mjpeg/Ctrl.h"

#include <memory>

namespace zq::mjpeg {

// An MJPEG camera behind one handle: "ctrl_thread" (login, replies, CGI) and "MJNetThread"
// (pictures and audio). The control side drives the media side: a verified login starts video,
// and the video start reply hands the connection id to "MJNetThread" (code 1039).
//
// Reports reach the caller only through m_gate, which close() shuts, so no callback arrives
// after zq_net_close returns.
class MjpegSession : public RegisteredSession,
                     public MjpegSink,
                     public std::enable_shared_from_this<MjpegSession> {
public:
    MjpegSession(DEVICE_PARAM* param, int linkFlags, EventCallback onEvent, FrameCallback onFrame,
                 void* user);
    ~MjpegSession() override;

    bool start();
    void close() override;
    void setCommand(int command, intptr_t param1, intptr_t param2);
    // zq_send_talk_data: exactly 160 bytes; 0 when sent, -1 otherwise.
    int sendTalk(int serial, int format, const char* data, int length);

    void onControlNotice(int code, const void* data, int extra) override;
    void onMediaStatus(int code, int value, int extra) override;
    void onMediaFrame(int mediaType, FRAME_HEAD* frame) override;

private:
    void event(int kind, int code, int* data, int extra);

    DEVICE_PARAM* const m_param;
    const int m_linkFlags;
    const int m_index;
    EventCallback m_onEvent;
    FrameCallback m_onFrame;
    void* m_user;
    std::shared_ptr<CMJClient> m_client;
    std::shared_ptr<CMJCtrl> m_ctrl;
    CallbackGate m_gate;
};

} // namespace zq::mjpeg
