// The names the recorder writes and the rescan reads back.

#include "device/record/RecordNames.h"

#include <gtest/gtest.h>

namespace {

using Device::LocalTime;
using Device::parseRecordFileName;
using Device::recordFileName;

const LocalTime kStart{2026, 12, 8, 10, 15, 0, 2};

TEST(RecordNames, NamesReadBackWithKindAndStartTime) {
    for (int kind = 0; kind < Device::kRecordKinds; ++kind) {
        for (int sequence : {0, 1, 99}) {
            const std::string name = recordFileName(kind, kStart, sequence);
            const auto parsed = parseRecordFileName(name);
            ASSERT_TRUE(parsed) << name;
            EXPECT_EQ(parsed->kind, kind);
            EXPECT_EQ(parsed->fileDate, "2026-12-08 10:15:00") << name;
        }
    }
    EXPECT_EQ(recordFileName(0, kStart), "Manual_20261208101500.avi");
    EXPECT_EQ(recordFileName(1, kStart, 1), "Schedule_2026120810150001.avi");
    EXPECT_EQ(recordFileName(2, {2027, 1, 2, 3, 4, 5, 6}), "Alarm_20270102030405.avi");
}

TEST(RecordNames, OtherNamesAreNotRecordings) {
    for (const char* name : {
             "Manual_20261208101500.AVI",     // the extension is exact
             "Manual_20261208101500.avi.bak", // two dots
             "Manual_20261208101500",         // no extension
             "Manual_2026120810150.avi",      // 13 digits
             "Manual_202612081015001.avi",    // 15 digits
             "Manual_20261208101500001.avi",  // 17 digits
             "Manual_2026120810150a.avi",     // not all digits
             "Manual_20261208101500_1.avi",   // two underscores
             "manual_20261208101500.avi",     // the kind word is exact
             "Snapshot_20261208101500.avi",   // no such kind
             "Manual20261208101500.avi",      // no underscore
             "Manual_20261308101500.avi",     // month 13
             "Manual_20260230101500.avi",     // 30 February
             "Manual_20261208241500.avi",     // hour 24
             "Manual_20261208106000.avi",     // minute 60
             "Manual_20261208101500.avi_idx", // a side file
         }) {
        EXPECT_FALSE(parseRecordFileName(name)) << name;
    }
    EXPECT_TRUE(parseRecordFileName("Alarm_20240229235960.avi")); // leap day, leap second
}

TEST(RecordNames, CameraFolderSuffixIsAUidOrADottedAddress) {
    for (const char* suffix : {"ABCDEFGHIJ0123456789", "00000000000000000000", "192.168.1.64",
                               "0.0.0.0", "255.255.255.255", "010.001.1.1"}) {
        EXPECT_TRUE(Device::isRecordFolderSuffix(suffix)) << suffix;
    }
    for (const char* suffix :
         {"abcdefghij0123456789", "ABCDEFGHIJ012345678", "ABCDEFGHIJ01234567890",
          "ABCDEFGHIJ-123456789", "256.1.1.1", "1.2.3", "1.2.3.4.5", "1.2.3.", ".1.2.3", "1..2.3",
          "1.2.3.4a", "1.2.3.0255", "-1.2.3.4", "", "cam.local"}) {
        EXPECT_FALSE(Device::isRecordFolderSuffix(suffix)) << suffix;
    }
}

TEST(RecordNames, HostNeverLeavesTheRecordRoot) {
    const auto folder = Device::recordFolder("/rec/", "../../etc/x");
    EXPECT_EQ(folder.parent_path(), std::filesystem::path("/rec"));
    EXPECT_EQ(folder.filename(), "Recordfiles_.._.._etc_x");
    EXPECT_EQ(Device::recordFolder("/rec", "10.0.0.1"), Device::recordFolder("/rec/", "10.0.0.1"));
    EXPECT_EQ(Device::recordFolder("/a/../rec", "10.0.0.1"), "/rec/Recordfiles_10.0.0.1");
}

} // namespace
