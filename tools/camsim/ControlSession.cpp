#include "ControlSession.h"

#include "ByteOrder.h"
#include "CameraCore.h"
#include "Channel.h"
#include "PacketStream.h"
#include "PacketWriter.h"
#include "Protocol.h"
#include "TextCommand.h"

namespace camsim {

namespace {

std::vector<uint8_t> nameListNotice(int32_t command, const std::vector<std::string>& names,
                                    size_t slots) {
    PacketWriter writer(command, slots * kNoticeNameSize + 4);
    const size_t count = std::min(names.size(), slots);
    for (size_t i = 0; i < count; ++i) {
        putFixedText(writer.payload() + i * kNoticeNameSize, kNoticeNameSize, names[i]);
    }
    writer.putWord(slots * kNoticeNameSize, static_cast<int32_t>(count));
    return writer.take();
}

} // namespace

std::vector<uint8_t> ControlSession::presetNotice(CameraCore& core) {
    return nameListNotice(cmd::kPresetNotice, core.cgi().state().presets, CgiModel::kMaxPresets);
}

std::vector<uint8_t> ControlSession::cruiseNotice(CameraCore& core) {
    return nameListNotice(cmd::kCruiseNotice, core.cgi().state().cruiseMaps,
                          CgiModel::kMaxCruiseMaps);
}

std::vector<uint8_t> ControlSession::imageNotice(CameraCore& core) {
    const ImageSettings image = core.cgi().state().image;
    PacketWriter writer(cmd::kImageNotice, 5);
    const int values[5] = {image.brightness, image.contrast, image.hue, image.saturation,
                           image.sharpness};
    for (size_t i = 0; i < 5; ++i) {
        writer.payload()[i] = static_cast<uint8_t>(values[i]);
    }
    return writer.take();
}

bool ControlSession::answerLogin(const Packet& login) {
    if (login.payload.size() != kControlLoginSize) {
        m_core.count(&CameraStats::protocolErrors);
        m_core.event("control login of %zu bytes refused", login.payload.size());
        return false;
    }
    const uint8_t* p = login.payload.data();
    const std::string_view user = fixedText(p, kFieldSize);
    const bool accepted = m_core.acceptsLogin(user, fixedText(p + kFieldSize, kFieldSize));
    // The reply's parameter block: result word, then the camera name; the rest stays zero.
    PacketWriter reply(cmd::kLoginReply, kLoginReplySize);
    reply.putWord(0, accepted ? 0 : kLoginRefused);
    putFixedText(reply.payload() + 4, kFieldSize, m_core.config().name);
    m_channel.sendPacket(reply.take());
    if (!accepted) {
        m_core.count(&CameraStats::rejectedLogins);
        m_core.event("control login by \"%.*s\" refused", static_cast<int>(user.size()),
                     user.data());
        return false;
    }
    m_core.count(&CameraStats::controlLogins);
    m_core.event("control login by \"%.*s\" (id %d) over %s", static_cast<int>(user.size()),
                 user.data(), getLe32(p + 2 * kFieldSize), m_channel.link().kind());
    return m_channel.sendPacket(presetNotice(m_core)) &&
           m_channel.sendPacket(cruiseNotice(m_core)) && m_channel.sendPacket(imageNotice(m_core));
}

void ControlSession::run(const Packet& login) {
    if (!answerLogin(login)) {
        return;
    }
    const auto notices = m_core.openNoticeBox();
    while (!m_packets.ended()) {
        for (const auto& notice : notices->takeAll()) {
            if (!m_channel.sendPacket(notice)) {
                return;
            }
        }
        const auto packet = m_packets.next(20);
        if (!packet) {
            continue;
        }
        switch (packet->command) {
        case cmd::kKeepAlive:
            m_core.count(&CameraStats::keepAlives);
            break;
        case cmd::kControlPing:
            break;
        case cmd::kTextCommand:
            if (const auto answer = answerTextCommand(m_core, packet->payload);
                answer && !m_channel.sendPacket(*answer)) {
                return;
            }
            break;
        case cmd::kControlLogin:
            // A repeated login is answered again, notices included.
            if (!answerLogin(*packet)) {
                return;
            }
            break;
        default:
            m_core.event("control packet %d (%zu bytes) ignored", packet->command,
                         packet->payload.size());
        }
    }
}

} // namespace camsim
