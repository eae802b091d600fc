// Feeds arbitrary bytes to the HTTP response reader as a peer's whole answer (one end of a
// socketpair, closed after writing), then to the CGI reply readers as an answer body.

#include "http/CgiRequest.h"
#include "http/HttpParserAccess.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string.h> // memmem
#include <string_view>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Writes what fits without blocking: the reader runs only after the writer has closed, so the
// answer must fit into the socket buffer (inputs beyond it are cut, which libFuzzer's default
// lengths never reach).
void writeAnswer(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n <= 0)
            return;
        data += n;
        size -= static_cast<size_t>(n);
    }
}

void checkResponse(const uint8_t* data, size_t size) {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends) != 0)
        std::abort();
    writeAnswer(ends[1], data, size);
    ::close(ends[1]);

    CHttpParser parser;
    HttpParserAccess::adopt(parser, ends[0]);
    // The peer has closed: the reader never waits, so one round is enough.
    const int code = parser.httpResponse(1);
    const char* body = parser.GetContentData();
    const int length = parser.GetContentLength();
    const bool complete = code == kHttpSuccess || code == kHttpPeerClosed;
    if (complete != (body != nullptr) || length < 0 || length > kHttpMaxBodyBytes)
        std::abort();
    if (body) {
        if (body[length] != '\0' || static_cast<size_t>(length) > size)
            std::abort();
        // The body is the tail of what was sent (what follows the header, or part of it).
        if (length > 0 && ::memmem(data, size, body, static_cast<size_t>(length)) == nullptr)
            std::abort();
    }
    if (HttpParserAccess::header(parser).size() > static_cast<size_t>(kHttpHeaderArea))
        std::abort();
}

void checkReplies(const uint8_t* data, size_t size) {
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    (void)zq::cgi::resultCode(body);
    (void)zq::cgi::imageSettings(body);
    (void)zq::cgi::mirrorFlip(body);
    (void)zq::cgi::mainStreamType(body);
    if (const auto path = zq::cgi::snapshotPath(body)) {
        if (path->empty() || path->size() > zq::cgi::kMaxSnapshotPath ||
            path->find("..") != std::string::npos)
            std::abort();
    }
    const auto maps = zq::cgi::cruiseMapList(body);
    const auto points = zq::cgi::presetPointList(body);
    if (maps.size() != zq::cgi::kCruiseMaps * zq::cgi::kNameBytes ||
        points.size() != zq::cgi::kPresetPoints * zq::cgi::kNameBytes)
        std::abort();
    for (size_t slot = 0; slot < zq::cgi::kCruiseMaps; ++slot)
        if (maps[slot * zq::cgi::kNameBytes + zq::cgi::kNameBytes - 1] != '\0')
            std::abort();
    for (size_t slot = 0; slot < zq::cgi::kPresetPoints; ++slot)
        if (points[slot * zq::cgi::kNameBytes + zq::cgi::kNameBytes - 1] != '\0')
            std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    checkResponse(data, size);
    checkReplies(data, size);
    return 0;
}
