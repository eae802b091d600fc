#pragma once

// Top-level and child windows. A window has a handle other threads and other processes can post
// messages to; messages 1124 and 1125 reach a skinned window's Notify as "windowmessage"
// notifications with both parameters.

#include "duilib/UIDefine.h"
#include "duilib/UIManager.h"

#include <memory>
#include <string>

class QEventLoop;
class QWidget;

namespace DuiLib {

class WindowHost;

// Window styles understood by Create.
constexpr DWORD UI_WNDSTYLE_FRAME = 0x1;  // a captioned, resizable main window
constexpr DWORD UI_WNDSTYLE_DIALOG = 0x2; // a dialog
constexpr DWORD UI_WNDSTYLE_CHILD = 0x4;  // a child of the parent window

// Keys in the wParam of WM_KEYDOWN.
constexpr WPARAM VK_RETURN = 0x0D;
constexpr WPARAM VK_ESCAPE = 0x1B;

class CWindowWnd {
public:
    CWindowWnd();
    virtual ~CWindowWnd();
    CWindowWnd(const CWindowWnd&) = delete;
    CWindowWnd& operator=(const CWindowWnd&) = delete;

    HWND GetHWND() const { return hwnd_; }
    QWidget* GetWidget() const;
    operator HWND() const { return hwnd_; }

    // `parent` may be a window of this program or, where the windowing system allows, of
    // another; 0 for none. Size 0 keeps the skin's size.
    HWND Create(HWND parent, const char* name, DWORD style = UI_WNDSTYLE_FRAME, DWORD exStyle = 0,
                int x = 0, int y = 0, int cx = 0, int cy = 0);
    // A window inside `container` (a control's widget of another window), filling it.
    HWND CreateChild(QWidget* container, const char* name);
    void ShowWindow(bool show = true, bool takeFocus = true);
    // Shows the window modally and returns the value given to Close.
    UINT ShowModal();
    void Close(UINT result = IDOK);
    void CenterWindow();
    void ResizeClient(int cx = -1, int cy = -1);
    // Thread-safe; the message is handled later on the window's thread.
    bool PostMessage(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0);
    // Handles the message now; only on the window's thread.
    LRESULT SendMessage(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0);

protected:
    virtual const char* GetWindowClassName() const = 0;
    virtual LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    // Called once the window is built, before it is shown.
    virtual void OnCreate() {}
    // Called the first time the window is shown.
    virtual void OnFirstShow() {}
    // Called after the window is gone; a window made with new may delete itself here.
    virtual void OnFinalMessage(HWND hwnd);
    bool IsModal() const { return modal_; }

private:
    friend class WindowHost;
    void deliver(UINT msg, WPARAM wParam, LPARAM lParam);
    void finish();

    std::unique_ptr<WindowHost> host_;
    HWND hwnd_ = 0;
    bool modal_ = false;
    bool closing_ = false;
    bool shown_ = false;
    UINT result_ = IDCANCEL;
    QEventLoop* modalLoop_ = nullptr;
    std::shared_ptr<bool> alive_;
};

// Posts to any window by handle, of this program or of another; false when no such window.
bool PostMessage(HWND window, UINT msg, WPARAM wParam = 0, LPARAM lParam = 0);
bool IsWindow(HWND window);

// A window built from a skin file, with the standard endings of a dialog: "Sure" or Enter
// closes with 1, "Cancel", Escape or the close box with 2 (Enter and Escape when modal).
class CWindowImplUIBase : public CWindowWnd,
                          public INotifyUI,
                          public IMessageFilterUI,
                          public IDialogBuilderCallback {
public:
    void Notify(TNotifyUI& msg) override;
    LRESULT MessageHandler(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) override;
    CControlUI* CreateControl(const char* className) override;

protected:
    virtual std::string GetSkinFile() = 0;
    // Called after the skin is built and before "windowinit" is sent.
    virtual void InitWindow() {}
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
    void OnCreate() override;
    void OnFirstShow() override;

    CPaintManagerUI m_PaintManager;
};

} // namespace DuiLib
