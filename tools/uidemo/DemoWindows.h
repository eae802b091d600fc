#pragma once

#include "CameraFeed.h"
#include "duilib/UIlib.h"
#include "video/DDraw.h"

#include <memory>
#include <string>
#include <vector>

// The message box of the programs, built from "report.xml": a caption, a text, "Sure" and
// "Cancel".
class ReportDialog : public DuiLib::CWindowImplUIBase {
public:
    ReportDialog(std::string captionKey, std::string textKey)
        : captionKey_(std::move(captionKey)), textKey_(std::move(textKey)) {}

protected:
    const char* GetWindowClassName() const override { return "DlgReport"; }
    std::string GetSkinFile() override { return "report.xml"; }
    void InitWindow() override;

private:
    std::string captionKey_;
    std::string textKey_;
};

// A live view of sixteen simulated cameras in the split-screen grid, with the camera list and
// the layout buttons of the client's main window.
class DemoWindow : public DuiLib::CWindowImplUIBase {
public:
    explicit DemoWindow(std::string skinFile) : skinFile_(std::move(skinFile)) {}
    ~DemoWindow() override;

    void Notify(DuiLib::TNotifyUI& msg) override;
    void showReport();

protected:
    const char* GetWindowClassName() const override { return "DemoMain"; }
    std::string GetSkinFile() override { return skinFile_; }
    void InitWindow() override;

private:
    void fillCameraList();
    void selectPane(int pane);
    void onSplitButton(const std::string& name);

    std::string skinFile_;
    CDDrawView view_{64};
    std::vector<std::unique_ptr<CameraFeed>> feeds_;
    std::unique_ptr<ReportDialog> report_;
};
