#pragma once

// libzqnet: one handle for every camera family, the per-channel calls, and the HTTP client.
//
// Threads: callbacks run on the library's threads ("ctrl_thread", "NetThread", "AVThread"),
// never on the caller's. Never call zq_net_close from inside a callback. zq_net_setcommand may be
// called from any thread.

#include "zqnet/zqexport.h"
#include "zqnet/zqhttp.h"
#include "zqnet/zqsearch.h"
#include "zqnet/zqtypes.h"

#include <stdint.h>

// Session types of zq_net_open.
enum {
    ZQ_TYPE_MJPEG = 1,    // MJPEG camera over TCP
    ZQ_TYPE_NONE = 2,     // accepted, no session: later calls do nothing
    ZQ_TYPE_H264_UDT = 3, // H.264 camera, channels over UDT
    ZQ_TYPE_H264_TCP = 4, // H.264 camera, channels over TCP
    ZQ_TYPE_H264_P2P = 7, // H.264 camera over peer-to-peer
};

// Event kinds delivered by an H.264 session:
//   (0, 0, NULL, extra=index)       media channel logged in and streaming
//   (9, 19, NULL) / (10, 19, NULL)  camera granted / ended talk (packets 20 / 21 with value 0)
//   (257, status, &value, extra)    any other media status
//   (256, command, payload, length) a control packet or CGI result
enum { ZQ_EVENT_MEDIA_STATUS = 257, ZQ_EVENT_CONTROL = 256 };

// `buffering`: low 16 bits = playback frame-queue capacity (0 = live), high 16 bits = frames to
// pre-buffer. `linkFlags`: low 16 bits = caller's index (echoed in callbacks), any higher bit =
// reconnect automatically. `playFile`: NULL for live, else "<kind digit><sep><path>".
ZQ_API NetHandle* ZQ_CALL zq_net_open(int type, const char* playFile, DEVICE_PARAM* param,
                                      int buffering, int linkFlags, int unused,
                                      EventCallback onEvent, FrameCallback onFrame, void* user);
ZQ_API void ZQ_CALL zq_net_close(NetHandle* handle);
// Pointer-carrying commands (talk data, names) pass the pointer in param1.
ZQ_API void ZQ_CALL zq_net_setcommand(NetHandle* handle, int command, intptr_t param1,
                                      intptr_t param2);

// Per-channel family: a media channel alone, or a control channel alone.
ZQ_API NetHandle* ZQ_CALL zq_open_device(int type, const char* playFile, DEVICE_PARAM* param,
                                         int buffering, int linkFlags, int unused,
                                         StatusCallback onStatus, FrameCallback onFrame,
                                         void* user);
ZQ_API int ZQ_CALL zq_close_device(NetHandle* handle);
ZQ_API int ZQ_CALL zq_start_media(NetHandle* handle, int what); // 2 video, 4 audio
ZQ_API int ZQ_CALL zq_stop_media(NetHandle* handle, int what);
ZQ_API int ZQ_CALL zq_pause_media(NetHandle* handle);
ZQ_API int ZQ_CALL zq_resume_media(NetHandle* handle);
ZQ_API int ZQ_CALL zq_seek_record(NetHandle* handle, double percent);
ZQ_API int ZQ_CALL zq_get_image(NetHandle* handle);
ZQ_API int ZQ_CALL zq_send_talk_data(NetHandle* handle, int unused, int a, int b, int length,
                                     const char* data);
ZQ_API int ZQ_CALL zq_post_media_msg(NetHandle* handle, int code, int param1, int param2);

ZQ_API NetHandle* ZQ_CALL zq_open_ctrl_road(int type, DEVICE_PARAM* param, CtrlCallback onCtrl,
                                            void* user);
ZQ_API int ZQ_CALL zq_close_ctrl_road(NetHandle* handle);
ZQ_API int ZQ_CALL zq_post_ctrl_road_msg(NetHandle* handle, int code, int unused1, int unused2);
