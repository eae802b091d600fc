#pragma once

#include "Backend.h"
#include "sys/Thread.h"
#include "zqaudio/zqaudio.h"

#include <memory>
#include <mutex>

namespace zqaudio {

struct CaptureRun;

// A capture device: the source it reads and the "zqaudio_rec" thread that hands its blocks to
// the client's callback between restart() and stop().
//
// The control calls are serialised by one lock, which the capture thread never takes. Each
// restart begins a new run with its own stop flag, so a thread abandoned by an earlier stop can
// never deliver into a later run.
class Recorder {
public:
    static constexpr int kDefaultBlockBytes = 960;

    explicit Recorder(BackendChoice choice);
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    int setCallback(RecDataCallback callback, void* user);
    int setBlockBytes(int bytes);
    int open();
    int restart();
    int stop();
    void close();
    // True when called from inside this device's callback.
    bool onCaptureThread() const;

private:
    void finishRun();

    const BackendChoice m_choice;
    std::mutex m_lock;
    // All guarded by m_lock:
    RecDataCallback m_callback = nullptr;
    void* m_user = nullptr;
    int m_blockBytes = kDefaultBlockBytes;
    bool m_open = false;
    std::shared_ptr<CaptureSource> m_source; // null while closed, or after the device was lost
    std::shared_ptr<CaptureRun> m_run;       // set from restart() to the stop that ends it
    sys::Thread m_thread;
};

} // namespace zqaudio
