#include "SdkFixture.h"

#include "Heap.h"

namespace sdktest {

void SdkFixture::startCamera(camsim::SdkCameraConfig config) {
    heapBefore = moltrex::heap::outstanding();
    inbox().clear();
    config.listenAddress = "127.0.0.1";
    config.port = 0;
    config.searchPort = 0;
    const auto started = camera.start(config);
    ASSERT_TRUE(started) << camera.lastError();
    ports = *started;
    settings.searchAddress = kLoopback;
    settings.searchPort = ports.searchPort;
    settings.searchLocalPort = 0;
    moltrex::setTuning(settings);
}

void SdkFixture::TearDown() {
    // Whatever a test left running ends here, so the next test starts clean.
    for (unsigned end :
         {static_cast<unsigned>(MO_MSG_MGR_END), static_cast<unsigned>(MO_MSG_MONITOR_END)}) {
        const size_t ended = inbox().of(end).size();
        const int16_t status =
            end == MO_MSG_MGR_END ? MgrDisconnect(kCameraId) : MonitorDisconnect(kCameraId);
        if (status == MO_OK) {
            EXPECT_TRUE(waitForCount(end, ended + 1)) << "session did not end";
        }
    }
    camera.stop();
    EXPECT_EQ(moltrex::heap::outstanding(), heapBefore) << "library records not freed";
    moltrex::resetTuning();
    inbox().clear();
}

bool SdkFixture::waitForCount(unsigned message, size_t count, unsigned timeoutMs) {
    return inbox().waitUntil(
        [&](const std::vector<Note>& notes) {
            size_t seen = 0;
            for (const Note& note : notes)
                seen += note.message == message ? 1 : 0;
            return seen >= count;
        },
        timeoutMs);
}

bool SdkFixture::connectManagement(const char* id) {
    const int16_t status =
        MgrConnect(id, "admin", "admin", kLoopback, ports.port, 0, 0, Inbox::callback);
    EXPECT_EQ(status, MO_OK);
    const auto login = inbox().waitFor(MO_MSG_MGR_LOGIN, 10000, id);
    EXPECT_TRUE(login) << "no login message";
    if (!login)
        return false;
    EXPECT_EQ(login->lParam, MO_OK);
    return status == MO_OK && login->lParam == MO_OK;
}

bool SdkFixture::connectMonitor(const char* id) {
    const int16_t status =
        MonitorConnect(id, "admin", "admin", kLoopback, ports.port, 0, 0, Inbox::callback);
    EXPECT_EQ(status, MO_OK);
    const auto login = inbox().waitFor(MO_MSG_MONITOR_LOGIN, 10000, id);
    EXPECT_TRUE(login) << "no login message";
    if (!login)
        return false;
    EXPECT_EQ(login->lParam, MO_OK);
    return status == MO_OK && login->lParam == MO_OK;
}

void SdkFixture::disconnectManagement(const char* id) {
    const size_t ended = inbox().of(MO_MSG_MGR_END).size();
    ASSERT_EQ(MgrDisconnect(id), MO_OK);
    ASSERT_TRUE(waitForCount(MO_MSG_MGR_END, ended + 1));
    EXPECT_EQ(inbox().of(MO_MSG_MGR_END).back().lParam, MO_OK);
}

void SdkFixture::disconnectMonitor(const char* id) {
    const size_t ended = inbox().of(MO_MSG_MONITOR_END).size();
    ASSERT_EQ(MonitorDisconnect(id), MO_OK);
    ASSERT_TRUE(waitForCount(MO_MSG_MONITOR_END, ended + 1));
    EXPECT_EQ(inbox().of(MO_MSG_MONITOR_END).back().lParam, MO_OK);
}

} // namespace sdktest
