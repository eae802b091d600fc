#include "http/CgiRequest.h"

#include "parsix/UrlEncode.h"
#include "parsix/XMLParse.h"

#include <algorithm>
#include <cstring>

namespace zq::cgi {

namespace {

// DEVICE_PARAM text fields are fixed arrays that a careless writer may fill to the last byte.
std::string_view field(const char* text, size_t capacity) {
    return {text, strnlen(text, capacity)};
}

std::string hostOf(const DEVICE_PARAM& device) {
    return std::string(field(device.host, sizeof device.host));
}

std::string hostHeader(const std::string& host, unsigned port) {
    return host + ":" + std::to_string(port);
}

// Parses `body`; false (and no values) when it is not XML.
bool parse(Parse::CXMLParse& xml, std::string_view body) {
    return xml.ParseData(body.data(), body.size());
}

std::vector<char> nameList(std::string_view body, const char* prefix, size_t count) {
    std::vector<char> names(count * kNameBytes, '\0');
    Parse::CXMLParse xml;
    if (!parse(xml, body))
        return names;
    std::string value;
    for (size_t i = 0; i < count; ++i) {
        const std::string name = prefix + std::to_string(i);
        if (!xml.GetValue(name.c_str(), value))
            continue;
        const size_t n = std::min(value.size(), kNameBytes - 1);
        std::memcpy(names.data() + i * kNameBytes, value.data(), n);
    }
    return names;
}

} // namespace

std::string buildQuery(const DEVICE_PARAM& device, std::string_view command) {
    return "usr=" + Parse::url_encode_component(field(device.user, sizeof device.user)) +
           "&pwd=" + Parse::url_encode_component(field(device.password, sizeof device.password)) +
           "&cmd=" + Parse::url_encode(command);
}

std::string cgiPath(const DEVICE_PARAM& device, std::string_view command) {
    return "/cgi-bin/CGIProxy.fcgi?" + buildQuery(device, command);
}

int get(CHttpParser& parser, const char* connectHost, uint16_t connectPort,
        const std::string& hostHeader, const std::string& path, int rounds, std::string* body) {
    if (body)
        body->clear();
    int code = parser.createHttpSocket();
    if (code == kHttpSuccess &&
        !parser.setRequest(path.c_str(), "GET", hostHeader.c_str(), nullptr, nullptr))
        code = parser.GetLastError();
    if (code == kHttpSuccess)
        code = parser.httpConnect(connectHost, static_cast<short>(connectPort));
    if (code == kHttpSuccess)
        code = parser.httpRequest();
    if (code == kHttpSuccess) {
        code = parser.httpResponse(rounds);
        if ((code == kHttpSuccess || code == kHttpPeerClosed) && body && parser.GetContentData())
            body->assign(parser.GetContentData(), static_cast<size_t>(parser.GetContentLength()));
    }
    parser.closeHttpSocket();
    return code;
}

int command(CHttpParser& parser, const DEVICE_PARAM& device, std::string_view cmd, int rounds,
            std::string* body) {
    const std::string host = hostOf(device);
    return get(parser, host.c_str(), device.httpPort, hostHeader(host, device.httpPort),
               cgiPath(device, cmd), rounds, body);
}

int fetch(CHttpParser& parser, const DEVICE_PARAM& device, std::string_view path, int rounds,
          std::string* body) {
    const std::string host = hostOf(device);
    return get(parser, host.c_str(), device.httpPort, hostHeader(host, device.httpPort),
               "/" + std::string(path), rounds, body);
}

int sendOnly(CHttpParser& parser, const DEVICE_PARAM& device, std::string_view cmd) {
    const std::string host = hostOf(device);
    const std::string header = hostHeader(host, static_cast<uint32_t>(device.port) & 0xFFFFu);
    int code = parser.createHttpSocket();
    if (code == kHttpSuccess &&
        !parser.setRequest(cgiPath(device, cmd).c_str(), "GET", header.c_str(), nullptr, nullptr))
        code = parser.GetLastError();
    if (code == kHttpSuccess)
        code = parser.httpConnect(host.c_str(), static_cast<short>(device.httpPort));
    if (code == kHttpSuccess)
        code = parser.httpRequest();
    parser.closeHttpSocket();
    return code;
}

int toInt(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1; // saturated; more digits change nothing
    }
    if (negative)
        return static_cast<int>(-value);
    return static_cast<int>(std::min<long long>(value, INT_MAX));
}

int resultCode(std::string_view body) {
    Parse::CXMLParse xml;
    std::string value;
    if (!parse(xml, body) || !xml.GetValue("result", value))
        return kNoResult;
    return toInt(value);
}

std::optional<std::string> snapshotPath(std::string_view body) {
    constexpr std::string_view kOpen = "<img src=\"";
    constexpr std::string_view kClose = "\"/>";
    constexpr size_t kSkip = 13; // the opening mark and the camera's "../"
    const size_t start = body.find(kOpen);
    if (start == std::string_view::npos)
        return std::nullopt;
    const size_t end = body.find(kClose, start + kOpen.size());
    if (end == std::string_view::npos || end <= start + kSkip)
        return std::nullopt;
    const std::string_view path = body.substr(start + kSkip, end - start - kSkip);
    if (path.size() > kMaxSnapshotPath || path.find("..") != std::string_view::npos)
        return std::nullopt;
    for (const char c : path) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= ' ' || u == 0x7F)
            return std::nullopt;
    }
    return std::string(path);
}

std::array<uint8_t, 5> imageSettings(std::string_view body) {
    static const char* const kNames[5] = {"brightness", "contrast", "hue", "saturation",
                                          "sharpness"};
    std::array<uint8_t, 5> settings{};
    Parse::CXMLParse xml;
    if (!parse(xml, body))
        return settings;
    for (size_t i = 0; i < settings.size(); ++i)
        settings[i] = static_cast<uint8_t>(std::clamp(toInt(xml.GetValue(kNames[i])), 0, 255));
    return settings;
}

std::pair<int, int> mirrorFlip(std::string_view body) {
    Parse::CXMLParse xml;
    if (!parse(xml, body))
        return {0, 0};
    return {toInt(xml.GetValue("isMirror")), toInt(xml.GetValue("isFlip"))};
}

int mainStreamType(std::string_view body) {
    Parse::CXMLParse xml;
    if (!parse(xml, body))
        return 0;
    return toInt(xml.GetValue("streamType"));
}

std::vector<char> cruiseMapList(std::string_view body) {
    return nameList(body, "map", kCruiseMaps);
}

std::vector<char> presetPointList(std::string_view body) {
    return nameList(body, "point", kPresetPoints);
}

} // namespace zq::cgi
