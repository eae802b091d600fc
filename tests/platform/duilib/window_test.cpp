// Windows: how modal dialogs end, messages posted from other threads and other programs, pages
// hosted inside a window.
#include "TestWindow.h"

#include <QApplication>
#include <QCoreApplication>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <thread>

using namespace DuiLib;

namespace {

// Shows a fresh dialog modally and ends it with `action` once it is up.
UINT runModal(const std::function<void(TestWindow&)>& action) {
    TestWindow dialog;
    dialog.Create(0, "modal", UI_WNDSTYLE_DIALOG);
    dialog.onNotify = [&dialog, action](TNotifyUI& msg) {
        if (msg.sType == kNotifyWindowInit) {
            QTimer::singleShot(0, [&dialog, action] { action(dialog); });
        }
    };
    return dialog.ShowModal();
}

QPushButton* button(TestWindow& window, const char* name) {
    return qobject_cast<QPushButton*>(window.manager().FindControl(name)->GetWidget());
}

} // namespace

TEST(ModalDialog, EndsWithOneForSureAndEnterAndTwoForCancelEscapeAndClose) {
    EXPECT_EQ(runModal([](TestWindow& w) { QTest::mouseClick(button(w, "Sure"), Qt::LeftButton); }),
              IDOK);
    EXPECT_EQ(
        runModal([](TestWindow& w) { QTest::mouseClick(button(w, "Cancel"), Qt::LeftButton); }),
        IDCANCEL);
    EXPECT_EQ(runModal([](TestWindow& w) { QTest::keyClick(w.GetWidget(), Qt::Key_Return); }),
              IDOK);
    EXPECT_EQ(runModal([](TestWindow& w) { QTest::keyClick(w.GetWidget(), Qt::Key_Escape); }),
              IDCANCEL);
    EXPECT_EQ(runModal([](TestWindow& w) { w.GetWidget()->close(); }), IDCANCEL);
    EXPECT_EQ(runModal([](TestWindow& w) { w.Close(5); }), 5u) << "a program's own result";
}

TEST(PostedMessages, ArriveFromAWorkerThreadWithBothParameters) {
    TestWindow window;
    const HWND hwnd = window.Create(0, "target", UI_WNDSTYLE_FRAME);
    ASSERT_NE(hwnd, 0u);
    std::thread worker([hwnd] {
        EXPECT_TRUE(DuiLib::PostMessage(hwnd, kMsgWindowCommand, 102, -8));
        EXPECT_TRUE(DuiLib::PostMessage(hwnd, kMsgShowWindow, 1024, static_cast<LPARAM>(hwnd)));
    });
    worker.join();
    ASSERT_TRUE(waitUntil([&] { return window.of(kNotifyWindowMessage).size() == 2; }));
    const auto messages = window.of(kNotifyWindowMessage);
    EXPECT_EQ(messages[0].uMsg, kMsgWindowCommand);
    EXPECT_EQ(messages[0].wParam, 102u);
    EXPECT_EQ(messages[0].lParam, -8);
    EXPECT_EQ(messages[1].uMsg, kMsgShowWindow);
    EXPECT_EQ(messages[1].lParam, static_cast<LPARAM>(hwnd));
    EXPECT_FALSE(DuiLib::PostMessage(0, kMsgShowWindow));
}

TEST(PostedMessages, ArriveFromAnotherProgram) {
    TestWindow window;
    const HWND hwnd = window.Create(0, "target", UI_WNDSTYLE_FRAME);
    EXPECT_TRUE(DuiLib::IsWindow(hwnd));
    QProcess other;
    other.start(QCoreApplication::applicationFilePath(),
                {"--post", QString::number(hwnd), "1125", "1", "8080"});
    ASSERT_TRUE(waitUntil([&] { return other.state() == QProcess::NotRunning; }, 10000));
    EXPECT_EQ(other.exitCode(), 0) << other.readAllStandardError().toStdString();
    ASSERT_TRUE(waitUntil([&] { return !window.of(kNotifyWindowMessage).empty(); }));
    const Seen message = window.of(kNotifyWindowMessage)[0];
    EXPECT_EQ(message.uMsg, kMsgWindowCommand);
    EXPECT_EQ(message.wParam, 1u);
    EXPECT_EQ(message.lParam, 8080);

    // A window that is gone is not found from the other program either.
    window.Close();
    waitUntil([&] { return window.GetHWND() == 0; });
    QProcess late;
    late.start(QCoreApplication::applicationFilePath(),
               {"--post", QString::number(hwnd), "1125", "0", "0"});
    ASSERT_TRUE(waitUntil([&] { return late.state() == QProcess::NotRunning; }, 10000));
    EXPECT_EQ(late.exitCode(), 3);
}

TEST(PostedMessages, NotificationsPostedFromAThreadRunOnTheWindowsThread) {
    TestWindow window;
    window.Create(0, "target", UI_WNDSTYLE_FRAME);
    CControlUI* apply = window.manager().FindControl("apply");
    std::thread::id handledOn;
    window.onNotify = [&](TNotifyUI& msg) {
        if (msg.sType == "refresh") {
            handledOn = std::this_thread::get_id();
        }
    };
    std::thread worker([&] { window.manager().PostNotify(apply, "refresh", 3, 4); });
    worker.join();
    ASSERT_TRUE(waitUntil([&] { return !window.of("refresh").empty(); }));
    EXPECT_EQ(handledOn, std::this_thread::get_id());
    EXPECT_EQ(window.of("refresh")[0].sender, "apply");
}

TEST(HostedPage, HasItsOwnControlsNotificationsAndHandle) {
    TestWindow window;
    window.Create(0, "host", UI_WNDSTYLE_FRAME);
    auto* host = window.find<CXmlWndUI>("pageHost");
    ASSERT_NE(host, nullptr);
    TestWindow sink("unused");
    host->SetNotify(&sink);
    ASSERT_TRUE(host->SetSkinString("page.xml"));
    ASSERT_NE(host->GetHWnd(), 0u);
    EXPECT_NE(host->GetHWnd(), window.GetHWND());
    EXPECT_EQ(window.manager().FindControl("pageButton"), nullptr) << "the page's own controls";
    CControlUI* pageButton = host->GetPageManager()->FindControl("pageButton");
    ASSERT_NE(pageButton, nullptr);

    window.ShowWindow();
    QTest::mouseClick(qobject_cast<QPushButton*>(pageButton->GetWidget()), Qt::LeftButton);
    EXPECT_EQ(sink.of(kNotifyClick, "pageButton").size(), 1u);
    EXPECT_TRUE(window.of(kNotifyClick, "pageButton").empty());

    std::thread worker(
        [hwnd = host->GetHWnd()] { DuiLib::PostMessage(hwnd, kMsgWindowCommand, 1125, 0); });
    worker.join();
    ASSERT_TRUE(waitUntil([&] { return !sink.of(kNotifyWindowMessage).empty(); }));
    EXPECT_EQ(sink.of(kNotifyWindowMessage)[0].wParam, 1125u);
}
