#include "HttpServer.h"

#include "CameraCore.h"
#include "Channel.h"
#include "UrlQuery.h"

#include "sys/Tick.h"

#include <string_view>

namespace camsim {

namespace {

const char* reason(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    default:
        return "Error";
    }
}

// The request head up to its blank line, or empty when it does not come in time or in bounds.
std::string readHead(Channel& channel) {
    const uint32_t start = sys::tickMs();
    std::vector<uint8_t>& pending = channel.pending();
    for (;;) {
        const std::string_view text(reinterpret_cast<const char*>(pending.data()),
                                    std::min(pending.size(), HttpServer::kMaxRequestBytes));
        const size_t end = text.find("\r\n\r\n");
        if (end != std::string_view::npos) {
            return std::string(text.substr(0, end));
        }
        if (pending.size() >= HttpServer::kMaxRequestBytes ||
            sys::elapsedMs(start) > HttpServer::kRequestTimeoutMs || !channel.receive(20)) {
            return {};
        }
    }
}

} // namespace

void HttpServer::serve(Channel& channel) {
    const std::string head = readHead(channel);
    if (head.empty()) {
        if (channel.open()) {
            m_core.count(&CameraStats::protocolErrors);
            answer(channel, 400, "text/plain", "bad request\n");
        }
        return;
    }
    m_core.count(&CameraStats::httpRequests);
    // Request line: METHOD SP target SP version.
    const std::string_view line = std::string_view(head).substr(0, head.find("\r\n"));
    const size_t firstSpace = line.find(' ');
    const size_t secondSpace = line.find(
        ' ', firstSpace == std::string_view::npos ? std::string_view::npos : firstSpace + 1);
    if (firstSpace == std::string_view::npos || secondSpace == std::string_view::npos) {
        m_core.count(&CameraStats::protocolErrors);
        answer(channel, 400, "text/plain", "bad request line\n");
        return;
    }
    if (line.substr(0, firstSpace) != "GET") {
        answer(channel, 405, "text/plain", "only GET\n");
        return;
    }
    const std::string_view target = line.substr(firstSpace + 1, secondSpace - firstSpace - 1);
    const size_t question = target.find('?');
    const std::string_view path = target.substr(0, question);
    const std::string_view query =
        question == std::string_view::npos ? std::string_view() : target.substr(question + 1);

    if (const uint32_t delay = m_core.faults().httpDelayMs; delay > 0) {
        channel.pause(delay);
    }
    if (path == "/cgi-bin/CGIProxy.fcgi") {
        const auto params = parseQuery(query);
        if (!params) {
            m_core.count(&CameraStats::protocolErrors);
            answer(channel, 400, "text/plain", "bad query\n");
            return;
        }
        const std::string xml = m_core.cgi().execute(*params, m_core.faults().refuseLogins);
        const auto cmd = params->find("cmd");
        const size_t resultAt = xml.find("<result>") + 8;
        const std::string result = xml.substr(resultAt, xml.find('<', resultAt) - resultAt);
        m_core.event("cgi \"%s\" -> %s", cmd == params->end() ? "" : cmd->second.c_str(),
                     result.c_str());
        answer(channel, 200, "text/xml", xml);
        return;
    }
    if (path.starts_with("/snapPic/")) {
        if (const auto jpeg = m_core.snapshot(std::string(path.substr(1)))) {
            answer(channel, 200, "image/jpeg", std::string(jpeg->begin(), jpeg->end()));
            return;
        }
    }
    answer(channel, 404, "text/plain", "not found\n");
}

void HttpServer::answer(Channel& channel, int status, const char* contentType,
                        const std::string& body) {
    const std::string head = "HTTP/1.1 " + std::to_string(status) + " " + reason(status) +
                             "\r\nContent-Type: " + contentType +
                             "\r\nContent-Length: " + std::to_string(body.size()) +
                             "\r\nConnection: close\r\n\r\n";
    if (channel.sendRaw(reinterpret_cast<const uint8_t*>(head.data()), head.size())) {
        channel.sendRaw(reinterpret_cast<const uint8_t*>(body.data()), body.size());
    }
}

} // namespace camsim
