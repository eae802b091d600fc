#include "duilib/UIWndHost.h"

#include <QWidget>

namespace DuiLib {

// The hosted page: a skinned child window whose notifications, builder requests and window
// messages go to whoever the host control names.
class CWndUI::Page : public CWindowImplUIBase {
public:
    Page(std::string skinFile, CWndUI& owner) : skinFile_(std::move(skinFile)), owner_(owner) {}

    void Notify(TNotifyUI& msg) override {
        if (owner_.notify_ != nullptr) {
            owner_.notify_->Notify(msg);
        }
    }
    CControlUI* CreateControl(const char* className) override {
        return owner_.builder_ != nullptr ? owner_.builder_->CreateControl(className) : nullptr;
    }
    LRESULT MessageHandler(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) override {
        return owner_.filter_ != nullptr
                   ? owner_.filter_->MessageHandler(msg, wParam, lParam, handled)
                   : 0;
    }
    CPaintManagerUI& manager() { return m_PaintManager; }

protected:
    const char* GetWindowClassName() const override { return "WndPage"; }
    std::string GetSkinFile() override { return skinFile_; }

private:
    std::string skinFile_;
    CWndUI& owner_;
};

CWndUI::CWndUI() = default;

CWndUI::CWndUI(QWidget* placeholder) : CContainerUI(placeholder) {}

CWndUI::~CWndUI() = default;

void CWndUI::SetNotify(INotifyUI* notify) {
    notify_ = notify;
}

void CWndUI::SetIDialogBuilderCallback(IDialogBuilderCallback* builder) {
    builder_ = builder;
}

void CWndUI::SetMessageFilter(IMessageFilterUI* filter) {
    filter_ = filter;
}

bool CWndUI::LoadPage(const std::string& skinFile) {
    if (GetWidget() == nullptr) {
        return false;
    }
    page_ = std::make_unique<Page>(skinFile, *this);
    if (GetManager() != nullptr) {
        page_->manager().UseParentResource(GetManager());
    }
    return page_->CreateChild(GetWidget(), skinFile.c_str()) != 0 &&
           page_->manager().GetRoot() != nullptr;
}

HWND CWndUI::GetHWnd() const {
    return page_ != nullptr ? page_->GetHWND() : 0;
}

CPaintManagerUI* CWndUI::GetPageManager() const {
    return page_ != nullptr ? &page_->manager() : nullptr;
}

} // namespace DuiLib
