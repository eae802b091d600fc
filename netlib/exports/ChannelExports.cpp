// The per-channel family: a media channel or a control channel on its own handle.

#include "core/CallbackGate.h"
#include "core/NetMessage.h"
#include "core/SessionRegistry.h"
#include "device/h264/Client.h"
#include "device/h264/Ctrl.h"
#include "device/h264/H264Session.h"
#include "device/mjpeg/MjpegSession.h"
#include "exports/Guard.h"
#include "transport/TCP.h"
#include "transport/Tutk.h"
#include "transport/UDP.h"
#include "zqnet/zqnet.h"

#include <memory>

using zq::SessionRegistry;
using namespace zq::h264;

namespace {

enum ChannelType : int {
    kChannelMjpeg = 1,
    kChannelNone = 2,
    kChannelUdt = 3,
    kChannelTcp = 4,
    kChannelP2P = 5,
};

enum RoadType : int { kRoadMjpeg = 257, kRoadUdt = 259, kRoadTcp = 260, kRoadP2P = 261 };

enum MediaWhat : int { kWhatVideo = 2, kWhatAudio = 4 };

enum class Carrier { Tcp, Udt, PeerToPeer };

std::unique_ptr<zq::CSockBase> makeTransport(Carrier carrier) {
    switch (carrier) {
    case Carrier::Udt:
        return std::make_unique<zq::CUDP>();
    case Carrier::PeerToPeer:
        return std::make_unique<zq::CTutk>();
    case Carrier::Tcp:
        break;
    }
    return std::make_unique<zq::CTCP>();
}

// A media channel whose statuses go straight to the caller.
class MediaChannelSession : public zq::RegisteredSession,
                            public MediaSink,
                            public std::enable_shared_from_this<MediaChannelSession> {
public:
    MediaChannelSession(StatusCallback onStatus, FrameCallback onFrame, void* user, int index)
        : m_onStatus(onStatus), m_onFrame(onFrame), m_user(user), m_index(index) {}

    bool start(Carrier carrier, const char* playFile, DEVICE_PARAM* param, int buffering,
               int linkFlags) {
        m_client = std::make_shared<CClient>(
            playFile, param, buffering, std::weak_ptr<MediaSink>(shared_from_this()), linkFlags);
        m_client->setTransport(makeTransport(carrier));
        return m_client->start();
    }

    void close() override {
        if (m_client)
            m_client->stop();
        m_gate.close();
    }

    void onMediaStatus(int code, int& value, int extra) override {
        if (m_onStatus)
            m_gate.deliver([&] { m_onStatus(code, &value, m_user, extra); });
    }
    void onMediaFrame(int mediaType, FRAME_HEAD* frame) override {
        if (m_onFrame)
            m_gate.deliver([&] { m_onFrame(mediaType, frame, m_user, m_index); });
    }

    CClient& client() { return *m_client; }

private:
    StatusCallback m_onStatus;
    FrameCallback m_onFrame;
    void* m_user;
    const int m_index;
    std::shared_ptr<CClient> m_client;
    zq::CallbackGate m_gate;
};

// A control channel whose packets go straight to the caller.
class ControlRoadSession : public zq::RegisteredSession,
                           public ControlSink,
                           public std::enable_shared_from_this<ControlRoadSession> {
public:
    ControlRoadSession(CtrlCallback onCtrl, void* user) : m_onCtrl(onCtrl), m_user(user) {}

    bool start(Carrier carrier, DEVICE_PARAM* param) {
        m_ctrl = std::make_shared<CCtrl>(param, std::weak_ptr<ControlSink>(shared_from_this()));
        m_ctrl->setTransport(makeTransport(carrier));
        return m_ctrl->start();
    }

    void close() override {
        if (m_ctrl)
            m_ctrl->stop();
        m_gate.close();
    }

    void onControl(int code, const void* payload, int length) override {
        if (m_onCtrl)
            m_gate.deliver([&] { m_onCtrl(code, payload, m_user, length); });
    }

    CCtrl& ctrl() { return *m_ctrl; }

private:
    CtrlCallback m_onCtrl;
    void* m_user;
    std::shared_ptr<CCtrl> m_ctrl;
    zq::CallbackGate m_gate;
};

// Runs `fn` on the media channel of `handle`. A handle without a session answers 0; a handle
// of another kind (or unknown) answers 1.
template <typename Fn> int withMedia(NetHandle* handle, Fn&& fn) {
    return zq::guarded<int>(1, [&] {
        auto& registry = SessionRegistry::instance();
        if (!registry.known(handle))
            return 1;
        if (!handle->session)
            return 0;
        // Whole camera sessions answer the media calls too (seek in a played record, say).
        if (auto session = registry.findAs<MediaChannelSession>(handle)) {
            fn(session->client());
            return 0;
        }
        if (auto session = registry.findAs<H264Session>(handle)) {
            fn(session->media());
            return 0;
        }
        return 1;
    });
}

} // namespace

ZQ_API NetHandle* ZQ_CALL zq_open_device(int type, const char* playFile, DEVICE_PARAM* param,
                                         int buffering, int linkFlags, int /*unused*/,
                                         StatusCallback onStatus, FrameCallback onFrame,
                                         void* user) {
    return zq::guarded<NetHandle*>(nullptr, [&]() -> NetHandle* {
        auto& registry = SessionRegistry::instance();
        switch (type) {
        case kChannelNone:
            return registry.addEmpty(type);
        case kChannelUdt:
        case kChannelTcp:
        case kChannelP2P: {
            // A channel that cannot be built still gives TCP and peer-to-peer callers a handle.
            const bool emptyOnFailure = type != kChannelUdt;
            if (!param)
                return emptyOnFailure ? registry.addEmpty(type) : nullptr;
            const Carrier carrier = type == kChannelUdt   ? Carrier::Udt
                                    : type == kChannelP2P ? Carrier::PeerToPeer
                                                          : Carrier::Tcp;
            auto session =
                std::make_shared<MediaChannelSession>(onStatus, onFrame, user, linkFlags & 0xFFFF);
            if (!session->start(carrier, playFile, param, buffering, linkFlags)) {
                session->close();
                return emptyOnFailure ? registry.addEmpty(type) : nullptr;
            }
            return registry.add(type, std::move(session));
        }
        default:
            // An MJPEG media channel cannot stand alone: it streams only on the connection id
            // its control channel is granted. Type 1 is therefore not offered.
            return nullptr;
        }
    });
}

ZQ_API int ZQ_CALL zq_close_device(NetHandle* handle) {
    return zq::guarded<int>(1, [&] {
        std::shared_ptr<zq::RegisteredSession> session;
        if (!SessionRegistry::instance().remove(handle, session))
            return 1;
        if (session)
            session->close();
        return 0;
    });
}

ZQ_API int ZQ_CALL zq_start_media(NetHandle* handle, int what) {
    return withMedia(handle, [&](CClient& client) {
        if (what == kWhatVideo)
            client.sendStartVideo();
        else if (what == kWhatAudio)
            client.sendOpenAudio();
    });
}

ZQ_API int ZQ_CALL zq_stop_media(NetHandle* handle, int what) {
    return withMedia(handle, [&](CClient& client) {
        if (what == kWhatVideo)
            client.sendStopVideo();
        else if (what == kWhatAudio)
            client.sendCloseAudio();
    });
}

ZQ_API int ZQ_CALL zq_pause_media(NetHandle* handle) {
    return withMedia(handle, [](CClient& client) {
        if (client.playback())
            client.playback()->pause();
    });
}

ZQ_API int ZQ_CALL zq_resume_media(NetHandle* handle) {
    return withMedia(handle, [](CClient& client) {
        if (client.playback())
            client.playback()->resume();
    });
}

ZQ_API int ZQ_CALL zq_seek_record(NetHandle* handle, double percent) {
    return withMedia(handle, [&](CClient& client) {
        if (client.playback())
            client.playback()->seek(percent);
    });
}

ZQ_API int ZQ_CALL zq_get_image(NetHandle* /*handle*/) {
    return 0;
}

ZQ_API int ZQ_CALL zq_send_talk_data(NetHandle* handle, int /*unused*/, int a, int b, int length,
                                     const char* data) {
    // MJPEG cameras take talk audio in packets of exactly 160 bytes, with a serial and a format.
    const int mjpeg = zq::guarded<int>(-1, [&] {
        auto session = SessionRegistry::instance().findAs<zq::mjpeg::MjpegSession>(handle);
        return session ? session->sendTalk(a, b, data, length) : 1;
    });
    if (mjpeg != 1)
        return mjpeg;
    // H.264 channels take the bytes as is.
    return withMedia(handle, [&](CClient& client) { client.sendTalk(data, length); });
}

ZQ_API int ZQ_CALL zq_post_media_msg(NetHandle* handle, int code, int param1, int param2) {
    return withMedia(handle, [&](CClient& client) { client.postMessage(code, param1, param2); });
}

ZQ_API NetHandle* ZQ_CALL zq_open_ctrl_road(int type, DEVICE_PARAM* param, CtrlCallback onCtrl,
                                            void* user) {
    return zq::guarded<NetHandle*>(nullptr, [&]() -> NetHandle* {
        // The MJPEG road (257) is not offered: its control channel is only half of a camera
        // that the whole-session call serves.
        if ((type != kRoadUdt && type != kRoadTcp && type != kRoadP2P) || !param)
            return nullptr;
        const Carrier carrier = type == kRoadUdt   ? Carrier::Udt
                                : type == kRoadP2P ? Carrier::PeerToPeer
                                                   : Carrier::Tcp;
        auto session = std::make_shared<ControlRoadSession>(onCtrl, user);
        if (!session->start(carrier, param)) {
            session->close();
            return nullptr;
        }
        return SessionRegistry::instance().add(type, std::move(session));
    });
}

ZQ_API int ZQ_CALL zq_close_ctrl_road(NetHandle* handle) {
    return zq_close_device(handle);
}

ZQ_API int ZQ_CALL zq_post_ctrl_road_msg(NetHandle* handle, int code, int, int) {
    return zq::guarded<int>(1, [&] {
        auto session = SessionRegistry::instance().findAs<ControlRoadSession>(handle);
        if (!session)
            return 1;
        if (code == kControlLogin || code == kControlRequest14 || code == zq::kMsgReconnect)
            session->ctrl().post(code);
        return 0;
    });
}
