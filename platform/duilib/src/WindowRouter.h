#pragma once

#include "sys/WinTypes.h"

#include <QEvent>

class QWidget;

namespace DuiLib {

class CWindowWnd;

// A posted window message on its way to the window's thread.
class WindowMessageEvent : public QEvent {
public:
    static constexpr QEvent::Type kType = static_cast<QEvent::Type>(QEvent::User + 124);
    WindowMessageEvent(UINT msg, WPARAM wParam, LPARAM lParam)
        : QEvent(kType), msg(msg), wParam(wParam), lParam(lParam) {}
    const UINT msg;
    const WPARAM wParam;
    const LPARAM lParam;
};

// Window handles and the delivery of posted messages: straight to the window's event queue in
// this process, through a small local socket per window from other processes. A handle is the
// native window id where the windowing system has one (so other programs can embed the window),
// else a number unique on this machine.
namespace WindowRouter {

HWND allocate(QWidget* host);
// Makes the window reachable by handle, here and from other processes.
void add(HWND hwnd, CWindowWnd* window, QWidget* host);
void remove(HWND hwnd);
CWindowWnd* find(HWND hwnd); // UI thread only
bool post(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
bool exists(HWND hwnd);

} // namespace WindowRouter

} // namespace DuiLib
