#pragma once

// A camera played by the test itself on a raw socket: it records exactly what the library sends
// and does only what the test asks (answer the login, then stay silent, say).

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class ScriptedCamera {
public:
    struct Connection {
        std::string preface; // text before the first packet, if any
        int firstCommand = -1;
        bool http = false;
    };

    // `answerHttp`: CGI requests get a result-0 answer; otherwise they are read and never
    // answered. Binary logins: control gets reply 100 (accepted); media gets nothing at all.
    explicit ScriptedCamera(bool answerHttp = true) : m_answerHttp(answerHttp) {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        const int on = 1;
        ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(m_listener, 16);
        socklen_t size = sizeof address;
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &size);
        m_port = ntohs(address.sin_port);
        m_accepter = std::thread([this] { acceptLoop(); });
    }

    ~ScriptedCamera() {
        m_stop = true;
        m_accepter.join();
        for (auto& t : m_workers)
            t.join();
        ::close(m_listener);
    }

    uint16_t port() const { return m_port; }
    std::vector<Connection> connections() {
        std::lock_guard lock(m_lock);
        return m_connections;
    }
    int mediaLogins() {
        std::lock_guard lock(m_lock);
        int n = 0;
        for (const auto& c : m_connections)
            n += c.firstCommand == 0;
        return n;
    }

private:
    void acceptLoop() {
        while (!m_stop) {
            pollfd entry{m_listener, POLLIN, 0};
            if (::poll(&entry, 1, 20) <= 0)
                continue;
            const int fd = ::accept(m_listener, nullptr, nullptr);
            if (fd >= 0)
                m_workers.emplace_back([this, fd] { serve(fd); });
        }
    }

    // Reads what is there within 20 ms; false when the peer closed or the test ends.
    bool readSome(int fd, std::string& buffer) {
        pollfd entry{fd, POLLIN, 0};
        if (::poll(&entry, 1, 20) <= 0)
            return !m_stop;
        char chunk[4096];
        const ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
        if (got <= 0)
            return false;
        buffer.append(chunk, static_cast<size_t>(got));
        return true;
    }

    static void sendAll(int fd, const std::string& bytes) {
        size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return;
            sent += static_cast<size_t>(n);
        }
    }

    static std::string packet(int32_t command, const std::string& payload) {
        std::string out(12, '\0');
        const int32_t length = static_cast<int32_t>(payload.size());
        std::memcpy(out.data(), &command, 4);
        std::memcpy(out.data() + 4, "ZQNT", 4);
        std::memcpy(out.data() + 8, &length, 4);
        return out + payload;
    }

    void serve(int fd) {
        std::string buffer;
        Connection connection;
        bool recorded = false;
        while (readSome(fd, buffer)) {
            if (recorded)
                continue; // keep reading (keep-alives), answer nothing more
            if (buffer.rfind("GET ", 0) == 0) {
                if (buffer.find("\r\n\r\n") == std::string::npos)
                    continue;
                connection.http = true;
                record(connection);
                recorded = true;
                if (m_answerHttp) {
                    const std::string body = "<CGI_Result><result>0</result></CGI_Result>";
                    sendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: " +
                                    std::to_string(body.size()) + "\r\n\r\n" + body);
                    break;
                }
                continue;
            }
            const size_t magic = buffer.find("ZQNT");
            if (magic == std::string::npos || magic < 4 || buffer.size() < magic + 8)
                continue;
            connection.preface = buffer.substr(0, magic - 4);
            std::memcpy(&connection.firstCommand, buffer.data() + magic - 4, 4);
            record(connection);
            recorded = true;
            if (connection.firstCommand == 12)
                sendAll(fd, packet(100, std::string(2219, '\0')));
        }
        ::close(fd);
    }

    void record(const Connection& connection) {
        std::lock_guard lock(m_lock);
        m_connections.push_back(connection);
    }

    const bool m_answerHttp;
    int m_listener = -1;
    uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_accepter;
    std::vector<std::thread> m_workers; // accept thread only, joined in the destructor
    std::mutex m_lock;
    std::vector<Connection> m_connections; // guarded by m_lock
};
