#pragma once

// What the recorder asks of the camera session it records. The session implements it and owns
// one Recorder; the recorder calls these from the network frame thread, the record thread and
// the UI thread, so they must be cheap, thread-safe reads that never wait for a lock the session
// holds while it calls into its Recorder.

#include <string>

namespace Device {

class RecordSession {
public:
    virtual ~RecordSession() = default;

    // The IP address, or the UID of a peer-to-peer camera: folder names, rows, log lines.
    virtual std::string recordHost() const = 0;
    virtual int recordPort() const = 0;
    // The network session is open: recording starts only then.
    virtual bool sessionOpen() const = 0;
    // 16 MJPEG, 17 H.264, 19 second H.264 kind: picks the headers and the alarm rules.
    virtual int classCode() const = 0;
    // The record thread's verdict for the current minute: alarm recording allowed by the plan
    // (always for class 17). The status dots show it.
    virtual void setAlarmAllowed(bool allowed) = 0;
    // The record folder recordings go to now (the disk guard's current record path).
    virtual std::string currentRecordRoot() const = 0;
    // The disk guard's verdict: enough free space to record.
    virtual bool recordingAllowed() const = 0;
};

} // namespace Device
