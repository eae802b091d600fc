#pragma once

// Controls that host a whole child window with its own skin and paint manager: the pages of a
// window (device management, playback, logs) and the settings programs' pages. The hosted page
// has a handle of its own, so other threads and programs can post messages to it.

#include "duilib/UIControls.h"
#include "duilib/UIWindow.h"

#include <memory>

namespace DuiLib {

class CWndUI : public CContainerUI {
public:
    CWndUI();
    explicit CWndUI(QWidget* placeholder);
    ~CWndUI() override;
    std::string GetClass() const override { return "WndUI"; }

    // Where the page's notifications, unknown skin classes and window messages go. Set them
    // before the page is loaded.
    void SetNotify(INotifyUI* notify);
    void SetIDialogBuilderCallback(IDialogBuilderCallback* builder);
    void SetMessageFilter(IMessageFilterUI* filter);
    // Builds the page from `skinFile`; the page replaces any earlier one.
    bool LoadPage(const std::string& skinFile);
    // The page's window handle, 0 before a page is loaded.
    HWND GetHWnd() const;
    // The page's own controls.
    CPaintManagerUI* GetPageManager() const;

private:
    class Page;
    std::unique_ptr<Page> page_;
    INotifyUI* notify_ = nullptr;
    IDialogBuilderCallback* builder_ = nullptr;
    IMessageFilterUI* filter_ = nullptr;
};

class CXmlWndUI : public CWndUI {
public:
    using CWndUI::CWndUI;
    std::string GetClass() const override { return "XmlWndUI"; }
    bool SetSkinString(const std::string& skinFile) { return LoadPage(skinFile); }
};
using CXmlUI = CXmlWndUI;

} // namespace DuiLib
