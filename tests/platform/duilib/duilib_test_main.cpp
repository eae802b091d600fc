// Runs the toolkit's tests on real widgets without a screen. Started with
// "--post <window> <message> <wParam> <lParam>" it is instead the second program that posts a
// message to a window of the first.
#include "TestWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

std::string testDataFolder() {
    return DUILIB_TEST_DATA;
}

int main(int argc, char** argv) {
    if (argc == 6 && std::strcmp(argv[1], "--post") == 0) {
        QCoreApplication app(argc, argv);
        const bool posted = DuiLib::PostMessage(
            std::strtoull(argv[2], nullptr, 10), static_cast<UINT>(std::atoi(argv[3])),
            std::strtoull(argv[4], nullptr, 10), std::strtoll(argv[5], nullptr, 10));
        return posted ? 0 : 3;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    DuiLib::CPaintManagerUI::SetInstance(argv[0]);
    DuiLib::CPaintManagerUI::SetResourcePath(testDataFolder() + "/skins");
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
