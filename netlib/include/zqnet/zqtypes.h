#pragma once

#include <stdint.h>

// Address record of one camera. Owned by the caller and kept by pointer for the life of a
// session: the library reads it again on every (re)connect, so a caller may change
// `streamType` and then ask for a media re-login.
typedef struct DEVICE_PARAM {
    int32_t id;         // sent in logins and keep-alives
    char host[128];     // IP address or host name, or UID for peer-to-peer
    int32_t port;       // control and media port; the low 16 bits are the TCP/UDT port
    char user[20];      // NUL-terminated
    char password[20];  // NUL-terminated
    uint8_t streamType; // 0 main stream, 1 sub stream; sent in video requests
    uint8_t pad;
    uint16_t httpPort; // CGI port; equal to `port` when the camera serves both on one port
} DEVICE_PARAM;

#ifdef __cplusplus
static_assert(sizeof(DEVICE_PARAM) == 180, "DEVICE_PARAM is a 180-byte record");
#endif

// One media frame handed to a frame callback. The frame and its data belong to the library and
// are valid only during the callback: copy what you keep.
typedef struct FRAME_HEAD {
    int32_t type; // 264 video, 265 audio
    int32_t reserved;
    int32_t cameraWord0; // media header word 0, passed through
    int32_t cameraWord1; // media header word 1, passed through
    int32_t frameRate;   // frames per second as the camera states it
    int32_t length;      // bytes at `data`
    int32_t keyFrame;    // non-zero on an H.264 key frame
    int32_t cameraWord8; // stream bit rate in bits per second
    int32_t keyFrame2;   // same as keyFrame
    int32_t zero;
    char* data;
} FRAME_HEAD;

#ifdef __cplusplus
static_assert(sizeof(FRAME_HEAD) == 48, "the playback queue keeps frames in 48-byte slots");
#endif

enum { ZQ_MEDIA_VIDEO = 264, ZQ_MEDIA_AUDIO = 265 };

// What zq_net_open returns; the caller owns it until zq_net_close.
typedef struct NetHandle {
    int32_t type;
    void* session;
} NetHandle;

// kind/code/data/extra as documented in zqnet.h. The result is ignored.
typedef int (*EventCallback)(int kind, int code, int* data, void* user, int extra);
typedef void (*FrameCallback)(int mediaType, FRAME_HEAD* frame, void* user, int index);
// Media statuses of the per-channel family: (code, &value, user, extra).
typedef void (*StatusCallback)(int code, int* value, void* user, int extra);
// Control packets of the per-channel family: (command, payload, user, payload length).
typedef void (*CtrlCallback)(int code, const void* payload, void* user, int length);
