// The command table per camera model, and preset and cruise names as they reach the library.

#include "ControlTestSupport.h"

#include "device/control/Commands.h"
#include "device/control/Presets.h"

#include <map>

namespace {

using namespace Device::Commands;
using controltest::RecordingSink;
using Sends = std::vector<controltest::Sent>;

TEST(MjpegCommands, RestoringDefaultsSendsEachModelsSequence) {
    RecordingSink first, second, h264;
    EXPECT_TRUE(mjpegRestoreDefaults(first, kModelMjpeg));
    EXPECT_EQ(first.sent(),
              (Sends{{24, 0, 32}, {24, 1, 96}, {24, 2, 4}, {24, 3, 0}, {24, 5, 0}, {12, 27, 16}}));
    EXPECT_TRUE(mjpegRestoreDefaults(second, kModelMjpegSecond));
    EXPECT_EQ(second.sent(),
              (Sends{{58, 1, 0}, {60, 1, 7}, {60, 0, 144}, {60, 2, 32}, {12, 27, 18}}));
    EXPECT_FALSE(mjpegRestoreDefaults(h264, kModelH264));
    EXPECT_TRUE(h264.sent().empty());
}

TEST(PtzCommands, PressCarriesTheModelAndReleaseStopsDirectionsOnly) {
    RecordingSink sink;
    ptzPress(sink, kModelMjpegSecond, 3);
    ptzPress(sink, kModelH264, 3);
    EXPECT_EQ(sink.sent(), (Sends{{12, 3, 18}, {12, 3, 5}}));
    for (int tag = 0; tag <= 7; ++tag) {
        sink.clear();
        ptzRelease(sink, kModelMjpegSecond, tag);
        ptzRelease(sink, kModelMjpeg, tag);
        EXPECT_EQ(sink.sent(), (Sends{{12, 62, 0}, {12, 9, 0}})) << "tag " << tag;
    }
    sink.clear();
    EXPECT_FALSE(ptzRelease(sink, kModelH264, 8));
    EXPECT_FALSE(ptzRelease(sink, kModelMjpegSecond, 8));
    EXPECT_TRUE(sink.sent().empty()) << "tags above 7 are actions without a stop";
}

TEST(PresetNames, OnlyOneToAHundredLettersAndDigitsAreSentAndStayTerminated) {
    EXPECT_TRUE(validPresetName(std::string(100, 'Z')));
    EXPECT_FALSE(validPresetName(std::string(101, 'Z')));
    EXPECT_FALSE(validPresetName(""));
    EXPECT_FALSE(validPresetName("front door"));

    RecordingSink sink;
    NameBuffer buffer;
    buffer.assign(std::string(100, 'L'));
    ASSERT_TRUE(presetSet(sink, buffer, "Gate"));
    EXPECT_FALSE(presetSet(sink, buffer, "front door"));
    EXPECT_EQ(buffer.view(), "Gate") << "a refused name keeps the stored one";
    const std::string longest(100, 'n');
    ASSERT_TRUE(presetSet(sink, buffer, longest));
    const auto sent = sink.sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].text, "Gate");
    EXPECT_EQ(sent[1], (controltest::Sent{50, buffer.pointer(), buffer.pointer()}));
    EXPECT_EQ(sent[1].text, longest) << "read past the end of the name";
}

TEST(CruiseNames, BuiltInNamesShowTranslatedAndAreSentUnderTheCamerasName) {
    const TextLookup lookup = [](std::string_view key) -> std::string {
        static const std::map<std::string, std::string, std::less<>> texts{
            {"PTZ_Vertical", "Vertical Patrol"}, {"PTZ_TopMost", "Top Position"}};
        const auto found = texts.find(key);
        return found == texts.end() ? std::string() : found->second;
    };
    EXPECT_EQ(shownName("Vertical", lookup), "Vertical Patrol");
    EXPECT_EQ(shownName("LeftMost", lookup), "LeftMost") << "no text: the name itself";
    EXPECT_EQ(cameraName("Garden", lookup), "Garden");
    EXPECT_EQ(cameraName("", lookup), "") << "an empty text is not a missing translation";

    RecordingSink sink;
    NameBuffer cruise, preset;
    cruiseGo(sink, cruise, "Vertical Patrol", lookup);
    presetGo(sink, preset, "Top Position", lookup);
    const auto sent = sink.sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0], (controltest::Sent{45, cruise.pointer(), cruise.pointer()}));
    EXPECT_EQ(sent[0].text, "Vertical");
    EXPECT_EQ(sent[1].code, 48);
    EXPECT_EQ(sent[1].text, "TopMost");
}

} // namespace
