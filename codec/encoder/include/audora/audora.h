#pragma once

// libaudora: encodes the operator's voice for a camera's talk channel. One encoder object holds
// one registered coder at a time. Every call on one handle is serialised; different handles
// encode in parallel. Never release a handle while another thread is still calling with it.

#if defined(_WIN32)
#define AUDORA_EXPORT __declspec(dllexport)
#define AUDORA_CALL __stdcall
#else
#define AUDORA_EXPORT __attribute__((visibility("default")))
#define AUDORA_CALL
#endif

#ifdef __cplusplus
#define AUDORA_API extern "C" AUDORA_EXPORT
#else
#define AUDORA_API AUDORA_EXPORT
#endif

// Registration types. PCM input is always 16-bit native-endian mono at 8 kHz.
enum {
    ZQ_ENCODE_ADPCM = 257, // IMA ADPCM, two samples per byte, high nibble first; state carries on
    ZQ_ENCODE_G726 = 258,  // G.726 at 16 kbit/s: 960 bytes of PCM into one 120-byte block
    ZQ_ENCODE_VOICE = 259, // voice codec: 960 bytes of PCM into one 124-byte frame
};

// The largest PCM input of one ZQ_GetAUData call, in bytes.
#define ZQ_ENCODE_MAX_INPUT 65536

typedef struct ZQEncoder* ZQ_ENCODER;

// Null when out of memory.
AUDORA_API ZQ_ENCODER AUDORA_CALL ZQ_Create_Encoder(void);
// Frees the object and its buffers. Null is ignored.
AUDORA_API void AUDORA_CALL ZQ_Release_Encoder(ZQ_ENCODER encoder);
// Selects the coder and starts it from its initial state, replacing any earlier registration
// (registering the same type again restarts it). Non-zero on success; 0 for a null handle, an
// unknown type (the earlier registration then stays) or a coder that cannot start (the encoder is
// then left without one).
AUDORA_API int AUDORA_CALL ZQ_Register_Encoder(ZQ_ENCODER encoder, int type);
// Any of the three types drops the registered coder and frees its output buffer; other values
// do nothing.
AUDORA_API void AUDORA_CALL ZQ_UnRegister_Encoder(ZQ_ENCODER encoder, int type);
// Encodes `length` bytes of PCM. Returns the encoded bytes, owned by the encoder and valid until
// the next call on the same handle, and their count in *outLength. Null (and *outLength 0, when
// outLength is not null) for a null handle or pcm, no registered coder, a length that is not a
// positive even number, more than ZQ_ENCODE_MAX_INPUT bytes, or a length other than 960 for
// G.726 and the voice codec. IMA ADPCM yields (samples + 1) / 2 bytes: 160 for 640 bytes of PCM.
AUDORA_API unsigned char* AUDORA_CALL ZQ_GetAUData(ZQ_ENCODER encoder, const short* pcm, int length,
                                                   int* outLength);
