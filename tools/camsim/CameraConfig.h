#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace camsim {

// Audio the camera sends on a media channel.
enum class AudioFormat {
    Pcm,  // raw 16-bit 8 kHz mono, 960-byte blocks (60 ms)
    G726, // G.726 at 16 kbit/s, 120-byte blocks of 480 samples, codec state fresh per block
};

// How one simulated H.264 camera is set up. Every field has a usable default.
struct CameraConfig {
    std::string listenAddress = "0.0.0.0";
    uint16_t port = 0;    // control and media port, TCP and UDT; 0 picks a free one
    uint16_t webPort = 0; // CGI port; 0 picks a free one; ignored with onePort
    bool onePort = false; // serve CGI on `port` too (web port = media port)
    bool udt = true;      // also accept UDT on `port`

    std::string user = "admin";
    std::string password = "admin";
    std::string name = "camsim"; // camera name in the login reply

    // Every record file name containing a '.' exists, with this length (frames at 25 fps).
    uint32_t recordDurationMs = 600000;
    // Video header word 1 carries the send time (monotonic clock, ms, low 31 bits) instead of
    // the stream time, so a client on the same machine can measure camera-to-screen latency.
    bool stampSendTime = false;
    AudioFormat playbackAudio = AudioFormat::G726;

    // Receives one line per event (connections, logins, commands); called from connection
    // threads, so it must be thread-safe. Empty: events are not reported.
    std::function<void(const std::string&)> eventSink;
};

} // namespace camsim
