// The session family: one handle per camera, whatever its protocol.

#include "core/SessionRegistry.h"
#include "device/h264/H264Session.h"
#include "device/mjpeg/MjpegSession.h"
#include "device/tutk/H264Tutk.h"
#include "exports/Guard.h"
#include "transport/P2pRuntime.h"
#include "zqnet/zqnet.h"

using zq::SessionRegistry;
using zq::h264::H264Session;
using zq::mjpeg::MjpegSession;
using zq::tutk::CH264Tutk;

namespace {

NetHandle* openH264(int type, const char* playFile, DEVICE_PARAM* param, int buffering,
                    int linkFlags, EventCallback onEvent, FrameCallback onFrame, void* user) {
    const auto transport =
        type == ZQ_TYPE_H264_UDT ? H264Session::Transport::Udt : H264Session::Transport::Tcp;
    auto session = std::make_shared<H264Session>(transport, playFile, param, buffering, linkFlags,
                                                 onEvent, onFrame, user);
    if (!session->start()) {
        session->close();
        return nullptr;
    }
    return SessionRegistry::instance().add(type, std::move(session));
}

NetHandle* openMjpeg(DEVICE_PARAM* param, int linkFlags, EventCallback onEvent,
                     FrameCallback onFrame, void* user) {
    auto session = std::make_shared<MjpegSession>(param, linkFlags, onEvent, onFrame, user);
    if (!session->start()) {
        session->close();
        return nullptr;
    }
    return SessionRegistry::instance().add(ZQ_TYPE_MJPEG, std::move(session));
}

NetHandle* openPeerToPeer(DEVICE_PARAM* param, int buffering, int linkFlags, EventCallback onEvent,
                          FrameCallback onFrame, void* user) {
    auto session =
        std::make_shared<CH264Tutk>(param, buffering, linkFlags, onEvent, onFrame, user);
    if (!session->start()) {
        session->close();
        return nullptr;
    }
    return SessionRegistry::instance().add(ZQ_TYPE_H264_P2P, std::move(session));
}

// The peer-to-peer service lives as long as the library.
__attribute__((constructor)) void loadLibrary() {
    zq::startP2pService();
}

__attribute__((destructor)) void unloadLibrary() {
    zq::stopP2pService();
}

} // namespace

ZQ_API NetHandle* ZQ_CALL zq_net_open(int type, const char* playFile, DEVICE_PARAM* param,
                                      int buffering, int linkFlags, int /*unused*/,
                                      EventCallback onEvent, FrameCallback onFrame, void* user) {
    return zq::guarded<NetHandle*>(nullptr, [&]() -> NetHandle* {
        switch (type) {
        case ZQ_TYPE_NONE:
            return SessionRegistry::instance().addEmpty(type);
        case ZQ_TYPE_H264_UDT:
        case ZQ_TYPE_H264_TCP:
            if (!param)
                return type == ZQ_TYPE_H264_TCP ? SessionRegistry::instance().addEmpty(type)
                                                : nullptr;
            return openH264(type, playFile, param, buffering, linkFlags, onEvent, onFrame, user);
        case ZQ_TYPE_MJPEG:
            if (!param)
                return nullptr;
            return openMjpeg(param, linkFlags, onEvent, onFrame, user);
        case ZQ_TYPE_H264_P2P:
            if (!param)
                return nullptr;
            return openPeerToPeer(param, buffering, linkFlags, onEvent, onFrame, user);
        default:
            return nullptr;
        }
    });
}

ZQ_API void ZQ_CALL zq_net_close(NetHandle* handle) {
    zq::guarded<int>(0, [&] {
        std::shared_ptr<zq::RegisteredSession> session;
        if (SessionRegistry::instance().remove(handle, session) && session)
            session->close();
        return 0;
    });
}

ZQ_API void ZQ_CALL zq_net_setcommand(NetHandle* handle, int command, intptr_t param1,
                                      intptr_t param2) {
    zq::guarded<int>(0, [&] {
        if (auto session = SessionRegistry::instance().findAs<H264Session>(handle))
            session->setCommand(command, param1, param2);
        else if (auto mjpeg = SessionRegistry::instance().findAs<MjpegSession>(handle))
            mjpeg->setCommand(command, param1, param2);
        else if (auto p2p = SessionRegistry::instance().findAs<CH264Tutk>(handle))
            p2p->setCommand(command, param1, param2);
        return 0;
    });
}
