#pragma once

#include "duilib/UIlib.h"

#include <QLabel>

#include <functional>
#include <string>
#include <vector>

// A notification as a test looks at it afterwards.
struct Seen {
    std::string type;
    std::string sender;
    WPARAM wParam;
    LPARAM lParam;
    UINT uMsg;
};

// The programs' own control of the test skin.
class BadgeControl : public DuiLib::CLabelUI {
public:
    BadgeControl() : CLabelUI(new QLabel("badge")) {}
    std::string GetClass() const override { return "BadgeUI"; }
};

// The test skin in a window that records every notification it gets.
class TestWindow : public DuiLib::CWindowImplUIBase {
public:
    explicit TestWindow(std::string skin = "dialog.xml") : skin_(std::move(skin)) {}

    void Notify(DuiLib::TNotifyUI& msg) override {
        seen.push_back({msg.sType, msg.pSender != nullptr ? msg.pSender->GetName() : "", msg.wParam,
                        msg.lParam, msg.uMsg});
        if (onNotify) {
            onNotify(msg);
        }
        CWindowImplUIBase::Notify(msg);
    }
    DuiLib::CControlUI* CreateControl(const char* className) override {
        return std::string(className) == "CTestBadge" ? new BadgeControl : nullptr;
    }

    DuiLib::CPaintManagerUI& manager() { return m_PaintManager; }
    template <typename T> T* find(const std::string& name) {
        return m_PaintManager.FindControlAs<T>(name);
    }
    // Notifications of `type` (from `sender` when given).
    std::vector<Seen> of(const std::string& type, const std::string& sender = "") const {
        std::vector<Seen> out;
        for (const Seen& s : seen) {
            if (s.type == type && (sender.empty() || s.sender == sender)) {
                out.push_back(s);
            }
        }
        return out;
    }

    std::vector<Seen> seen;
    std::function<void(DuiLib::TNotifyUI&)> onNotify;

protected:
    const char* GetWindowClassName() const override { return "TestWindow"; }
    std::string GetSkinFile() override { return skin_; }

private:
    std::string skin_;
};

// Runs the event loop until `done` or `timeoutMs` passes.
bool waitUntil(const std::function<bool()>& done, int timeoutMs = 3000);
// The folder of the test skins and language files.
std::string testDataFolder();
