#include "zqnet/CHttpParser.h"

#include "sys/Tick.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kWaitRoundMs = 10;
// Rounds of httpConnect: about 3 s of 10 ms waits.
constexpr int kConnectRounds = 302;
// Idle rounds of httpRequest before giving up on a peer that does not drain the socket.
constexpr int kSendIdleRounds = 300;

constexpr std::string_view kBoundary = "----ipcamera";

// The multipart boundary: the usual one, unless the file itself holds that text, in which case a
// numbered variant the file does not hold (a receiver would otherwise cut the file short there).
std::string boundaryFor(std::string_view file) {
    std::string boundary(kBoundary);
    for (unsigned n = 0; file.find(boundary) != std::string_view::npos; ++n)
        boundary = std::string(kBoundary) + "-" + std::to_string(n);
    return boundary;
}

struct FreeDeleter {
    void operator()(char* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<char, FreeDeleter>;

// Copy of `length` bytes plus a NUL; null for a null source.
char* duplicate(const char* data, int length) {
    if (!data)
        return nullptr;
    auto* copy = static_cast<char*>(std::malloc(static_cast<size_t>(length) + 1));
    if (!copy)
        throw std::bad_alloc();
    std::memcpy(copy, data, static_cast<size_t>(length));
    copy[length] = '\0';
    return copy;
}

bool resolveIpv4(const char* host, in_addr* out) {
    if (!host || !*host)
        return false;
    if (inet_pton(AF_INET, host, out) == 1)
        return true;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &found) != 0 || !found)
        return false;
    *out = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return true;
}

std::string base64(std::string_view text) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 3 <= text.size(); i += 3) {
        const uint32_t v = static_cast<uint8_t>(text[i]) << 16 |
                           static_cast<uint8_t>(text[i + 1]) << 8 |
                           static_cast<uint8_t>(text[i + 2]);
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    const size_t rest = text.size() - i;
    if (rest > 0) {
        uint32_t v = static_cast<uint8_t>(text[i]) << 16;
        if (rest == 2)
            v |= static_cast<uint8_t>(text[i + 1]) << 8;
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

// Reads a whole regular file of at most kHttpMaxBodyBytes. Returns 15, 6 (cannot be read) or 12
// (too large).
int readFile(const char* path, std::string* out) {
    if (!path || !*path)
        return kHttpNoFile;
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return kHttpNoFile;
    struct stat info {};
    int code = kHttpSuccess;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        code = kHttpNoFile;
    } else if (info.st_size > kHttpMaxBodyBytes) {
        code = kHttpSocketError;
    } else {
        out->resize(static_cast<size_t>(info.st_size));
        size_t have = 0;
        while (have < out->size()) {
            const ssize_t n = ::read(fd, out->data() + have, out->size() - have);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            have += static_cast<size_t>(n);
        }
        if (have != out->size())
            code = kHttpNoFile; // shrank or failed while we read it: do not send a torn file
    }
    ::close(fd);
    return code;
}

bool hasLineBreak(const char* text) {
    return text && std::strpbrk(text, "\r\n") != nullptr;
}

// Case-insensitive search for a header field name at the start of a line. Returns the offset
// just past `name` (which includes its colon), or npos.
size_t findField(const std::string& header, std::string_view name) {
    for (size_t lineStart = header.find('\n'); lineStart != std::string::npos;
         lineStart = header.find('\n', lineStart + 1)) {
        const size_t at = lineStart + 1;
        if (header.size() - at >= name.size() &&
            strncasecmp(header.c_str() + at, name.data(), name.size()) == 0)
            return at + name.size();
    }
    return std::string::npos;
}

bool wouldBlock(int error) {
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

enum class Wait { Ready, Cancelled, Timeout, Error };

int codeOf(Wait wait) {
    switch (wait) {
    case Wait::Ready:
        return kHttpSuccess;
    case Wait::Cancelled:
        return kHttpCancelled;
    case Wait::Timeout:
        return kHttpTimeout;
    case Wait::Error:
        break;
    }
    return kHttpSocketError;
}

// The waiting rule shared by connect, send and receive: rounds of one poll of `waitMs` (plus, for
// send and receive, a sleep of the same length when the poll found nothing), the quit flag looked
// at before every round, and a time-out once more than `idleRounds` consecutive rounds were idle.
class Waiter {
public:
    Waiter(int sock, const std::atomic<bool>& quit, int waitMs, int idleRounds, bool sleepWhenIdle)
        : m_sock(sock), m_quit(quit), m_waitMs(waitMs), m_idleRounds(idleRounds),
          m_sleepWhenIdle(sleepWhenIdle) {}

    Wait wait(short events) {
        for (;;) {
            if (m_quit)
                return Wait::Cancelled;
            pollfd entry{m_sock, events, 0};
            const int ready = ::poll(&entry, 1, m_waitMs);
            if (ready > 0)
                return Wait::Ready; // error and hang-up too: the following call reports them
            if (ready < 0 && errno != EINTR)
                return Wait::Error;
            if (++m_idle > m_idleRounds)
                return Wait::Timeout;
            if (m_sleepWhenIdle)
                sys::sleepMs(static_cast<unsigned>(m_waitMs));
        }
    }

    void progressed() { m_idle = 0; }
    int sock() const { return m_sock; }

private:
    int m_sock;
    const std::atomic<bool>& m_quit;
    int m_waitMs;
    int m_idleRounds;
    bool m_sleepWhenIdle;
    int m_idle = 0;
};

// Reads a body of exactly `length` bytes (at most kHttpMaxBodyBytes), of which `initial` came
// with the header. Bytes beyond the announced length belong to nobody (the request said
// Connection: Close) and are dropped.
int readBody(Waiter& waiter, size_t length, std::string_view initial, Buffer* out) {
    Buffer body(static_cast<char*>(std::calloc(length + 1, 1)));
    if (!body)
        return kHttpSocketError;
    size_t have = std::min(initial.size(), length);
    std::memcpy(body.get(), initial.data(), have);
    while (have < length) {
        const Wait wait = waiter.wait(POLLIN);
        if (wait != Wait::Ready)
            return codeOf(wait);
        const ssize_t n = ::recv(waiter.sock(), body.get() + have, length - have, 0);
        if (n < 0 && wouldBlock(errno))
            continue;
        if (n <= 0)
            return kHttpSocketError; // truncated: a partial body is not the answer
        have += static_cast<size_t>(n);
        waiter.progressed();
    }
    *out = std::move(body);
    return kHttpSuccess;
}

// Reads until the peer closes, up to kHttpMaxBodyBytes.
int readUntilClose(Waiter& waiter, std::string_view initial, Buffer* out, size_t* length) {
    // One byte more than the cap may be read: that is how an oversized body is recognised.
    constexpr size_t kLimit = static_cast<size_t>(kHttpMaxBodyBytes) + 1;
    size_t capacity = std::max<size_t>(kHttpHeaderArea, initial.size());
    Buffer body(static_cast<char*>(std::malloc(capacity + 1)));
    if (!body)
        return kHttpSocketError;
    size_t have = initial.size();
    std::memcpy(body.get(), initial.data(), have);
    for (;;) {
        if (have == capacity) {
            // Doubling keeps a large close-delimited body linear to read.
            const size_t grown = std::min(std::max(capacity * 2, have + kHttpHeaderArea), kLimit);
            auto* bigger = static_cast<char*>(std::realloc(body.get(), grown + 1));
            if (!bigger)
                return kHttpSocketError;
            (void)body.release();
            body.reset(bigger);
            capacity = grown;
        }
        const Wait wait = waiter.wait(POLLIN);
        if (wait != Wait::Ready)
            return codeOf(wait);
        const ssize_t n = ::recv(waiter.sock(), body.get() + have, capacity - have, 0);
        if (n < 0 && wouldBlock(errno))
            continue;
        if (n < 0)
            return kHttpSocketError;
        if (n == 0)
            break;
        have += static_cast<size_t>(n);
        waiter.progressed();
        if (have > static_cast<size_t>(kHttpMaxBodyBytes))
            return kHttpSocketError;
    }
    body.get()[have] = '\0';
    *out = std::move(body);
    *length = have;
    return kHttpPeerClosed;
}

} // namespace

CHttpParser::CHttpParser()
    : lastError(0), sendData(nullptr), sendDataLength(0), contentData(nullptr), contentLength(0),
      quit(false), sock(-1), waitMs(kWaitRoundMs) {}

CHttpParser::CHttpParser(const CHttpParser& other)
    : lastError(other.lastError.load()), sendData(nullptr), sendDataLength(0), header(other.header),
      contentData(nullptr), contentLength(0), quit(false), sock(-1), waitMs(other.waitMs) {
    Buffer send(duplicate(other.sendData, other.sendDataLength));
    contentData = duplicate(other.contentData, other.contentLength);
    sendData = send.release();
    sendDataLength = sendData ? other.sendDataLength : 0;
    contentLength = contentData ? other.contentLength : 0;
}

// The assigned object takes the other's request, answer and status; its own connection is closed
// rather than kept, since it belonged to the request being replaced.
CHttpParser& CHttpParser::operator=(const CHttpParser& other) {
    if (this == &other)
        return *this;
    Buffer send(duplicate(other.sendData, other.sendDataLength));
    Buffer content(duplicate(other.contentData, other.contentLength));
    std::string headerCopy = other.header;
    closeHttpSocket();
    freeSendData();
    freeContentData();
    sendData = send.release();
    sendDataLength = sendData ? other.sendDataLength : 0;
    contentData = content.release();
    contentLength = contentData ? other.contentLength : 0;
    header = std::move(headerCopy);
    lastError = other.lastError.load();
    waitMs = other.waitMs;
    quit = false;
    return *this;
}

CHttpParser::~CHttpParser() {
    closeHttpSocket();
    freeSendData();
    freeContentData();
}

char* CHttpParser::setRequest(const char* url, const char* method, const char* host,
                              const char* file, const char* auth) {
    freeSendData();
    const bool post = method && strcasecmp(method, "POST") == 0;
    const bool get = method && strcasecmp(method, "GET") == 0;
    if (!post && !get) {
        lastError = kHttpBadMethod;
        return nullptr;
    }
    // A line break in any of these would let the caller's text forge header lines.
    if (!url || !*url || hasLineBreak(url) || hasLineBreak(host)) {
        lastError = kHttpSocketError;
        return nullptr;
    }
    std::string fileBytes;
    if (post) {
        const int code = readFile(file, &fileBytes);
        if (code != kHttpSuccess) {
            lastError = code;
            return nullptr;
        }
    }

    std::string text;
    text.reserve(std::strlen(url) + fileBytes.size() + 500);
    // Methods are case-sensitive on the wire; callers may spell them in any case.
    text.append(post ? "POST " : "GET ").append(url).append(" HTTP/1.1\r\n");
    if (host && *host)
        text.append("Host: ").append(host).append("\r\n");
    if (get) {
        text.append("Accept:*/*\r\nConnection: Close\r\n");
        if (auth && *auth)
            text.append("Authorization: Basic ").append(base64(auth)).append("\r\n");
        text.append("\r\n");
    } else {
        const std::string boundary = boundaryFor(fileBytes);
        std::string part = "--" + boundary +
                           "\r\nContent-Disposition: form-data; name=\"file\"; "
                           "filename=\"configs.bin\"\r\nContent-Type: application/x-macbinary"
                           "\r\n\r\n";
        const std::string trailer = "\r\n--" + boundary + "--\r\n";
        const size_t bodyLength = part.size() + fileBytes.size() + trailer.size();
        text.append("Content-Length: ").append(std::to_string(bodyLength)).append("\r\n");
        text.append("Content-Type: multipart/form-data; boundary=").append(boundary);
        text.append("\r\n\r\n").append(part).append(fileBytes).append(trailer);
    }

    sendData = duplicate(text.data(), static_cast<int>(text.size()));
    sendDataLength = static_cast<int>(text.size());
    lastError = kHttpSuccess;
    return sendData;
}

int CHttpParser::createHttpSocket() {
    closeHttpSocket();
    quit = false;
    sock = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    return lastError = sock < 0 ? kHttpSocketError : kHttpSuccess;
}

void CHttpParser::closeHttpSocket() {
    if (sock >= 0)
        ::close(sock);
    sock = -1;
}

void CHttpParser::userQuit() {
    quit = true;
}

int CHttpParser::httpConnect(const char* host, short port) {
    if (sock < 0)
        return lastError = kHttpSocketError;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (!resolveIpv4(host, &address.sin_addr))
        return lastError = kHttpSocketError;
    if (::connect(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        return lastError = kHttpSuccess;
    if (errno != EINPROGRESS && errno != EINTR)
        return lastError = kHttpSocketError;
    Waiter waiter(sock, quit, waitMs, kConnectRounds - 1, false);
    switch (waiter.wait(POLLOUT)) {
    case Wait::Ready:
        break;
    case Wait::Cancelled:
        closeHttpSocket();
        return lastError = kHttpCancelled;
    case Wait::Timeout:
        closeHttpSocket();
        return lastError = kHttpTimeout;
    case Wait::Error:
        return lastError = kHttpSocketError;
    }
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(sock, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0)
        return lastError = kHttpSocketError;
    return lastError = kHttpSuccess;
}

int CHttpParser::httpRequest() {
    if (!sendData || sock < 0)
        return lastError = kHttpSocketError;
    Waiter waiter(sock, quit, waitMs, kSendIdleRounds - 1, true);
    int sent = 0;
    int code = kHttpSuccess;
    while (sent < sendDataLength && code == kHttpSuccess) {
        const Wait wait = waiter.wait(POLLOUT);
        if (wait != Wait::Ready) {
            code = codeOf(wait);
            break;
        }
        const ssize_t n =
            ::send(sock, sendData + sent, static_cast<size_t>(sendDataLength - sent), MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<int>(n);
            waiter.progressed();
        } else if (n == 0) {
            code = kHttpPeerClosed;
        } else if (!wouldBlock(errno)) {
            code = kHttpSocketError;
        }
    }
    if (code == kHttpCancelled || code == kHttpSocketError)
        closeHttpSocket();
    return lastError = code;
}

int CHttpParser::httpResponse(int rounds) {
    freeContentData();
    header.clear();
    if (sock < 0)
        return lastError = kHttpSocketError;
    Waiter waiter(sock, quit, waitMs, std::max(rounds, 0), true);

    char area[kHttpHeaderArea];
    int have = 0;
    size_t headerEnd = std::string_view::npos;
    int code = kHttpSuccess;
    while (headerEnd == std::string_view::npos && code == kHttpSuccess) {
        const Wait wait = waiter.wait(POLLIN);
        if (wait != Wait::Ready) {
            code = codeOf(wait);
            break;
        }
        const ssize_t n = ::recv(sock, area + have, sizeof area - static_cast<size_t>(have), 0);
        if (n < 0 && wouldBlock(errno))
            continue;
        // A peer that closes before the header ends sent no answer: that is a failure, not the
        // end of a close-delimited body.
        if (n <= 0) {
            code = kHttpSocketError;
            break;
        }
        waiter.progressed();
        const int searchFrom = std::max(0, have - 3);
        have += static_cast<int>(n);
        const std::string_view seen(area, static_cast<size_t>(have));
        const size_t at = seen.find("\r\n\r\n", static_cast<size_t>(searchFrom));
        if (at != std::string_view::npos)
            headerEnd = at + 4;
        else if (have == kHttpHeaderArea)
            code = kHttpSocketError; // the answer cannot be read: no success without it
    }

    Buffer body;
    size_t length = 0;
    if (code == kHttpSuccess) {
        header.assign(area, headerEnd);
        const std::string_view initial(area + headerEnd, static_cast<size_t>(have) - headerEnd);
        const long long announced = parseConetentLength();
        if (announced == -2) {
            code = kHttpSocketError;
        } else if (announced >= 0) {
            length = static_cast<size_t>(announced);
            code = readBody(waiter, length, initial, &body);
        } else if (parseConnectionType() != kHttpSuccess) {
            code = kHttpSocketError;
        } else {
            parseChunkedType();
            code = readUntilClose(waiter, initial, &body, &length);
        }
    }
    if (code == kHttpCancelled)
        closeHttpSocket();
    if (code == kHttpSuccess || code == kHttpPeerClosed) {
        contentData = body.release();
        contentLength = static_cast<int>(length);
    }
    return lastError = code;
}

void CHttpParser::parseChunkedType() {}

int CHttpParser::parseConnectionType() {
    const size_t at = findField(header, "connection:");
    if (at == std::string::npos)
        return kHttpSuccess;
    const size_t lineEnd = header.find('\n', at);
    if (lineEnd == std::string::npos || header[lineEnd - 1] != '\r')
        return kHttpSocketError;
    return kHttpSuccess;
}

long long CHttpParser::parseConetentLength() {
    size_t at = findField(header, "content-length:");
    if (at == std::string::npos)
        return -1;
    while (at < header.size() && (header[at] == ' ' || header[at] == '\t'))
        ++at;
    long long value = 0;
    size_t digits = 0;
    for (; at < header.size() && header[at] >= '0' && header[at] <= '9'; ++at, ++digits) {
        value = value * 10 + (header[at] - '0');
        if (value > kHttpMaxBodyBytes)
            return -2;
    }
    while (at < header.size() && (header[at] == ' ' || header[at] == '\t'))
        ++at;
    if (digits == 0 || at >= header.size() || header[at] != '\r')
        return -2;
    return value;
}

char* CHttpParser::GetContentData() {
    return contentData;
}

int CHttpParser::GetContentLength() {
    return contentLength;
}

void CHttpParser::freeContentData() {
    std::free(contentData);
    contentData = nullptr;
    contentLength = 0;
}

char* CHttpParser::GetSendData() {
    return sendData;
}

int CHttpParser::GetSendDataLength() {
    return sendDataLength;
}

char* CHttpParser::mallocSendData(int n) {
    freeSendData();
    if (n < 0 || n > kHttpMaxBodyBytes) {
        lastError = kHttpSocketError;
        return nullptr;
    }
    sendData = static_cast<char*>(std::calloc(static_cast<size_t>(n) + 1, 1));
    if (!sendData) {
        lastError = kHttpSocketError;
        return nullptr;
    }
    sendDataLength = n;
    return sendData;
}

void CHttpParser::freeSendData() {
    std::free(sendData);
    sendData = nullptr;
    sendDataLength = 0;
}

int CHttpParser::GetLastError() {
    return lastError;
}
