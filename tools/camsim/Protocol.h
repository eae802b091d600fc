#pragma once

#include <cstddef>
#include <cstdint>

namespace camsim {

// Packet commands and payload sizes of the camera protocol, camera side.
namespace cmd {
// From the client.
constexpr int32_t kLiveLogin = 0; // 161: uint8 streamType, user[64], password[64], int32 id
constexpr int32_t kLiveLogout = 1;
constexpr int32_t kListenOn = 2; // 161, same layout as the live login
constexpr int32_t kListenOff = 3;
constexpr int32_t kTalkStart = 4; // 160: user[64], password[64], int32 id
constexpr int32_t kTalkEnd = 5;
constexpr int32_t kTalkAudio = 6;     // int32 n, then n bytes of G.726-16 (n <= 960)
constexpr int32_t kPlaybackLogin = 7; // 228: int32 kind, file[64], user[64], password[64], id
constexpr int32_t kPlaybackLogout = 8;
constexpr int32_t kSeek = 9; // int32 target ms
constexpr int32_t kPause = 10;
constexpr int32_t kResume = 11;
constexpr int32_t kControlLogin = 12; // 164: user[64], password[64], int32 id, 32 zero bytes
constexpr int32_t kControlPing = 14;
constexpr int32_t kKeepAlive = 15; // int32 id
// NUL-terminated "cmd=<command>[&name=value...]&usr=<user>&pwd=<password>"; control channel.
constexpr int32_t kTextCommand = 114;
// To the client.
constexpr int32_t kTalkGranted = 20; // int32 0
constexpr int32_t kTalkEnded = 21;   // int32 0
constexpr int32_t kRecordInfo = 22;  // 52 bytes
constexpr int32_t kSeekReached = 24; // int32 0, int32 reached ms
constexpr int32_t kRecordEnd = 25;
constexpr int32_t kVideoFrame = 26; // 36-byte media header + data
constexpr int32_t kAudioFrame = 27;
constexpr int32_t kLoginReply = 100;    // 2219: int32 result (0 accepted, -2 refused), parameters
constexpr int32_t kMotionNotice = 102;  // int32 state
constexpr int32_t kPresetNotice = 106;  // 16 x 32-byte names, int32 count
constexpr int32_t kCruiseNotice = 107;  // 8 x 32-byte names, int32 count
constexpr int32_t kImageNotice = 110;   // brightness, contrast, hue, saturation, sharpness
constexpr int32_t kAlarmNotice = 111;   // state, second state, record-on-alarm, duration s
constexpr int32_t kTextReply = 115;     // HTTP-style head and the CGI XML answer, no NUL
constexpr int32_t kSnapshotReply = 116; // the JPEG of a fresh snapshot
} // namespace cmd

constexpr size_t kLiveLoginSize = 161;
constexpr size_t kTalkStartSize = 160;
constexpr size_t kPlaybackLoginSize = 228;
constexpr size_t kControlLoginSize = 164;
constexpr size_t kLoginReplySize = 2219;
constexpr size_t kRecordInfoSize = 52;
constexpr size_t kFieldSize = 64; // user, password and file name fields
constexpr size_t kNoticeNameSize = 32;
constexpr int32_t kLoginRefused = -2;
constexpr size_t kMaxTalkBytes = 960;
// Largest request payload accepted before a stream counts as broken: talk packets that claim
// more than 960 bytes are still read whole (and rejected), bigger ones end the connection.
constexpr size_t kMaxRequestPayload = 4096;
// Longest text command, NUL included. Kept below kMaxRequestPayload so that an over-long command
// is read whole and ignored instead of ending the control channel.
constexpr size_t kMaxTextCommandBytes = 2048;

} // namespace camsim
