#pragma once

// Shared vocabulary of the window toolkit: notifications, the interfaces windows implement to
// receive them, and the window messages the programs post to each other.

#include "sys/WinTypes.h"

#include <string>

namespace DuiLib {

class CControlUI;

// Window messages. Messages from WM_USER up are the programs' own.
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_USER = 0x0400;
// Posted messages that reach a window's notification handler as notifications (type
// kNotifyWindowMessage, uMsg set, both parameters carried).
constexpr UINT kMsgShowWindow = WM_USER + 100;    // 1124
constexpr UINT kMsgWindowCommand = WM_USER + 101; // 1125

// Modal results.
constexpr UINT IDOK = 1;
constexpr UINT IDCANCEL = 2;

// Notification types, by the names handlers compare against.
inline constexpr const char* kNotifyClick = "click";
inline constexpr const char* kNotifyButtonDown = "buttondown";
inline constexpr const char* kNotifyButtonUp = "buttonup";
inline constexpr const char* kNotifySelectChanged = "selectchanged";
inline constexpr const char* kNotifyItemSelect = "itemselect";
inline constexpr const char* kNotifyItemClick = "itemclick";
inline constexpr const char* kNotifyItemActivate = "itemactivate";
inline constexpr const char* kNotifyValueChanged = "valuechanged";
inline constexpr const char* kNotifyMoveValueChanged = "movevaluechanged";
inline constexpr const char* kNotifyTextChanged = "textchanged";
inline constexpr const char* kNotifyReturn = "return";
inline constexpr const char* kNotifyKillFocus = "killfocus";
inline constexpr const char* kNotifyTabSelect = "tabselect";
inline constexpr const char* kNotifyDateTimeChange = "datetimechange";
inline constexpr const char* kNotifyLink = "link";
inline constexpr const char* kNotifyTimer = "timer";
inline constexpr const char* kNotifyWindowInit = "windowinit";
inline constexpr const char* kNotifyWindowMessage = "windowmessage";

struct TNotifyUI {
    std::string sType;
    CControlUI* pSender = nullptr; // null for window-level notifications
    DWORD dwTimestamp = 0;
    POINT ptMouse;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    UINT uMsg = 0; // the posted message, for kNotifyWindowMessage
};

class INotifyUI {
public:
    virtual ~INotifyUI() = default;
    virtual void Notify(TNotifyUI& msg) = 0;
};

// Sees window messages before the window does; setting `handled` stops them there.
class IMessageFilterUI {
public:
    virtual ~IMessageFilterUI() = default;
    virtual LRESULT MessageHandler(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) = 0;
};

// Makes the programs' own controls for class names in a skin file that the toolkit does not
// know. The returned control belongs to the paint manager from then on; null leaves the class
// to the toolkit.
class IDialogBuilderCallback {
public:
    virtual ~IDialogBuilderCallback() = default;
    virtual CControlUI* CreateControl(const char* className) = 0;
};

} // namespace DuiLib
