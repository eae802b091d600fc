#pragma once

// A one-thread HTTP server on 127.0.0.1 for the client tests. Each accepted connection is handed
// to the test's handler, which writes whatever answer (or misbehaviour) the case needs. The
// handler runs on the server thread; it must return once `stop` is set.

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace test {

// Reads one request: its header, and as many body bytes as its Content-Length says. Stops early
// when the peer closes or `stop` is set.
inline std::string readRequest(int fd, const std::atomic<bool>& stop) {
    std::string text;
    size_t wanted = std::string::npos;
    char chunk[4096];
    while (!stop && text.size() < wanted) {
        pollfd entry{fd, POLLIN, 0};
        if (::poll(&entry, 1, 20) <= 0)
            continue;
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            break;
        text.append(chunk, static_cast<size_t>(n));
        const size_t end = text.find("\r\n\r\n");
        if (wanted == std::string::npos && end != std::string::npos) {
            wanted = end + 4;
            const size_t field = text.find("Content-Length: ");
            if (field != std::string::npos && field < end)
                wanted += std::stoul(text.substr(field + 16));
        }
    }
    return text;
}

inline void writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (n <= 0)
            return; // the client went away; the test's assertions tell the story
        data.remove_prefix(static_cast<size_t>(n));
    }
}

// Blocks the handler until the server is being torn down.
inline void holdOpen(const std::atomic<bool>& stop) {
    while (!stop)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

class LoopbackServer {
public:
    using Handler = std::function<void(int fd, const std::atomic<bool>& stop)>;

    explicit LoopbackServer(Handler handler) : m_handler(std::move(handler)) {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (m_listener < 0 ||
            ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            ::listen(m_listener, 8) != 0 ||
            ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            throw std::runtime_error("loopback listener");
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { run(); });
    }

    ~LoopbackServer() {
        m_stop = true;
        m_thread.join();
        ::close(m_listener);
    }

    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    uint16_t port() const { return m_port; }

private:
    void run() {
        while (!m_stop) {
            pollfd entry{m_listener, POLLIN, 0};
            if (::poll(&entry, 1, 20) <= 0)
                continue;
            const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            m_handler(fd, m_stop);
            ::close(fd);
        }
    }

    Handler m_handler;
    int m_listener = -1;
    uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// Handler that reads the request, keeps its text for the test, and writes `answer`.
class CannedAnswer {
public:
    explicit CannedAnswer(std::string answer) : m_answer(std::move(answer)) {}

    LoopbackServer::Handler handler() {
        return [this](int fd, const std::atomic<bool>& stop) {
            std::string request = readRequest(fd, stop);
            {
                std::lock_guard lock(m_mutex);
                m_requests.push_back(std::move(request));
            }
            writeAll(fd, m_answer);
        };
    }

    std::vector<std::string> requests() const {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }

private:
    std::string m_answer;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_requests;
};

} // namespace test
