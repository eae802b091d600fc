#pragma once

// Flat interface of the HTTP client (class CHttpParser in zqnet/CHttpParser.h).
//
// Every call takes the parser first and is safe on a null parser (result 12 or null). No call
// throws. Result codes: 6 POST file unreadable, 7 bad method, 10 time-out, 11 body read until the
// peer closed (complete), 12 address/socket/protocol failure, 13 cancelled by zq_httpUserQuit,
// 15 success. Buffers returned belong to the parser and stay valid until the next call that
// replaces or frees them on the same parser.

#include "zqnet/zqexport.h"

#ifdef __cplusplus
class CHttpParser;
#else
typedef struct CHttpParser CHttpParser;
#endif

// A new parser with empty buffers and no socket; null when out of memory.
ZQ_API CHttpParser* ZQ_CALL zq_create_HttpParser(void);
// Frees the buffers, closes the socket and deletes the parser.
ZQ_API void ZQ_CALL zq_close_HttpParser(CHttpParser* parser);
ZQ_API int ZQ_CALL zq_create_HttpSocket(CHttpParser* parser);
ZQ_API void ZQ_CALL zq_closeHttpSocket(CHttpParser* parser);
// Builds the request; returns the request text or null (see zq_GetLastError). For "POST", `file`
// names the local file uploaded as multipart form data. `auth` is "user:password" for Basic
// authentication, or null.
ZQ_API char* ZQ_CALL zq_set_httpRequest(CHttpParser* parser, const char* url, const char* method,
                                        const char* host, const char* file, const char* auth);
ZQ_API int ZQ_CALL zq_httpConnect(CHttpParser* parser, const char* host, short port);
ZQ_API int ZQ_CALL zq_httpRequest(CHttpParser* parser);
// May be called from any thread: the call in progress on `parser` ends with 13.
ZQ_API void ZQ_CALL zq_httpUserQuit(CHttpParser* parser);
// Waits at most `rounds` idle rounds of about 20 ms for the answer.
ZQ_API int ZQ_CALL zq_httpResponse(CHttpParser* parser, int rounds);
// The answer body, NUL-terminated; non-null only after a response call returned 15 or 11.
ZQ_API char* ZQ_CALL zq_GetContentData(CHttpParser* parser);
ZQ_API void ZQ_CALL zq_freeContentData(CHttpParser* parser);
ZQ_API int ZQ_CALL zq_GetContentLength(CHttpParser* parser);
ZQ_API char* ZQ_CALL zq_GetSendData(CHttpParser* parser);
ZQ_API int ZQ_CALL zq_GetSendDataLength(CHttpParser* parser);
ZQ_API void ZQ_CALL zq_freeSendData(CHttpParser* parser);
// Replaces the request with n + 1 zeroed bytes for the caller to fill; null when n is out of range.
ZQ_API char* ZQ_CALL zq_mallocSendData(CHttpParser* parser, int n);
ZQ_API int ZQ_CALL zq_GetLastError(CHttpParser* parser);
