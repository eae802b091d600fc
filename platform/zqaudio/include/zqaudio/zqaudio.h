#pragma once

// zqaudio: the sound devices of the client. A playback device plays a camera's sound; a capture
// device records the operator's voice for the talk channel. Audio is always 16-bit little-endian
// PCM, 8000 samples per second, mono: 16000 bytes per second.
//
// Which device serves a handle is decided when the handle is created, by the environment
// variable ZQAUDIO_DEVICE:
//   unset, empty  the system's default sound device through PortAudio when PortAudio finds one
//                 for that direction; otherwise the null device
//   "portaudio"   the same, but a missing device is noted on standard error
//   "null"        no sound hardware: capture delivers silence and playback discards, both at the
//                 pace of a real device
//   "wav"         playback writes what it plays to the WAV file named by ZQAUDIO_WAV_OUT (created
//                 anew by every OpenPlayDev); capture delivers the samples of the WAV file named
//                 by ZQAUDIO_WAV_IN, then silence, at the pace of a real device
//   other         the null device, noted on standard error
// A sound device that cannot be opened at 8 kHz mono, and a WAV output that cannot be created,
// fall back to the null device, noted once on standard error. A WAV input that cannot be read or
// is not 8000 Hz mono 16-bit PCM is refused with a note on standard error and gives silence.
//
// All calls are thread-safe. Never release a handle while another thread may still call with it.

#ifdef __cplusplus
extern "C" {
#endif

typedef struct ZQAudioDevice ZQAudioDevice;

// Receives one captured block on the library's capture thread ("zqaudio_rec"). `reserved` is 0.
// `pcm` is valid during the call only. From inside the callback only StopRecDev may be called on
// the same device; its other calls are refused with ZQAUDIO_ERR_STATE (CloseRecDev and
// ReleaseRecDev do nothing). Keep it short: a stop waits for a callback in progress to return.
typedef void (*RecDataCallback)(int reserved, const char* pcm, int length, void* user);

// Return values. Every call returns 0 or one of the negative codes below.
enum {
    ZQAUDIO_OK = 0,
    ZQAUDIO_ERR_HANDLE = -1, // null handle, or a capture handle to a playback call (or the reverse)
    ZQAUDIO_ERR_PARAM = -2,  // unknown parameter, null pointer, value out of range, odd length
    ZQAUDIO_ERR_STATE = -3,  // not allowed now: device not open, already open, running, no callback
    ZQAUDIO_ERR_DEVICE = -4, // the sound device failed to open or start
    ZQAUDIO_ERR_INTERNAL = -5, // out of memory or another unexpected failure
};

// Parameters (the `param` of SetPlayParam and SetRecParam); `value` points to an int.
enum {
    // Playback buffer in bytes, even, within the limits below; default 8640 (0.54 s).
    ZQAUDIO_PLAY_BUFFER_SIZE = 3,
    // Capture block in bytes, even, within the limits below; default 960 (60 ms).
    ZQAUDIO_REC_BLOCK_SIZE = 3,
};

enum {
    ZQAUDIO_PLAY_BUFFER_MIN = 320,    // 20 ms
    ZQAUDIO_PLAY_BUFFER_MAX = 160000, // 10 s
    ZQAUDIO_REC_BLOCK_MIN = 160,      // 10 ms
    ZQAUDIO_REC_BLOCK_MAX = 16000,    // 1 s
};

// ---- Playback ----
// Lifecycle: CreatePlayDev, SetPlayParam (while closed), OpenPlayDev, WriteData..., ClosePlayDev
// (OpenPlayDev may follow again), ReleasePlayDev.

// Null when out of memory.
ZQAudioDevice* CreatePlayDev(void);
// Only while the device is closed.
int SetPlayParam(ZQAudioDevice* device, int param, const void* value);
int OpenPlayDev(ZQAudioDevice* device);
// Queues `length` bytes (even, 0 allowed) for playing and returns at once; it never waits for
// the device. When the buffer is full, the OLDEST queued audio is dropped to make room, so the
// sound stays live: what waits to be played never exceeds the buffer size. A write longer than
// the whole buffer keeps only its newest part. Refused (ZQAUDIO_ERR_STATE) while the device is
// not open.
int WriteData(ZQAudioDevice* device, const void* pcm, int length);
// Stops playing; audio still queued is discarded. Nothing happens when the device is not open.
void ClosePlayDev(ZQAudioDevice* device);
// Closes the device if open and frees the handle. Null is ignored.
void ReleasePlayDev(ZQAudioDevice* device);

// ---- Capture ----
// Lifecycle: CreateRecDev, SetRecDataCallback and SetRecParam (while closed), OpenRecDev,
// RestartRecDev (blocks start arriving), StopRecDev (they stop), RestartRecDev again...,
// CloseRecDev, ReleaseRecDev. Blocks arrive only between RestartRecDev and StopRecDev, each of
// exactly the block size, in capture order. A WAV input resumes after a stop where it left off.

// Null when out of memory.
ZQAudioDevice* CreateRecDev(void);
// `callback` must not be null. Not while blocks are being delivered.
int SetRecDataCallback(ZQAudioDevice* device, RecDataCallback callback, void* user);
// Only while the device is closed.
int SetRecParam(ZQAudioDevice* device, int param, const void* value);
int OpenRecDev(ZQAudioDevice* device);
// Starts delivering blocks; needs an open device and a callback. Already delivering: no change.
int RestartRecDev(ZQAudioDevice* device);
// Stops delivering. When it returns no callback is running and none will run until the next
// RestartRecDev. It waits for a callback in progress to return, and at most 2 s for the device
// (a device that overruns that is abandoned: RestartRecDev then fails until the device is closed
// and opened again). Called from inside the callback it returns at once; the callback in progress
// is the last. Stopping a device that is open but not delivering succeeds.
int StopRecDev(ZQAudioDevice* device);
// Stops delivering and closes the device. Nothing happens when the device is not open.
void CloseRecDev(ZQAudioDevice* device);
// Closes the device if open and frees the handle. Null is ignored.
void ReleaseRecDev(ZQAudioDevice* device);

#ifdef __cplusplus
}
#endif
