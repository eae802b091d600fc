#pragma once

// Peer-to-peer sessions through a relay, with reliable ordered channels (RDT) inside a session.
//
// Cameras register their UID with the relay; a client connects to a camera by UID alone. One
// session carries up to kIotcMaxChannels independent channels, each a reliable ordered byte
// stream. Both ends create a channel with RDT_Create; data written before the peer has created
// its side waits in the peer's session until it does.
//
// All calls are thread-safe. Every wait is bounded, and a session closed from another thread
// wakes every call waiting on it. Session and channel ids are never reused within a process,
// so a stale id is answered with an error instead of reaching someone else's session.

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define IOTC_API __attribute__((visibility("default")))

enum {
    kIotcMaxChannels = 32,
    kIotcMaxUidLength = 64,      // UIDs are printable ASCII without spaces, 1-64 characters
    kIotcDefaultRelayPort = 32761,
};

// Results. Zero or positive is success (an id or a byte count).
enum {
    IOTC_ER_NOT_INITIALIZED = -12,
    IOTC_ER_INVALID_SID = -14,
    IOTC_ER_RELAY_UNREACHABLE = -20, // no relay answered
    IOTC_ER_DEVICE_OFFLINE = -90,    // the relay knows no camera by that UID
    IOTC_ER_INVALID_ARG = -46,
    IOTC_ER_TIMEOUT = -13,
    IOTC_ER_CONNECT_STOPPED = -27,   // IOTC_Connect_Stop, or the caller's cancel check
    IOTC_ER_SESSION_CLOSED = -22,    // the peer or the relay ended the session
    IOTC_ER_UID_IN_USE = -42,        // another camera holds the UID at the relay
    IOTC_ER_TOO_MANY = -48,

    RDT_ER_NOT_INITIALIZED = -10000,
    RDT_ER_INVALID_ID = -10008,
    RDT_ER_TIMEOUT = -10007,          // RDT_Read or RDT_Create: nothing within the wait
    RDT_ER_REMOTE_NOT_READY = -10009, // RDT_Read: the peer has not created its side yet
    RDT_ER_REMOTE_EXIT = -10010,      // the peer destroyed the channel; what it sent is read first
    RDT_ER_SESSION_CLOSED = -10011,
    RDT_ER_INVALID_ARG = -10012,
    RDT_ER_SEND_QUEUE_FULL = -10013,  // kRdtMaxSendQueue bytes already wait to be sent
    RDT_ER_CHANNEL_IN_USE = -10014,
};

enum {
    kRdtMaxWrite = 1 << 20,          // one RDT_Write
    kRdtMaxSendQueue = 8 << 20,      // bytes waiting to be sent, per channel
};

// --- Process setup -----------------------------------------------------------------------------

// Relays are given as "host", "host:port" or "ip:port" (port kIotcDefaultRelayPort when left
// out); null or empty entries are skipped. Addresses are tried first, then host names, in the
// order given. `udpPort` is accepted for compatibility and unused. Initialising again replaces
// the relay list. Returns 0.
IOTC_API int IOTC_Initialize(unsigned short udpPort, const char* relayAddress1,
                             const char* relayAddress2, const char* relayHost1,
                             const char* relayHost2);
// Closes every session and device registration. Returns 0.
IOTC_API int IOTC_DeInitialize(void);

// --- Client side -------------------------------------------------------------------------------

// Connects to the camera registered under `uid`. Returns a session id (>= 0) or an IOTC_ER_*
// value. Takes at most about 5 s per relay.
IOTC_API int IOTC_Connect_ByUID(const char* uid);
// The same, giving up (IOTC_ER_CONNECT_STOPPED) within about 20 ms of `cancelled(context)`
// returning non-zero. `cancelled` may be null.
typedef int (*IotcCancelCheck)(void* context);
IOTC_API int IOTC_Connect_ByUID_Ex(const char* uid, IotcCancelCheck cancelled, void* context);
// Makes every IOTC_Connect_ByUID in progress return IOTC_ER_CONNECT_STOPPED.
IOTC_API void IOTC_Connect_Stop(void);
// Ends a session from either side: its channels are destroyed, the peer sees the session closed,
// and calls waiting on it return. Safe with an unknown or already closed id.
// What was written and not yet sent gets about a second to go out first, so the call itself may
// take that long when the peer has stopped reading.
IOTC_API void IOTC_Session_Close(int sid);

// --- Camera side -------------------------------------------------------------------------------

// Registers `uid` with the first relay that accepts it and keeps the registration. Returns a
// device id (>= 0) or an IOTC_ER_* value.
IOTC_API int IOTC_Device_Login(const char* uid);
// Waits up to `timeoutMs` for a client to connect. Returns a session id, IOTC_ER_TIMEOUT, or
// IOTC_ER_SESSION_CLOSED when the registration was lost (log in again).
// Also IOTC_ER_SESSION_CLOSED when IOTC_Device_Logout ends the wait, and IOTC_ER_INVALID_ARG for
// a device id that is unknown or logged out.
IOTC_API int IOTC_Listen(int deviceId, unsigned timeoutMs);
// Ends the registration; sessions already made stay open. Wakes a waiting IOTC_Listen.
IOTC_API void IOTC_Device_Logout(int deviceId);

// --- Reliable channels ---------------------------------------------------------------------------

// Until RDT_Initialize (and after RDT_DeInitialize) the RDT_* calls return RDT_ER_NOT_INITIALIZED.
// RDT_DeInitialize destroys every channel. Both return 0.
IOTC_API int RDT_Initialize(void);
IOTC_API int RDT_DeInitialize(void);

// Opens channel `channel` (0..kIotcMaxChannels-1) of a session and waits up to `timeoutMs` for
// the peer to open its side. Returns a channel id (>= 0), RDT_ER_TIMEOUT (the local side stays
// unopened), RDT_ER_CHANNEL_IN_USE, or an error.
// After a timeout the peer may still create its side (its RDT_Read then answers
// RDT_ER_REMOTE_NOT_READY) and write; those bytes wait for the next RDT_Create of this channel.
// An unknown or closed session gives RDT_ER_INVALID_ID.
IOTC_API int RDT_Create(int sid, int timeoutMs, unsigned char channel);
// Closes the local side; the peer reads what was already sent, then RDT_ER_REMOTE_EXIT.
IOTC_API int RDT_Destroy(int rdtId);

// Queues `length` bytes (at most kRdtMaxWrite) whole and returns `length`, or an error. Never
// waits for the network.
IOTC_API int RDT_Write(int rdtId, const char* data, int length);
// Waits up to `timeoutMs` for bytes and returns how many were copied (at most `size`),
// RDT_ER_TIMEOUT when none came, RDT_ER_REMOTE_NOT_READY while the peer's side is not open,
// RDT_ER_REMOTE_EXIT or RDT_ER_SESSION_CLOSED once everything sent has been read.
IOTC_API int RDT_Read(int rdtId, char* buffer, int size, int timeoutMs);

typedef struct RdtStatus {
    uint32_t receiveQueued; // bytes received and not yet read
    uint32_t sendQueued;    // bytes written and not yet handed to the network
    uint32_t peerOpen;      // 1 once the peer has created its side
    uint32_t reserved;
} RdtStatus;
IOTC_API int RDT_Status_Check(int rdtId, RdtStatus* status);

#ifdef __cplusplus
}
#endif
