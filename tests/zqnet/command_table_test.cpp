#include "device/h264/CommandTable.h"

#include <gtest/gtest.h>

using namespace zq::h264;

namespace {

TEST(CommandTable, SettingsCarryTheirValue) {
    EXPECT_EQ(cgiCommandText(31, 40, 0), "setSaturation&saturation=40");
    EXPECT_EQ(cgiCommandText(33, 7, 0), "setContrast&constrast=7");
    EXPECT_EQ(cgiCommandText(39, 1, 0), "setMainVideoStreamType&streamType=1");
    EXPECT_EQ(cgiCommandText(43, 60, 0), "setPwrFreq&freq=60");
}

TEST(CommandTable, MirrorAndFlipTakeTheSecondParameter) {
    EXPECT_EQ(cgiCommandText(37, 0, 1), "mirrorVideo&isMirror=1");
    EXPECT_EQ(cgiCommandText(37, 1, 0), "mirrorVideo&isMirror=0");
    EXPECT_EQ(cgiCommandText(38, 5, 1), "flipVideo&isFlip=1");
}

TEST(CommandTable, NamesAreReadBoundedAndCannotInjectParameters) {
    const char* name = "door&cmd=reboot";
    EXPECT_EQ(cgiCommandText(48, reinterpret_cast<intptr_t>(name), 0),
              "ptzGotoPresetPoint&name=door%26cmd%3Dreboot");
    EXPECT_EQ(cgiCommandText(50, 0, 0), ""); // null name: nothing sent

    std::string longName(1000, 'a');
    const auto text = cgiCommandText(45, reinterpret_cast<intptr_t>(longName.c_str()), 0);
    EXPECT_EQ(text, "ptzStartCruise&mapName=" + std::string(255, 'a'));
}

TEST(CommandTable, InfraRedAndZoom) {
    EXPECT_EQ(cgiCommandText(61, 0, 0), "openInfraLed");
    EXPECT_EQ(cgiCommandText(61, 1, 0), "closeInfraLed");
    EXPECT_EQ(cgiCommandText(61, 2, 3), "setInfraLedConfig&mode=3");
    EXPECT_EQ(cgiCommandText(61, 9, 0), "");
    EXPECT_EQ(cgiCommandText(64, 0, 0), "zoomIn");
    EXPECT_EQ(cgiCommandText(66, 0, 0), "zoomStop");
    EXPECT_EQ(cgiCommandText(99, 0, 0), "");
}

TEST(CommandTable, PtzMovesAndQueries) {
    EXPECT_STREQ(ptzMoveName(0), "ptzMoveUp");
    EXPECT_STREQ(ptzMoveName(7), "ptzMoveBottomRight");
    EXPECT_STREQ(ptzMoveName(8), "ptzReset");
    EXPECT_STREQ(ptzMoveName(18), "ptzReset");
    EXPECT_STREQ(ptzMoveName(9), "ptzStopRun");
    EXPECT_EQ(ptzMoveName(10), nullptr);
    EXPECT_TRUE(isControlQuery(25));
    EXPECT_TRUE(isControlQuery(105));
    EXPECT_FALSE(isControlQuery(53)); // queued through its own command code
    EXPECT_FALSE(isControlQuery(26));
}

} // namespace
