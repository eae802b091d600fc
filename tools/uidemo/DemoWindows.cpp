#include "DemoWindows.h"

#include <QDateTime>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <functional>

using namespace DuiLib;

namespace {

constexpr int kCameras = 16;
constexpr UINT kClockTimer = 1;

// Clicks in the grid select the pane under the pointer.
class GridClicks : public QObject {
public:
    GridClicks(CDDrawView& view, std::function<void(int)> onSelect)
        : QObject(view.widget()), view_(view), onSelect_(std::move(onSelect)) {}

    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonPress) {
            const QPoint at = static_cast<QMouseEvent*>(event)->position().toPoint();
            const int pane = view_.GetWndID({at.x(), at.y()});
            if (pane >= 0) {
                onSelect_(pane);
            }
        }
        return false;
    }

private:
    CDDrawView& view_;
    std::function<void(int)> onSelect_;
};

std::string cameraName(int camera) {
    char name[32];
    std::snprintf(name, sizeof name, "Camera %02d", camera + 1);
    return name;
}

} // namespace

void ReportDialog::InitWindow() {
    m_PaintManager.FindControl("reporttext_1")->SetText(CPaintManagerUI::FindLgText(captionKey_));
    m_PaintManager.FindControl("reporttext_2")->SetText(CPaintManagerUI::FindLgText(textKey_));
}

DemoWindow::~DemoWindow() {
    feeds_.clear(); // the cameras stop drawing before the view goes
}

void DemoWindow::InitWindow() {
    QWidget* screen = m_PaintManager.FindControl("CamScreen")->GetWidget();
    const QSize largest = QGuiApplication::primaryScreen()->size();
    view_.InitDDraw7(screen, largest.width(), largest.height());
    view_.CreateClipper(screen);
    view_.SetWndStyle(16, 0);
    view_.DrawBorder();
    view_.widget()->installEventFilter(
        new GridClicks(view_, [this](int pane) { selectPane(pane); }));
    fillCameraList();
    for (int camera = 0; camera < kCameras; ++camera) {
        feeds_.push_back(
            std::make_unique<CameraFeed>(view_, camera, cameraName(camera), camera % 5 == 1));
    }
    selectPane(5);
    m_PaintManager.SetTimer(m_PaintManager.FindControl("timerT"), kClockTimer, 20);
}

void DemoWindow::fillCameraList() {
    auto* list = m_PaintManager.FindControlAs<CListUI>("devicelist");
    list->SetItemShowHtml(true);
    for (int camera = 0; camera < kCameras; ++camera) {
        auto* row = new CListTextElementUI;
        const char* state = camera % 5 == 1 ? "<c #eb4034>●</c>" : "<c #3ecf6b>●</c>";
        row->SetText(0, std::string(state) + "  " + cameraName(camera) + "  <c #6f7888>192.168.1." +
                            std::to_string(101 + camera) + "</c>");
        row->SetTag(static_cast<uintptr_t>(camera));
        list->Add(row);
    }
}

void DemoWindow::selectPane(int pane) {
    view_.DrawSelectBorder(pane);
    auto* list = m_PaintManager.FindControlAs<CListUI>("devicelist");
    list->SelectItem(pane < list->GetCount() ? pane : -1, false);
}

void DemoWindow::onSplitButton(const std::string& name) {
    const int n = std::atoi(name.c_str() + 2);
    if (n == 9) {
        view_.SetWndStyle(10, 1);
    } else {
        view_.SetWndStyle(n * n, 0);
    }
    view_.DrawBorder();
}

void DemoWindow::showReport() {
    report_ = std::make_unique<ReportDialog>("skin_demo_caption", "skin_demo_text");
    report_->Create(GetHWND(), "rpt", UI_WNDSTYLE_DIALOG);
    report_->CenterWindow();
    report_->ShowWindow();
}

void DemoWindow::Notify(TNotifyUI& msg) {
    const std::string sender = msg.pSender != nullptr ? msg.pSender->GetName() : "";
    if (msg.sType == kNotifyTimer) {
        msg.pSender->SetText(
            QDateTime::currentDateTime().toString("yyyy-MM-dd  HH:mm:ss").toStdString());
        view_.Flip();
    } else if (msg.sType == kNotifyClick && sender.rfind("fp", 0) == 0) {
        onSplitButton(sender);
    } else if (msg.sType == kNotifyClick && sender == "about") {
        ReportDialog dialog("skin_demo_caption", "skin_demo_text");
        dialog.Create(GetHWND(), "rpt", UI_WNDSTYLE_DIALOG);
        dialog.CenterWindow();
        dialog.ShowModal();
    } else if (msg.sType == kNotifyItemSelect && sender == "devicelist") {
        view_.DrawSelectBorder(static_cast<int>(msg.wParam));
    } else if (msg.sType == kNotifyWindowMessage) {
        return;
    }
    CWindowImplUIBase::Notify(msg);
}
