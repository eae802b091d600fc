#include "zqnet/zqhttp.h"

#include "zqnet/CHttpParser.h"

#include <new>

namespace {

// Runs `call` on a live parser; a null parser or any exception gives `onFailure`.
template <typename Result, typename Call>
Result guarded(CHttpParser* parser, Result onFailure, Call&& call) noexcept {
    if (!parser)
        return onFailure;
    try {
        return call(*parser);
    } catch (...) {
        return onFailure;
    }
}

template <typename Call> void guardedVoid(CHttpParser* parser, Call&& call) noexcept {
    if (!parser)
        return;
    try {
        call(*parser);
    } catch (...) {
    }
}

} // namespace

ZQ_API CHttpParser* ZQ_CALL zq_create_HttpParser(void) {
    return new (std::nothrow) CHttpParser();
}

ZQ_API void ZQ_CALL zq_close_HttpParser(CHttpParser* parser) {
    delete parser; // the destructor closes the socket and frees both buffers; it does not throw
}

ZQ_API int ZQ_CALL zq_create_HttpSocket(CHttpParser* parser) {
    return guarded(parser, kHttpSocketError, [](CHttpParser& p) { return p.createHttpSocket(); });
}

ZQ_API void ZQ_CALL zq_closeHttpSocket(CHttpParser* parser) {
    guardedVoid(parser, [](CHttpParser& p) { p.closeHttpSocket(); });
}

ZQ_API char* ZQ_CALL zq_set_httpRequest(CHttpParser* parser, const char* url, const char* method,
                                        const char* host, const char* file, const char* auth) {
    return guarded(parser, static_cast<char*>(nullptr),
                   [&](CHttpParser& p) { return p.setRequest(url, method, host, file, auth); });
}

ZQ_API int ZQ_CALL zq_httpConnect(CHttpParser* parser, const char* host, short port) {
    return guarded(parser, kHttpSocketError,
                   [&](CHttpParser& p) { return p.httpConnect(host, port); });
}

ZQ_API int ZQ_CALL zq_httpRequest(CHttpParser* parser) {
    return guarded(parser, kHttpSocketError, [](CHttpParser& p) { return p.httpRequest(); });
}

ZQ_API void ZQ_CALL zq_httpUserQuit(CHttpParser* parser) {
    guardedVoid(parser, [](CHttpParser& p) { p.userQuit(); });
}

ZQ_API int ZQ_CALL zq_httpResponse(CHttpParser* parser, int rounds) {
    return guarded(parser, kHttpSocketError,
                   [&](CHttpParser& p) { return p.httpResponse(rounds); });
}

ZQ_API char* ZQ_CALL zq_GetContentData(CHttpParser* parser) {
    return guarded(parser, static_cast<char*>(nullptr),
                   [](CHttpParser& p) { return p.GetContentData(); });
}

ZQ_API void ZQ_CALL zq_freeContentData(CHttpParser* parser) {
    guardedVoid(parser, [](CHttpParser& p) { p.freeContentData(); });
}

ZQ_API int ZQ_CALL zq_GetContentLength(CHttpParser* parser) {
    return guarded(parser, 0, [](CHttpParser& p) { return p.GetContentLength(); });
}

ZQ_API char* ZQ_CALL zq_GetSendData(CHttpParser* parser) {
    return guarded(parser, static_cast<char*>(nullptr),
                   [](CHttpParser& p) { return p.GetSendData(); });
}

ZQ_API int ZQ_CALL zq_GetSendDataLength(CHttpParser* parser) {
    return guarded(parser, 0, [](CHttpParser& p) { return p.GetSendDataLength(); });
}

ZQ_API void ZQ_CALL zq_freeSendData(CHttpParser* parser) {
    guardedVoid(parser, [](CHttpParser& p) { p.freeSendData(); });
}

ZQ_API char* ZQ_CALL zq_mallocSendData(CHttpParser* parser, int n) {
    return guarded(parser, static_cast<char*>(nullptr),
                   [n](CHttpParser& p) { return p.mallocSendData(n); });
}

ZQ_API int ZQ_CALL zq_GetLastError(CHttpParser* parser) {
    return guarded(parser, kHttpSocketError, [](CHttpParser& p) { return p.GetLastError(); });
}
