// The management session against the simulated camera, its login failures, and cameras that
// break the protocol.

#include "Heap.h"
#include "RawCamera.h"
#include "Records.h"
#include "SdkFixture.h"

#include "sys/Tick.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>

using namespace sdktest;

namespace {

class ManagementTest : public SdkFixture {
protected:
    // The camera's stored record, unpacked the way the library reads it.
    MO_CAMERA_PARAMS stored() {
        const auto params = moltrex::unpackCameraParams(camera.parameters());
        EXPECT_TRUE(params);
        return params ? *params : MO_CAMERA_PARAMS{};
    }

    template <typename Ready> bool eventually(Ready ready, unsigned timeoutMs = 10000) {
        const uint32_t start = sys::tickMs();
        while (!ready()) {
            if (sys::elapsedMs(start) > timeoutMs)
                return false;
            sys::sleepMs(10);
        }
        return true;
    }
};

TEST_F(ManagementTest, ParametersAreReadAndWrittenNormalised) {
    startCamera();
    ASSERT_TRUE(connectManagement());
    ASSERT_EQ(GetCameraParams(kCameraId), MO_OK);
    const auto read = inbox().waitFor(MO_MSG_PARAMS);
    ASSERT_TRUE(read && read->params);
    EXPECT_EQ(read->id, kCameraId);
    MO_CAMERA_PARAMS params = *read->params;
    EXPECT_EQ(ntohl(params.ip), kLoopback);
    EXPECT_EQ(ntohs(params.httpPort), ports.port);
    EXPECT_STREQ(params.alias, "camsim-sdk");
    EXPECT_STREQ(params.users[0].name, "admin");
    EXPECT_EQ(params.users[0].privilege, 2);
    EXPECT_EQ(params.value52, 99u) << "the camera's own value before any write";

    std::strcpy(params.alias, "renamed");
    std::strcpy(params.users[3].name, "viewer");
    params.users[3].privilege = 1;
    ASSERT_EQ(SetCameraParams(kCameraId, &params), MO_OK);
    EXPECT_STREQ(params.text32, "pool.ntp.example") << "the caller's record is not touched";
    ASSERT_TRUE(eventually([&] { return std::string(stored().alias) == "renamed"; }));
    const MO_CAMERA_PARAMS written = stored();
    EXPECT_STREQ(written.users[3].name, "viewer");
    EXPECT_EQ(written.flag31, 0);
    EXPECT_STREQ(written.text32, "");
    EXPECT_EQ(written.value33, 3) << "field 33 passes unchanged";
    EXPECT_EQ(written.value37, 100);
    EXPECT_EQ(written.value38, 100);
    EXPECT_EQ(written.value39, 4);
    EXPECT_EQ(written.value52, 13u);
    EXPECT_STREQ(written.text45, "text45");
    EXPECT_EQ(written.block55[100], 0);
    EXPECT_EQ(camera.stats().badRequests, 0u) << "request 6 carried exactly 2410 bytes";

    params.httpPort = htons(10000);
    EXPECT_EQ(SetCameraParams(kCameraId, &params), MO_ERR_PARAM);
    EXPECT_EQ(SetCameraParams(kCameraId, nullptr), MO_ERR_PARAM);
    EXPECT_EQ(SetCameraParams("0000000000FF", read->params ? &*read->params : nullptr), MO_ERR_BUSY)
        << "no session for that id";

    ASSERT_EQ(SetDefaultConfig(kCameraId), MO_OK);
    ASSERT_TRUE(eventually([&] { return std::string(stored().alias) == "camsim-sdk"; }));
    EXPECT_EQ(camera.stats().factoryResets, 1u);
    disconnectManagement();
}

TEST_F(ManagementTest, TimeNetworkAndDdnsRequestsAndAnswers) {
    startCamera();
    ASSERT_TRUE(connectManagement());
    ASSERT_EQ(SetTime(kCameraId, 1700000000u, -3600), MO_OK);
    ASSERT_EQ(GetTime(kCameraId), MO_OK);
    const auto time = inbox().waitFor(MO_MSG_TIME);
    ASSERT_TRUE(time);
    EXPECT_NEAR(static_cast<double>(time->lParam), static_cast<double>(std::time(nullptr)), 60);
    const auto controls = camera.controls();
    ASSERT_EQ(controls.timesSet.size(), 1u);
    EXPECT_EQ(controls.timesSet[0].first, 1700000000u);
    EXPECT_EQ(controls.timesSet[0].second, -3600);

    MO_NET2_PARAMS net2{};
    inet_pton(AF_INET, "9.9.9.9", &net2.dns2);
    net2.upnp = 1;
    std::strcpy(net2.pppoeUser, "dsl");
    ASSERT_EQ(SetNet2Params(kCameraId, &net2), MO_OK);
    ASSERT_EQ(GetNet2Params(kCameraId), MO_OK);
    const auto net = inbox().waitFor(MO_MSG_NET2);
    ASSERT_TRUE(net && net->net2);
    EXPECT_EQ(net->net2->dns2, net2.dns2);
    EXPECT_EQ(net->net2->upnp, 1);
    EXPECT_STREQ(net->net2->pppoeUser, "dsl");
    net2.dhcp = 7;
    EXPECT_EQ(SetNet2Params(kCameraId, &net2), MO_ERR_PARAM);

    camera.setDdnsStatus(17);
    ASSERT_EQ(GetDDNSStatus(kCameraId), MO_OK);
    const auto ddns = inbox().waitFor(MO_MSG_DDNS);
    ASSERT_TRUE(ddns);
    EXPECT_EQ(ddns->lParam, 17);
    ASSERT_EQ(RestartDynDns(kCameraId), MO_OK);
    EXPECT_TRUE(eventually([&] { return camera.stats().ddnsRestarts == 1; }));
    disconnectManagement();
}

TEST_F(ManagementTest, FirmwareUploadArrivesIntactAndUnreadableFilesAreReported) {
    startCamera();
    ASSERT_TRUE(connectManagement());
    const std::string path =
        ::testing::TempDir() + "moltrex-firmware-" + std::to_string(::getpid()) + ".bin";
    std::vector<uint8_t> firmware(700 * 1024);
    std::mt19937 random(42);
    for (auto& byte : firmware)
        byte = static_cast<uint8_t>(random());
    {
        std::ofstream file(path, std::ios::binary);
        file.write(reinterpret_cast<const char*>(firmware.data()),
                   static_cast<std::streamsize>(firmware.size()));
    }
    ASSERT_EQ(UpgradeSysWare(kCameraId, path.c_str()), MO_OK);
    const auto result = inbox().waitFor(MO_MSG_UPGRADE, 20000);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->lParam, MO_OK);
    EXPECT_TRUE(eventually([&] { return camera.systemFirmware().size() == firmware.size(); }));
    EXPECT_EQ(camera.systemFirmware(), firmware);
    EXPECT_TRUE(camera.applicationFirmware().empty());

    inbox().clear();
    ASSERT_EQ(UpgradeAppWare(kCameraId, (path + ".missing").c_str()), MO_OK);
    ASSERT_EQ(UpgradeAppWare(kCameraId, ::testing::TempDir().c_str()), MO_OK) << "a folder";
    ASSERT_TRUE(waitForCount(MO_MSG_UPGRADE, 2));
    for (const Note& note : inbox().of(MO_MSG_UPGRADE))
        EXPECT_EQ(note.lParam, MO_ERR_FILE);
    EXPECT_EQ(UpgradeAppWare(kCameraId, nullptr), MO_ERR_PARAM);
    EXPECT_EQ(UpgradeAppWare(kCameraId, ""), MO_ERR_PARAM);
    std::remove(path.c_str());

    // The session goes on after a refused file.
    ASSERT_EQ(GetDDNSStatus(kCameraId), MO_OK);
    EXPECT_TRUE(inbox().waitFor(MO_MSG_DDNS));
    EXPECT_TRUE(camera.applicationFirmware().empty());
    disconnectManagement();
}

TEST_F(ManagementTest, RebootEndsTheSessionWhenTheCameraDropsIt) {
    startCamera();
    ASSERT_TRUE(connectManagement());
    ASSERT_EQ(Reboot(kCameraId), MO_OK);
    const auto end = inbox().waitFor(MO_MSG_MGR_END);
    ASSERT_TRUE(end);
    EXPECT_EQ(end->lParam, MO_ERR_SOCKET);
    EXPECT_EQ(end->id, kCameraId);
    EXPECT_EQ(camera.stats().reboots, 1u);
    EXPECT_EQ(GetCameraParams(kCameraId), MO_ERR_BUSY) << "the session is gone";
    // The id is free for a new session.
    inbox().clear();
    ASSERT_TRUE(connectManagement());
    disconnectManagement();
}

TEST_F(ManagementTest, KeepAliveIsSentWhenItsIntervalPassed) {
    startCamera();
    settings.keepAliveMs = 150;
    moltrex::setTuning(settings);
    ASSERT_TRUE(connectManagement());
    EXPECT_TRUE(eventually([&] { return camera.stats().keepAlives >= 3; }));
    disconnectManagement();
    sys::sleepMs(200); // the camera reads what was sent before the end
    const uint32_t after = camera.stats().keepAlives;
    sys::sleepMs(400);
    EXPECT_EQ(camera.stats().keepAlives, after) << "none after the session ended";
}

TEST_F(ManagementTest, RequestsMadeBeforeTheLoginWaitForIt) {
    startCamera();
    ASSERT_EQ(MgrConnect(kCameraId, "admin", "admin", kLoopback, ports.port, 0, 0, Inbox::callback),
              MO_OK);
    ASSERT_EQ(GetDDNSStatus(kCameraId), MO_OK);
    ASSERT_TRUE(waitForCount(MO_MSG_DDNS, 1));
    const auto notes = inbox().all();
    ASSERT_GE(notes.size(), 2u);
    EXPECT_EQ(notes[0].message, static_cast<unsigned>(MO_MSG_MGR_LOGIN));
    EXPECT_EQ(notes[1].message, static_cast<unsigned>(MO_MSG_DDNS));
    disconnectManagement();
}

TEST_F(ManagementTest, LoginFailuresAreReportedThenTheSessionEnds) {
    struct Case {
        const char* what;
        camsim::SdkCameraConfig config;
        const char* password;
        intptr_t status;
    };
    camsim::SdkCameraConfig otherId;
    otherId.loginId = "FFEEDDCCBBAA";
    camsim::SdkCameraConfig newer;
    newer.protocolVersion = 0x01000001;
    camsim::SdkCameraConfig plain;
    const Case cases[] = {
        {"another camera answers", otherId, "admin", MO_ERR_CAMERA_ID},
        {"newer protocol", newer, "admin", MO_ERR_VERSION},
        {"wrong password", plain, "nope", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        startCamera(c.config);
        ASSERT_EQ(MgrConnect(kCameraId, "admin", c.password, kLoopback, ports.port, 0, 0,
                             Inbox::callback),
                  MO_OK);
        ASSERT_TRUE(waitForCount(MO_MSG_MGR_END, 1));
        const auto notes = inbox().all();
        ASSERT_EQ(notes.size(), 2u);
        EXPECT_EQ(notes[0].message, static_cast<unsigned>(MO_MSG_MGR_LOGIN));
        EXPECT_EQ(notes[0].lParam, c.status);
        EXPECT_EQ(notes[1].lParam, c.status);
        camera.stop();
        inbox().clear();
    }
    // Nobody listening.
    ASSERT_EQ(MgrConnect(kCameraId, "admin", "admin", kLoopback, ports.port, 0, 0, Inbox::callback),
              MO_OK);
    const auto end = inbox().waitFor(MO_MSG_MGR_END);
    ASSERT_TRUE(end);
    EXPECT_EQ(end->lParam, MO_ERR_CONNECT);
}

TEST_F(ManagementTest, ArgumentChecksOfTheSessionCalls) {
    startCamera();
    const auto connect = [&](const char* id, const char* user, uint32_t ip, uint16_t port,
                             MO_CALLBACK callback) {
        return MgrConnect(id, user, "admin", ip, port, 0, 0, callback);
    };
    EXPECT_EQ(connect("00A1B2C3D4E", "admin", kLoopback, ports.port, Inbox::callback), MO_ERR_PARAM)
        << "11-character id";
    EXPECT_EQ(connect("00A1B2C3D4E5F", "admin", kLoopback, ports.port, Inbox::callback),
              MO_ERR_PARAM)
        << "13-character id";
    EXPECT_EQ(connect(nullptr, "admin", kLoopback, ports.port, Inbox::callback), MO_ERR_PARAM);
    EXPECT_EQ(connect(kCameraId, "a-much-too-long-user", kLoopback, ports.port, Inbox::callback),
              MO_ERR_PARAM);
    EXPECT_EQ(connect(kCameraId, "admin", 0, ports.port, Inbox::callback), MO_ERR_PARAM);
    EXPECT_EQ(connect(kCameraId, "admin", kLoopback, 0, Inbox::callback), MO_ERR_PARAM);
    EXPECT_EQ(connect(kCameraId, "admin", kLoopback, ports.port, nullptr), MO_ERR_PARAM);
    EXPECT_EQ(GetCameraParams("00A1B2C3D4E"), MO_ERR_PARAM);
    EXPECT_EQ(GetCameraParams(kCameraId), MO_ERR_BUSY) << "no session";
    EXPECT_EQ(MgrDisconnect(kCameraId), MO_ERR_BUSY);
    EXPECT_EQ(camera.stats().managementLogins, 0u);

    ASSERT_TRUE(connectManagement());
    EXPECT_EQ(connect(kCameraId, "admin", kLoopback, ports.port, Inbox::callback), MO_ERR_BUSY)
        << "one management session per camera";
    EXPECT_EQ(PlayVideo(kCameraId), MO_ERR_BUSY) << "the monitor session is another one";
    disconnectManagement();
}

// Cameras that break the protocol: each ends the session with a status, never a crash.
class HostileCameraTest : public SdkFixture {
protected:
    void SetUp() override {
        heapBefore = moltrex::heap::outstanding();
        inbox().clear();
        settings.loginTimeoutMs = 500;
        moltrex::setTuning(settings);
    }
    void TearDown() override {
        EXPECT_EQ(MgrDisconnect(kCameraId), MO_ERR_BUSY) << "every case ends its session";
        EXPECT_EQ(moltrex::heap::outstanding(), heapBefore);
        moltrex::resetTuning();
        inbox().clear();
    }
    // Connects to `raw` and returns the login and end statuses.
    std::pair<intptr_t, intptr_t> session(RawCamera& raw) {
        EXPECT_EQ(
            MgrConnect(kCameraId, "admin", "admin", kLoopback, raw.port(), 0, 0, Inbox::callback),
            MO_OK);
        EXPECT_TRUE(waitForCount(MO_MSG_MGR_END, 1));
        const auto login = inbox().of(MO_MSG_MGR_LOGIN);
        const auto end = inbox().of(MO_MSG_MGR_END);
        return {login.empty() ? INTPTR_MIN : login[0].lParam,
                end.empty() ? INTPTR_MIN : end[0].lParam};
    }
};

TEST_F(HostileCameraTest, WrongTagHugeLengthAndSilenceEndTheLogin) {
    struct Case {
        const char* what;
        RawCamera::Script script;
        intptr_t status;
    } cases[] = {
        {"wrong tag",
         [](RawCamera& c, int fd, int) {
             c.send(fd, moMessage("MO_O", 1, loginAnswer(kCameraId)));
             c.holdOpen(fd);
         },
         MO_ERR_PROTOCOL},
        {"a gigabyte announced",
         [](RawCamera& c, int fd, int) {
             c.send(fd, moMessage("MO_M", 1, {}, 1 << 30));
             c.holdOpen(fd);
         },
         MO_ERR_PROTOCOL},
        {"answer too short to read", // dropped, then nothing else comes
         [](RawCamera& c, int fd, int) {
             c.send(fd, moMessage("MO_M", 1, {0, 0, 'x'}));
             c.holdOpen(fd);
         },
         MO_ERR_TIMEOUT},
        {"silence", [](RawCamera& c, int fd, int) { c.holdOpen(fd); }, MO_ERR_TIMEOUT},
        {"hangs up", [](RawCamera&, int, int) {}, MO_ERR_SOCKET},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RawCamera raw;
        raw.serve(1, c.script);
        const auto [login, end] = session(raw);
        EXPECT_EQ(login, c.status);
        EXPECT_EQ(end, c.status);
        inbox().clear();
    }
}

TEST_F(HostileCameraTest, BrokenFramingAfterLoginEndsTheSessionAndShortAnswersAreDropped) {
    RawCamera raw;
    raw.serve(1, [](RawCamera& c, int fd, int) {
        if (!c.login(fd, "MO_M", kCameraId))
            return;
        Bytes time;
        put32(time, 1234567);
        c.send(fd, moMessage("MO_M", 5, Bytes(100, 1))); // parameters cut short: dropped
        c.send(fd, moMessage("MO_M", 18, Bytes(10, 1))); // network record cut short: dropped
        c.send(fd, moMessage("MO_M", 8, time));
        sys::sleepMs(100);
        c.send(fd, Bytes(40, 0xEE)); // no tag at all
        c.holdOpen(fd);
    });
    const auto [login, end] = session(raw);
    EXPECT_EQ(login, MO_OK);
    EXPECT_EQ(end, MO_ERR_PROTOCOL);
    EXPECT_TRUE(inbox().of(MO_MSG_PARAMS).empty());
    EXPECT_TRUE(inbox().of(MO_MSG_NET2).empty());
    const auto time = inbox().of(MO_MSG_TIME);
    ASSERT_EQ(time.size(), 1u);
    EXPECT_EQ(time[0].lParam, 1234567);
}

} // namespace
