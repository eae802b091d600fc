#include "TextCommand.h"

#include "CameraCore.h"
#include "PacketWriter.h"
#include "Protocol.h"
#include "UrlQuery.h"

#include <cstring>
#include <string>
#include <string_view>

namespace camsim {

namespace {

// The text up to its NUL, or nullopt when the payload has none or the text is too long.
std::optional<std::string_view> terminatedText(const std::vector<uint8_t>& payload) {
    const void* nul = std::memchr(payload.data(), 0, payload.size());
    if (nul == nullptr) {
        return std::nullopt;
    }
    const auto length = static_cast<size_t>(static_cast<const uint8_t*>(nul) - payload.data());
    if (length + 1 > kMaxTextCommandBytes) {
        return std::nullopt;
    }
    return std::string_view(reinterpret_cast<const char*>(payload.data()), length);
}

std::string xmlField(const std::string& xml, std::string_view open, std::string_view close) {
    const size_t begin = xml.find(open);
    if (begin == std::string::npos) {
        return {};
    }
    const size_t from = begin + open.size();
    const size_t end = xml.find(close, from);
    return end == std::string::npos ? std::string() : xml.substr(from, end - from);
}

std::vector<uint8_t> packetOf(int32_t command, std::string_view body) {
    PacketWriter writer(command, body.size());
    if (!body.empty()) {
        std::memcpy(writer.payload(), body.data(), body.size());
    }
    return writer.take();
}

// Clients parse the answer with their HTTP reader, so it carries the head the web port would.
std::vector<uint8_t> textReply(const std::string& xml) {
    const std::string answer = "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: " +
                               std::to_string(xml.size()) + "\r\n\r\n" + xml;
    return packetOf(cmd::kTextReply, answer);
}

// The model answers snapPicture with the snapshot's web path; the client of a text command wants
// the picture itself, which the core still holds under that path.
std::optional<std::vector<uint8_t>> snapshotReply(CameraCore& core, const std::string& xml) {
    const std::string path = xmlField(xml, "<img src=\"../", "\"/>");
    if (path.empty()) {
        return std::nullopt;
    }
    const auto jpeg = core.snapshot(path);
    if (!jpeg) {
        return std::nullopt;
    }
    return packetOf(cmd::kSnapshotReply,
                    std::string_view(reinterpret_cast<const char*>(jpeg->data()), jpeg->size()));
}

} // namespace

std::optional<std::vector<uint8_t>> answerTextCommand(CameraCore& core,
                                                      const std::vector<uint8_t>& payload) {
    const auto text = terminatedText(payload);
    const auto params = text ? parseQuery(*text) : std::nullopt;
    if (!params) {
        core.count(&CameraStats::protocolErrors);
        core.event("text command of %zu bytes unusable; ignored", payload.size());
        return std::nullopt;
    }
    core.count(&CameraStats::textCommands);
    const std::string xml = core.cgi().execute(*params, core.faults().refuseLogins);
    const auto cmd = params->find("cmd");
    const std::string command = cmd == params->end() ? std::string() : cmd->second;
    core.event("text command \"%s\" -> %s", command.c_str(),
               xmlField(xml, "<result>", "</result>").c_str());
    if (command == "snapPicture") {
        if (auto reply = snapshotReply(core, xml)) {
            return reply;
        }
    }
    return textReply(xml);
}

} // namespace camsim
