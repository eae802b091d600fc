#pragma once

// Symbols of libzqnet.so that callers may use. Everything else stays hidden.
#if defined(_WIN32)
#define ZQ_EXPORT __declspec(dllexport)
#define ZQ_CALL __stdcall
#else
#define ZQ_EXPORT __attribute__((visibility("default")))
#define ZQ_CALL
#endif

#ifdef __cplusplus
#define ZQ_API extern "C" ZQ_EXPORT
#else
#define ZQ_API ZQ_EXPORT
#endif
