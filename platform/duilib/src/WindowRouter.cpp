#include "WindowRouter.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QWidget>

#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <unistd.h>

namespace DuiLib::WindowRouter {

namespace {

// One posted message on the wire between processes.
struct WireMessage {
    uint32_t msg;
    uint32_t reserved;
    uint64_t wParam;
    int64_t lParam;
};
static_assert(sizeof(WireMessage) == 24);

constexpr int kRemoteWaitMs = 300;

QString serverName(HWND hwnd) {
    return QString("vistaro-wnd-%1").arg(static_cast<qulonglong>(hwnd));
}

struct Entry {
    CWindowWnd* window = nullptr;
    QPointer<QWidget> host;
    std::unique_ptr<QLocalServer> server;
};

std::mutex& registryLock() {
    static std::mutex lock;
    return lock;
}

std::map<HWND, Entry>& registry() {
    static std::map<HWND, Entry> entries;
    return entries;
}

bool postLocal(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    std::lock_guard guard(registryLock());
    const auto found = registry().find(hwnd);
    if (found == registry().end() || found->second.host == nullptr) {
        return false;
    }
    // Posting under the lock: remove() takes it before the window goes away.
    QCoreApplication::postEvent(found->second.host, new WindowMessageEvent(msg, wParam, lParam));
    return true;
}

// Reads whole messages from a connection of another process and posts them to the window.
void serve(QLocalServer* server, HWND hwnd) {
    QObject::connect(server, &QLocalServer::newConnection, server, [server, hwnd] {
        while (QLocalSocket* socket = server->nextPendingConnection()) {
            QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket, hwnd] {
                while (socket->bytesAvailable() >= static_cast<qint64>(sizeof(WireMessage))) {
                    WireMessage message{};
                    socket->read(reinterpret_cast<char*>(&message), sizeof message);
                    postLocal(hwnd, message.msg, static_cast<WPARAM>(message.wParam),
                              static_cast<LPARAM>(message.lParam));
                }
            });
        }
    });
}

bool postRemote(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    QLocalSocket socket;
    socket.connectToServer(serverName(hwnd));
    if (!socket.waitForConnected(kRemoteWaitMs)) {
        return false;
    }
    const WireMessage message{msg, 0, static_cast<uint64_t>(wParam), static_cast<int64_t>(lParam)};
    socket.write(reinterpret_cast<const char*>(&message), sizeof message);
    const bool sent = socket.waitForBytesWritten(kRemoteWaitMs);
    socket.disconnectFromServer();
    return sent;
}

} // namespace

HWND allocate(QWidget* host) {
    if (QGuiApplication::platformName() == "xcb") {
        return static_cast<HWND>(host->winId());
    }
    // No native ids to share: the process id keeps numbers apart between programs.
    static std::atomic<uint32_t> counter{1};
    return (static_cast<HWND>(getpid()) << 20) | (counter++ & 0xfffff);
}

void add(HWND hwnd, CWindowWnd* window, QWidget* host) {
    auto server = std::make_unique<QLocalServer>();
    QLocalServer::removeServer(serverName(hwnd)); // left behind by a program that crashed
    if (server->listen(serverName(hwnd))) {
        serve(server.get(), hwnd);
    } else {
        server.reset();
    }
    std::lock_guard guard(registryLock());
    registry()[hwnd] = Entry{window, host, std::move(server)};
}

void remove(HWND hwnd) {
    std::unique_ptr<QLocalServer> server;
    {
        std::lock_guard guard(registryLock());
        const auto found = registry().find(hwnd);
        if (found == registry().end()) {
            return;
        }
        server = std::move(found->second.server);
        registry().erase(found);
    }
}

CWindowWnd* find(HWND hwnd) {
    std::lock_guard guard(registryLock());
    const auto found = registry().find(hwnd);
    return found != registry().end() ? found->second.window : nullptr;
}

bool post(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (hwnd == 0) {
        return false;
    }
    return postLocal(hwnd, msg, wParam, lParam) || postRemote(hwnd, msg, wParam, lParam);
}

bool exists(HWND hwnd) {
    if (hwnd == 0) {
        return false;
    }
    if (find(hwnd) != nullptr) {
        return true;
    }
    QLocalSocket socket;
    socket.connectToServer(serverName(hwnd));
    return socket.waitForConnected(kRemoteWaitMs);
}

} // namespace DuiLib::WindowRouter
