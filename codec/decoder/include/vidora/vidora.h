#pragma once

// libvidora: turns a camera's media frames into pictures and sound. One decoder object serves one
// camera and holds one video and one audio decoder at a time, chosen by registration.
//
// Pictures are packed planar YUV 4:2:0 (I420): the Y plane, width x height bytes, then U and V,
// each (width+1)/2 x (height+1)/2 bytes, rows without padding. H.264 pictures keep the samples as
// coded (limited range); JPEG pictures keep JPEG's full range (0-255), 4:2:2 JPEGs being brought
// to 4:2:0. PCM is 16-bit little-endian, mono, 8 kHz. Returned buffers belong to the decoder and
// stay valid until the next call on the same handle. Every call on one handle is serialised;
// different handles decode in parallel.

#include <stdbool.h>
#include <stdint.h>

#if defined(_WIN32)
#define VIDORA_EXPORT __declspec(dllexport)
#define VIDORA_CALL __stdcall
#else
#define VIDORA_EXPORT __attribute__((visibility("default")))
#define VIDORA_CALL
#endif

#ifdef __cplusplus
#define VIDORA_API extern "C" VIDORA_EXPORT
#else
#define VIDORA_API VIDORA_EXPORT
#endif

// Registration types.
enum {
    ZQ_DECODE_ADPCM = 257, // IMA ADPCM, 4 bits per sample, high nibble first
    ZQ_DECODE_H264 = 258,  // H.264 Annex B access units
    ZQ_DECODE_MJPEG = 259, // one JPEG picture per frame
    ZQ_DECODE_G726 = 260,  // G.726 at 16 kbit/s in 120-byte blocks
    ZQ_DECODE_PCM = 261,   // 16-bit PCM, passed through
    ZQ_DECODE_VOICE = 262, // voice codec frames of 124 bytes
};

// Handed to the picture-size callback whenever pictures of a new size start coming out.
typedef struct PictureInfo {
    int32_t reserved[5]; // always 0
    int32_t width;
    int32_t height;
    int32_t size;           // bytes of one I420 picture
    unsigned char* picture; // the decoder's picture buffer
} PictureInfo;

// Runs on the thread that called ZQ_GetYUV420Data, before that call returns the first picture of
// the new size. `zero` is always 0; `info` is valid during the call only.
typedef void (*ZQ_PictureSizeCallback)(int zero, const PictureInfo* info, void* user);

typedef struct ZQDecoder* ZQ_DECODER;

// Null when out of memory.
VIDORA_API ZQ_DECODER VIDORA_CALL ZQ_Create_Decoder(void);
// Closes the codecs and frees every buffer of the object. Null is ignored.
VIDORA_API void VIDORA_CALL ZQ_Release_Decoder(ZQ_DECODER decoder);
// Selects the video (258, 259) or audio (257, 260-262) decoder; `callback` and `user` matter for
// video only. False for an unknown type, a null handle or a voice decoder that cannot start.
VIDORA_API bool VIDORA_CALL ZQ_Register_Decoder(ZQ_DECODER decoder, int type,
                                                ZQ_PictureSizeCallback callback, void* user);
// A video type drops the video decoder and its picture buffer; an audio type drops the audio
// decoder and its buffer. Other values do nothing.
VIDORA_API void VIDORA_CALL ZQ_UnRegister_Decoder(ZQ_DECODER decoder, int type);
// The next H.264 frame forgets the current stream: nothing comes out until the next sequence
// parameter set, which opens the codec afresh. Always true for a valid handle.
VIDORA_API bool VIDORA_CALL ZQ_Reset_Decoder(ZQ_DECODER decoder);
// The decoded picture, or null when none came out (no size known yet, the codec wants more data,
// not a picture of the registered kind, damaged data, bad arguments).
VIDORA_API unsigned char* VIDORA_CALL ZQ_GetYUV420Data(ZQ_DECODER decoder, const char* data,
                                                       int length);
// The decoded PCM and its size in bytes in *outLength, or null (and 0) when nothing came out.
VIDORA_API unsigned char* VIDORA_CALL ZQ_GetPCMData(ZQ_DECODER decoder, const char* data,
                                                    int length, int* outLength);
