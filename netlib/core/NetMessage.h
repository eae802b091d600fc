#pragma once

#include <cstdint>

namespace zq {

// A request between the library's threads. Pointer-carrying commands keep the pointer in a
// pointer-sized parameter so a 64-bit build passes it intact.
struct NetMessage {
    int32_t zero = 0;
    int32_t code = 0;
    intptr_t param1 = 0;
    intptr_t param2 = 0;
    int32_t reserved[3] = {};
};

// Message codes shared by the channel threads.
enum MessageCode : int32_t {
    kMsgQuit = 18,          // end the thread
    kMsgReconnect = 1025,   // close the connection and start over
    kMsgRecordInfo = 256,   // "AVThread": record information arrived
    kMsgSeekReached = 257,  // "AVThread": the camera reached a seek target
    kMsgPause = 258,        // "AVThread": stop delivery
    kMsgResume = 259,       // "AVThread": refill, then deliver again
    kMsgShowOneFrame = 260, // "AVThread": let one frame through while paused
};

} // namespace zq
