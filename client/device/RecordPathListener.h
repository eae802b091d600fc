#pragma once

#include <string>

namespace Device {

// An open camera session as the record-disk guard sees it. The guard calls ChangeRecordPath on
// its watch thread, with none of its locks held, when recording moves to another record folder
// and, once a second, while the disk has no room (so recordings restart when room is back).
// The session moves its record directories under `recordRoot` and marks its running recordings
// for a restart; it must not block there.
class RecordPathListener {
public:
    virtual ~RecordPathListener() = default;
    virtual void ChangeRecordPath(const std::string& recordRoot) = 0;
};

} // namespace Device
