#pragma once

namespace iotc {

// How long the library waits for what. Process-wide; tests shorten the keep-alive to see a dead
// peer noticed without waiting a quarter of a minute.
struct Timing {
    unsigned relayConnectMs = 2000; // TCP connect to one relay
    unsigned answerMs = 3000;       // the relay's answer to REGISTER, CONNECT or ACCEPT
    unsigned pingEveryMs = 5000;    // idle time after which a keep-alive goes out
    unsigned silenceMs = 15000;     // nothing heard this long: the other end is gone
    unsigned closeFlushMs = 1000;   // IOTC_Session_Close: time to send what is still queued
};

} // namespace iotc
