#pragma once

/*
 * moltrex: asynchronous access to older MJPEG network cameras for a host program.
 *
 *   - LAN search and network set-up by UDP broadcast (port 10000),
 *   - a management session per camera (parameters, time, network, DDNS, firmware upload, reboot,
 *     factory reset),
 *   - a monitor session per camera (live JPEG pictures and audio blocks, sound output, pan/tilt
 *     and decoder control),
 *   - JPEG-to-RGB conversion of received pictures.
 *
 * How a host starts: call SearchCamera with a callback, collect the MO_SEARCH_RECORDs of message
 * MO_MSG_SEARCH until the one with lParam 0, then MonitorConnect to a camera's address and port,
 * PlayVideo once MO_MSG_MONITOR_LOGIN reports 0, and turn every MO_MSG_PICTURE record into RGB
 * with JpegToRGB. sdk/example/ is such a host.
 *
 * ---- Calls and results ----
 * Every call only checks its arguments and queues the work; it returns a status at once and the
 * result arrives later as a notification. Statuses returned by calls:
 *     MO_OK (0) accepted, MO_ERR_PARAM (-9) invalid argument, MO_ERR_START (-10) the worker
 *     thread or the request could not be started or posted, MO_ERR_BUSY (-11) a search or set-up
 *     already runs, a session for the id already exists (connect), or no session exists for the
 *     id (every other session call).
 * All calls are thread-safe, may be made from any thread and from inside a notification
 * callback. No exception leaves the library.
 *
 * A camera id is a text of exactly 12 characters; any other length is MO_ERR_PARAM.
 * User names and passwords are at most 12 characters (longer ones are MO_ERR_PARAM rather than
 * silently cut, which would only show later as a refused login).
 *
 * ---- Byte order ----
 * Numbers passed to calls are in host byte order: the IPv4 address and port of MgrConnect and
 * MonitorConnect (0x7F000001 is 127.0.0.1), time-outs, volumes and control values.
 * Inside the records below, IPv4 addresses, masks, gateways, DNS servers and HTTP ports are in
 * network byte order, as in a sockaddr_in; every other number of a record is in host order.
 *
 * ---- Notifications ----
 * SearchCamera, InitCamera, MgrConnect and MonitorConnect take a notification target: a window,
 * a thread and a callback; the first non-zero one is used, and all three zero is MO_ERR_PARAM.
 *   - window, thread: the address of a sys::MessageQueue (platform/sys) the host reads, for
 *     example &thread.context()->queue() of a sys::Thread, or the queue of the host's window
 *     loop. The library posts sys::ThreadMessage{message, wParam, lParam}. A post that the queue
 *     refuses (full) is tried again every 10 ms, up to 1000 times; when it never succeeds, the
 *     heap records it carried are freed by the library. The queue must outlive the search or
 *     set-up (until its last message) and the session (until MO_MSG_MGR_END/MO_MSG_MONITOR_END).
 *   - callback: called as callback(message, wParam, lParam) on a thread of the library (the
 *     search, set-up or session thread). Keep it short: the session does not read its camera
 *     while the callback runs.
 * Heap records passed in wParam or lParam belong to the receiver, who frees each with
 * FreeMemory. Statuses in wParam or lParam are signed: read them as (int)(intptr_t)value.
 *
 *   message                  when                                 wParam / lParam
 *   2124 MO_MSG_SEARCH       each search answer                   MO_OK / MO_SEARCH_RECORD*
 *                            once at the end                      status / 0
 *   2125 MO_MSG_INIT         the set-up exchange ends             status / 0
 *   2224 MO_MSG_MGR_LOGIN    management login finished            id / status
 *   2225 MO_MSG_MGR_END      management session ended             id / status
 *   2226 MO_MSG_PARAMS       camera parameters arrived            id / MO_CAMERA_PARAMS*
 *   2227 MO_MSG_TIME         camera time arrived                  id / seconds since 1970 UTC
 *   2228 MO_MSG_UPGRADE      firmware upload result               id / status
 *   2229 MO_MSG_NET2         network parameters arrived           id / MO_NET2_PARAMS*
 *   2230 MO_MSG_DDNS         DDNS status arrived                  id / the camera's status
 *   2324 MO_MSG_MONITOR_LOGIN monitor login finished              id / status
 *   2325 MO_MSG_MONITOR_END  monitor session ended                id / status
 *   2326 MO_MSG_AUDIO_START  audio start result                   id / status
 *   2327 MO_MSG_VIDEO_START  video start result                   id / status
 *   2328 MO_MSG_VIDEO_STOP   video stopped                        id / status
 *   2329 MO_MSG_AUDIO_STOP   audio stopped                        id / status
 *   2330 MO_MSG_STATUS       a status value of the camera         id / value
 *   2332, 2333, 2339         further camera reports               id / value
 *   2334 MO_MSG_PICTURE      a picture, in time order             id / MO_FRAME*
 *   2335 MO_MSG_AUDIO        an audio block, in time order        id / MO_FRAME*
 *   2336 MO_MSG_PICTURE_FLUSH a picture, buffer emptied at once   id / MO_FRAME*
 *   2337 MO_MSG_AUDIO_FLUSH  an audio block, buffer emptied       id / MO_FRAME*
 *   2338 MO_MSG_COUNTERS     once a second while video runs       id / MO_TRANSFER_COUNTERS*
 * "id" is a heap copy of the camera id (13 bytes, NUL-terminated).
 *
 * Statuses in notifications: MO_OK, the library's negative codes below, or a positive status the
 * camera sent (its 16-bit status, taken as unsigned).
 *
 * Sessions: a successful login is MO_MSG_MGR_LOGIN / MO_MSG_MONITOR_LOGIN with 0. A session that
 * cannot connect or log in reports the login message with the failure and then the end message
 * with the same status; one ended by its disconnect call before the login finished reports only
 * the end message, with 0. The end message is always the last one of a session, and by then the
 * session is gone: the id may be connected again from inside its handler. Requests made before
 * the login finished wait and run once logged in; requests left when a session ends are dropped.
 *
 * ---- Choices this library makes where the camera family leaves them open ----
 * Addresses on the wire (search answer, set-up, parameter record) travel as their four bytes in
 *   network order, exactly as the records hold them; every other number is little-endian, the
 *   search answer's port included (the record holds it in network order).
 * Login answer: of its three 32-bit values the first is the protocol version (tested: above
 *   0x01000000 ends the session with MO_ERR_VERSION), then the system and the application
 *   firmware versions.
 * Time (management request 7 / answer 8, request 9): two 32-bit values, the camera's clock in
 *   seconds since 1970 UTC and its time zone as seconds east of UTC (signed). MO_MSG_TIME carries
 *   the clock; SetTime takes both.
 * DDNS status (answer 27): one 16-bit value, passed on as MO_MSG_DDNS's lParam.
 * Network parameters (answer 18, request 19): MO_NET2_PARAMS, sent packed as its 92 bytes.
 * Firmware upload (requests 12 and 13): a 32-bit length, then the file's bytes. Files up to
 *   MO_MAX_FIRMWARE_BYTES. MO_MSG_UPGRADE reports 0 once the whole file went out to the camera,
 *   MO_ERR_FILE when the file cannot be read, is not a regular file, is empty or too large, and
 *   MO_ERR_SOCKET when the connection failed during the upload (the session then ends).
 * Monitor requests: video start (4) and audio start (8) carry one byte 1; video stop (6) and
 *   audio stop (10) nothing; the maximum video rate (7), SensorControl (19) and DecoderControl
 *   (14) their 32-bit values, little-endian. Opcode 16 after login has no payload.
 * Start answers: the camera answers every start request with opcode 9 (16-bit status, 32-bit
 *   connection id); answers are matched to start requests in the order they were sent, which
 *   tells MO_MSG_VIDEO_START from MO_MSG_AUDIO_START. StopVideo and StopAudio report
 *   MO_MSG_VIDEO_STOP / MO_MSG_AUDIO_STOP with 0 when the stop was sent; a lost video channel
 *   reports them with MO_ERR_SOCKET (MO_ERR_PROTOCOL when it broke the framing), a video
 *   channel that never answered with MO_ERR_TIMEOUT. Either way the frames the buffer still
 *   held are handed on first, so a stop message is the last of its stream.
 * Video channel ("MO_V"): after a successful start answer the library connects to the same
 *   address and port and sends opcode 0 with the connection id, again once a second (reconnecting
 *   when needed) until the first message of the camera arrives, and gives up after 30 s.
 *   The camera sends opcode 1 pictures: 32-bit time stamp (10 ms units), 32-bit frame time,
 *   1 reserved byte, 32-bit length, the JPEG; and opcode 2 audio blocks: 32-bit time stamp,
 *   32-bit serial, 32-bit gather time, 1 format byte, 32-bit length, the audio bytes.
 * Time order: pictures and audio blocks wait in one buffer sorted by time stamp and leave oldest
 *   first whenever the buffered span reaches 400 ms (MO_MSG_PICTURE, MO_MSG_AUDIO). The buffer
 *   is emptied at once (MO_MSG_PICTURE_FLUSH, MO_MSG_AUDIO_FLUSH) when both streams stopped, the
 *   video channel ended, the session ends, or a time stamp jumps by more than 10 s either way
 *   (the camera's clock restarted: the old span is not held back behind the new one). A block
 *   that arrives after later ones already left is handed on at once, not dropped. The buffer
 *   holds at most MO_MAX_BUFFERED_FRAMES frames or 8 MB; beyond that the oldest leave early, so a
 *   camera sending one time stamp forever cannot grow it without bound.
 * Status reports: opcode 17 carries five 32-bit values, opcode 18 one, each posted as
 *   MO_MSG_STATUS in order. Opcodes 25, 26 and 27 carry one 32-bit value each, posted as
 *   2332, 2333 and 2339 without interpretation.
 * Sound: audio blocks of format 0 (16-bit little-endian PCM, 8000 samples/s, mono) are played
 *   while SetSoundOn is in effect, at most 11 blocks queued on the sound device; a block that
 *   finds 11 waiting is not played (it is still handed to the host). Other formats are only
 *   handed to the host. The volume is the library's (all sessions), applied to the samples:
 *   0 (silent) to 0xFFFF (as received).
 * Received texts are cut at their field's last byte, so every text in a record the library hands
 *   out is NUL-terminated within its field whatever the camera sent.
 * Search: the search ends when no answer came for one time-out, and at the latest after ten
 *   time-outs or 1024 answers, so a camera that never stops answering cannot hold the search
 *   (and the one-search-at-a-time rule) forever. Time-outs above 60000 ms count as 60000.
 *   The environment variable MOLTREX_SEARCH_ADDRESS ("a.b.c.d[:port]") replaces the broadcast
 *   address 255.255.255.255:10000 that search and set-up send to, and MOLTREX_SEARCH_LOCAL_PORT
 *   the local port 10000 (0 picks a free one): for cameras on one host or a routed network.
 * Sessions connect within 5 s and expect each login answer within 10 s (else MO_ERR_TIMEOUT);
 *   a camera that does not take what the library sends within 10 s ends the session with
 *   MO_ERR_SOCKET. A message that breaks the framing (wrong tag, unequal or too large lengths)
 *   ends the session with MO_ERR_PROTOCOL: a stream out of step cannot be trusted again. A
 *   message whose payload is too short for its opcode is dropped and the session goes on.
 */

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The desktop original uses the standard calling convention; this build has one. */
#define MOLTREX_API __attribute__((visibility("default")))

typedef uintptr_t MO_WINDOW; /* address of the host window's sys::MessageQueue, or 0 */
typedef uintptr_t MO_THREAD; /* address of the host thread's sys::MessageQueue, or 0 */
typedef uintptr_t MO_WPARAM;
typedef intptr_t MO_LPARAM;
typedef void (*MO_CALLBACK)(unsigned int message, MO_WPARAM wParam, MO_LPARAM lParam);

enum {
    MO_OK = 0,
    MO_ERR_CONNECT = -1,  /* the TCP connection could not be made */
    MO_ERR_SOCKET = -2,   /* a socket failed, or the camera closed the connection */
    MO_ERR_TIMEOUT = -3,  /* no (further) answer in time */
    MO_ERR_VERSION = -4,  /* the camera's protocol version is newer than 0x01000000 */
    MO_ERR_PROTOCOL = -5, /* the camera broke the message framing */
    MO_ERR_FILE = -6,     /* a firmware file that cannot be uploaded */
    MO_ERR_PARAM = -9,
    MO_ERR_START = -10,
    MO_ERR_BUSY = -11,
    MO_ERR_CAMERA_ID = -12, /* the camera that answered has another id */
};

enum {
    MO_MSG_SEARCH = 2124,
    MO_MSG_INIT = 2125,
    MO_MSG_MGR_LOGIN = 2224,
    MO_MSG_MGR_END = 2225,
    MO_MSG_PARAMS = 2226,
    MO_MSG_TIME = 2227,
    MO_MSG_UPGRADE = 2228,
    MO_MSG_NET2 = 2229,
    MO_MSG_DDNS = 2230,
    MO_MSG_MONITOR_LOGIN = 2324,
    MO_MSG_MONITOR_END = 2325,
    MO_MSG_AUDIO_START = 2326,
    MO_MSG_VIDEO_START = 2327,
    MO_MSG_VIDEO_STOP = 2328,
    MO_MSG_AUDIO_STOP = 2329,
    MO_MSG_STATUS = 2330,
    MO_MSG_REPORT_25 = 2332,
    MO_MSG_REPORT_26 = 2333,
    MO_MSG_PICTURE = 2334,
    MO_MSG_AUDIO = 2335,
    MO_MSG_PICTURE_FLUSH = 2336,
    MO_MSG_AUDIO_FLUSH = 2337,
    MO_MSG_COUNTERS = 2338,
    MO_MSG_REPORT_27 = 2339,
};

enum {
    MO_ID_SIZE = 13,   /* camera id field: 12 characters and a NUL */
    MO_USER_SIZE = 13, /* user and password fields */
    MO_NAME_SIZE = 21, /* camera name and short texts */
    MO_LONG_TEXT_SIZE = 41,
    MO_USER_COUNT = 8,
    MO_PARAMS_WIRE_SIZE = 2410, /* the packed content of management request 6 */
    MO_MAX_BUFFERED_FRAMES = 256,
    MO_MAX_FIRMWARE_BYTES = 16 * 1024 * 1024,
    MO_VOLUME_MAX = 0xFFFF,
};

/* One answering camera (68 bytes). */
typedef struct MO_SEARCH_RECORD {
    char id[MO_ID_SIZE];     /* 0 */
    char name[MO_NAME_SIZE]; /* 13 */
    uint32_t ip;             /* 36, network order */
    uint32_t mask;           /* 40 */
    uint32_t gateway;        /* 44 */
    uint32_t dns;            /* 48 */
    uint16_t httpPort;       /* 52, network order: the port both sessions connect to */
    uint16_t padding;        /* 54, 0 */
    uint32_t reserved;       /* 56, 0: the answer's value without meaning is not kept */
    uint32_t sysVersion;     /* 60, system firmware version */
    uint32_t appVersion;     /* 64, application firmware version */
} MO_SEARCH_RECORD;

/* Argument of InitCamera (56 bytes). ip 0 selects DHCP: mask, gateway and DNS are then sent as
 * 0 whatever they hold. */
typedef struct MO_INIT_RECORD {
    char id[MO_ID_SIZE];
    char user[MO_USER_SIZE];
    char password[MO_USER_SIZE];
    char padding; /* to 40 */
    uint32_t ip;  /* network order, as the next three */
    uint32_t mask;
    uint32_t gateway;
    uint32_t dns;
} MO_INIT_RECORD;

typedef struct MO_USER {
    char name[MO_USER_SIZE]; /* empty: no user in this slot */
    char password[MO_USER_SIZE];
    uint8_t privilege; /* 0, 1 or 2 (2: administrator) */
} MO_USER;

/* The camera's parameters: the record of MO_MSG_PARAMS and the argument of SetCameraParams.
 * Fields are numbered as they are sent: fields 1-30 are packed, in this order and without the
 * gaps this struct has, into the 2410 bytes of request 6; the leading block is not sent. The
 * meaning of fields 31-56 is the camera's; SetCameraParams overwrites most of them (below).
 * Multi-byte values other than addresses and the port are in host order here and
 * little-endian on the wire. */
typedef struct MO_CAMERA_PARAMS {
    uint8_t leading[28];            /* not sent; 0 in records the library hands out */
    uint32_t ip;                    /* 1, network order, as 2-5 */
    uint32_t mask;                  /* 2 */
    uint32_t gateway;               /* 3 */
    uint32_t dns;                   /* 4 */
    uint16_t httpPort;              /* 5 */
    char alias[MO_NAME_SIZE];       /* 6, camera name */
    MO_USER users[MO_USER_COUNT];   /* 7-30 */
    uint8_t flag31;                 /* 31 */
    char text32[MO_NAME_SIZE];      /* 32 */
    uint8_t value33;                /* 33 */
    uint32_t value34;               /* 34 */
    uint16_t value35;               /* 35 */
    uint16_t value36;               /* 36 */
    uint16_t value37;               /* 37 */
    uint16_t value38;               /* 38 */
    uint8_t value39;                /* 39 */
    uint8_t value40;                /* 40 */
    char text41[MO_NAME_SIZE];      /* 41 */
    char text42[MO_NAME_SIZE];      /* 42 */
    char text43[MO_NAME_SIZE];      /* 43 */
    uint8_t value44;                /* 44 */
    char text45[MO_LONG_TEXT_SIZE]; /* 45 */
    char text46[MO_LONG_TEXT_SIZE]; /* 46 */
    char text47[MO_NAME_SIZE];      /* 47 */
    char text48[MO_NAME_SIZE];      /* 48 */
    char text49[MO_NAME_SIZE];      /* 49 */
    uint8_t value50;                /* 50 */
    char text51[MO_NAME_SIZE];      /* 51 */
    uint32_t value52;               /* 52 */
    uint8_t value53;                /* 53 */
    uint8_t value54;                /* 54 */
    uint8_t block55[1880];          /* 55 */
    uint8_t value56;                /* 56 */
} MO_CAMERA_PARAMS;

/* The camera's further network settings (92 bytes, sent and received exactly as laid out). */
typedef struct MO_NET2_PARAMS {
    uint32_t dns2;                         /* 0, second DNS server, network order; 0 for none */
    uint8_t dhcp;                          /* 4, 1: the camera takes its address by DHCP */
    uint8_t upnp;                          /* 5, 1: the camera maps its port on the router */
    uint8_t pppoe;                         /* 6, 1: the camera dials PPPoE */
    uint8_t reserved;                      /* 7, 0 */
    char pppoeUser[MO_LONG_TEXT_SIZE];     /* 8 */
    char pppoePassword[MO_LONG_TEXT_SIZE]; /* 49 */
    uint8_t padding[2];                    /* 90, 0 */
} MO_NET2_PARAMS;

/* A JPEG picture as JpegToRGB takes it. */
typedef struct MO_PICTURE {
    uint32_t length;
    const uint8_t* data;
} MO_PICTURE;

/* Record of MO_MSG_PICTURE, MO_MSG_AUDIO and the two flush messages. It starts with an
 * MO_PICTURE, so (MO_PICTURE*)frame, or &frame->picture, goes straight to JpegToRGB. The data
 * lives in the same heap block: one FreeMemory(frame) frees both. */
typedef struct MO_FRAME {
    MO_PICTURE picture;  /* the JPEG or audio bytes */
    uint32_t timeStamp;  /* 10 ms units */
    uint32_t frameTime;  /* picture: the camera's frame time; audio: its serial */
    uint32_t gatherTime; /* audio: the camera's gather time; picture: 0 */
    uint8_t format;      /* audio: format byte (0 = 16-bit PCM, 8 kHz, mono); picture: 0 */
    uint8_t isAudio;     /* 1 for an audio block */
    uint8_t padding[2];
} MO_FRAME;

/* Record of MO_MSG_COUNTERS: what the video channel received in the last second. */
typedef struct MO_TRANSFER_COUNTERS {
    uint32_t videoBytes;
    uint32_t audioBytes;
    uint32_t pictures;
    uint32_t audioBlocks;
} MO_TRANSFER_COUNTERS;

/* Starts a LAN search: one search or set-up at a time (else MO_ERR_BUSY). Time-outs below
 * 1000 ms count as 1000. */
MOLTREX_API int16_t SearchCamera(MO_WINDOW window, MO_THREAD thread, MO_CALLBACK callback,
                                 uint32_t timeoutMs);
/* Sends a network set-up to the camera named in the record. Time-outs below 3000 ms count as
 * 3000. MO_ERR_PARAM when a non-zero address is not a unicast address (1.0.0.0 to
 * 223.255.255.255), the mask not one run of ones from the top bit covering at least three bits,
 * the address the network address under the mask, the gateway in another network, or the DNS
 * server not a unicast address. The record is copied. */
MOLTREX_API int16_t InitCamera(const MO_INIT_RECORD* record, MO_WINDOW window, MO_THREAD thread,
                               MO_CALLBACK callback, uint32_t timeoutMs);

/* ip and port in host order; neither may be 0. */
MOLTREX_API int16_t MgrConnect(const char* id, const char* user, const char* password, uint32_t ip,
                               uint16_t port, MO_WINDOW window, MO_THREAD thread,
                               MO_CALLBACK callback);
MOLTREX_API int16_t MgrDisconnect(const char* id);
MOLTREX_API int16_t GetCameraParams(const char* id);
/* Checks and normalises a copy of the record, then queues it (the caller's record is not
 * touched). MO_ERR_PARAM unless: a non-zero address passes InitCamera's address rules (with the
 * DNS server in the unicast range), the HTTP port is not 10000, every privilege is 0, 1 or 2 and
 * at least one user with a name has privilege 2. An address of 0 sends mask, gateway and DNS as
 * 0. Sent as: fields 31, 34, 35, 36, 40, 50, 53, 54, 56 set to 0; 32, 41-43 and 51 emptied;
 * 37 and 38 set to 100; 52 set to 13; field 55 zeroed; all others as given. */
MOLTREX_API int16_t SetCameraParams(const char* id, const MO_CAMERA_PARAMS* params);
MOLTREX_API int16_t GetTime(const char* id);
MOLTREX_API int16_t SetTime(const char* id, uint32_t secondsSince1970, int32_t zoneSecondsEast);
/* The path is copied; the file is read when the session runs the request. */
MOLTREX_API int16_t UpgradeSysWare(const char* id, const char* path);
MOLTREX_API int16_t UpgradeAppWare(const char* id, const char* path);
MOLTREX_API int16_t Reboot(const char* id);
MOLTREX_API int16_t SetDefaultConfig(const char* id);
MOLTREX_API int16_t GetNet2Params(const char* id);
/* MO_ERR_PARAM when a flag is not 0 or 1 or a text has no NUL within its field. Copied. */
MOLTREX_API int16_t SetNet2Params(const char* id, const MO_NET2_PARAMS* params);
MOLTREX_API int16_t GetDDNSStatus(const char* id);
MOLTREX_API int16_t RestartDynDns(const char* id);

MOLTREX_API int16_t MonitorConnect(const char* id, const char* user, const char* password,
                                   uint32_t ip, uint16_t port, MO_WINDOW window, MO_THREAD thread,
                                   MO_CALLBACK callback);
MOLTREX_API int16_t MonitorDisconnect(const char* id);
MOLTREX_API int16_t PlayVideo(const char* id);
MOLTREX_API int16_t StopVideo(const char* id);
MOLTREX_API int16_t PlayAudio(const char* id);
MOLTREX_API int16_t StopAudio(const char* id);
MOLTREX_API int16_t SetMaxVideoRate(const char* id, uint32_t rate);
MOLTREX_API int16_t SensorControl(const char* id, uint32_t value1, uint32_t value2);
MOLTREX_API int16_t DecoderControl(const char* id, uint32_t value);
MOLTREX_API int16_t SetSoundOn(const char* id);
MOLTREX_API int16_t SetSoundOff(const char* id);
/* The sound output's volume, 0 to MO_VOLUME_MAX (the default). */
MOLTREX_API uint32_t GetVolume(void);
/* MO_ERR_PARAM above MO_VOLUME_MAX. */
MOLTREX_API int16_t SetVolume(uint32_t volume);

/* Decodes a baseline JPEG into 24-bit pixels in R, G, B byte order, width x height x 3 bytes in
 * a new buffer (free it with FreeMemory). bottomUp 0: the top row first; non-zero: the bottom
 * row first, as a bottom-up bitmap. *bitsPerPixel is 24. Returns 1, or 0 (outputs untouched)
 * for a null or empty picture, a null output pointer, a decoding failure, or a picture larger
 * than 8192 x 8192. */
MOLTREX_API int JpegToRGB(const MO_PICTURE* picture, uint8_t** rgb, int* width, int* height,
                          int* bitsPerPixel, int bottomUp);

/* Frees a record or buffer handed out by the library. Null, and pointers the library did not
 * hand out or already freed, are ignored. */
MOLTREX_API void FreeMemory(void* pointer);

#ifdef __cplusplus
}
#endif
