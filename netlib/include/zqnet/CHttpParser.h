#pragma once

// A small blocking-style HTTP/1.1 client for camera CGI requests and configuration uploads.
//
// One request at a time per object, driven by one owner thread in this order:
//   createHttpSocket → setRequest → httpConnect → httpRequest → httpResponse
//   → GetContentData/GetContentLength → closeHttpSocket.
// Every step returns one of the codes below and stores it for GetLastError. Each wait is made of
// 10 ms rounds; every round looks at the quit flag, so userQuit (the only call that may come from
// another thread) ends a step within about 20 ms with kHttpCancelled.
//
// Buffers: sendData and contentData are owned by the object (malloc'd, always NUL-terminated)
// and stay valid until the next call that replaces or frees them.

#include "zqnet/zqexport.h"

#include <atomic>
#include <cstdint>
#include <string>

// Result codes, returned by the steps and kept in lastError.
inline constexpr int kHttpNoFile = 6;       // POST whose file cannot be read
inline constexpr int kHttpBadMethod = 7;    // method neither GET nor POST
inline constexpr int kHttpTimeout = 10;     // the peer did not answer within the rounds allowed
inline constexpr int kHttpPeerClosed = 11;  // close-delimited body complete (body kept)
inline constexpr int kHttpSocketError = 12; // address, socket, protocol or size failure
inline constexpr int kHttpCancelled = 13;   // userQuit was called
inline constexpr int kHttpSuccess = 15;

// Largest response body (and upload file) accepted. Camera answers are XML of a few KiB and
// snapshots well under a MiB; anything announcing more is broken or hostile, and is refused
// before memory is allocated for it.
inline constexpr int kHttpMaxBodyBytes = 64 * 1024 * 1024;

// The response header must end within this many bytes.
inline constexpr int kHttpHeaderArea = 1000;

struct HttpParserAccess;

class ZQ_EXPORT CHttpParser {
public:
    CHttpParser();
    // Copies are deep: the copy owns its own sendData, contentData and header text. It never
    // shares the socket: a copy starts with no socket (call createHttpSocket) and a clear quit
    // flag, so closing one object can never close the other's connection.
    CHttpParser(const CHttpParser& other);
    CHttpParser& operator=(const CHttpParser& other);
    ~CHttpParser();

    // Builds the request text into sendData and returns it; null on failure with lastError 6
    // (POST file unreadable), 7 (bad method) or 12 (no url, a line break in url or host, file
    // above kHttpMaxBodyBytes). A failed call also frees the previous request, so a following
    // httpRequest sends nothing. The method is matched in any case and sent in capitals.
    // GET: request line, "Host" (when host is non-empty), "Accept:*/*", "Connection: Close",
    // "Authorization: Basic <base64(auth)>" (when auth is non-empty), blank line.
    // POST: request line, "Host", then a multipart/form-data body carrying the file as
    // "configs.bin", under the boundary "----ipcamera" (or a numbered variant of it when the
    // file happens to contain that text).
    char* setRequest(const char* url, const char* method, const char* host, const char* file,
                     const char* auth);

    // Opens a non-blocking TCP socket (closing any previous one) and clears the quit flag.
    // Returns 15, or 12 when no socket could be made.
    int createHttpSocket();
    // Connects to an IPv4 address or host name. 15 connected; 12 bad address, no socket or
    // refused; 10 after about 3 s without an answer (socket closed); 13 on quit.
    int httpConnect(const char* host, short port);
    // Sends sendData. 15 all sent; 10 after 300 rounds unable to send; 11 peer gone; 12 no
    // request or socket error (socket closed); 13 on quit.
    int httpRequest();
    // Reads the answer, waiting at most `rounds` consecutive idle rounds of about 20 ms.
    // 15: body complete as announced by Content-Length (an empty, non-null body for 0);
    // 11: body without Content-Length, read until the peer closed it.
    // 10 time-out, 12 malformed/oversized header or length, truncated or oversized body,
    // receive error; 13 quit (socket closed). contentData is non-null exactly on 15 and 11.
    int httpResponse(int rounds);
    void closeHttpSocket();
    // Thread-safe: asks the step in progress (or the next one) to stop with 13.
    void userQuit();

    char* GetContentData();
    int GetContentLength();
    void freeContentData();
    char* GetSendData();
    int GetSendDataLength();
    // Replaces sendData with n + 1 zeroed bytes for a caller-built request; sendDataLength = n.
    // Null (lastError 12) when n is negative or above kHttpMaxBodyBytes.
    char* mallocSendData(int n);
    void freeSendData();
    int GetLastError();

private:
    friend struct HttpParserAccess; // lets tests and fuzzing hand in a connected socket

    // Transfer-Encoding: chunked is not decoded; such a body is read until close, framing and all.
    void parseChunkedType();
    // 12 when a "Connection:" header line is malformed, else 15.
    int parseConnectionType();
    // Content-Length value: -1 when absent, -2 when present but not a number within
    // 0..kHttpMaxBodyBytes.
    long long parseConetentLength();

    std::atomic<int> lastError;
    char* sendData;
    int sendDataLength;
    std::string header; // response header text, through the blank line
    char* contentData;
    int contentLength;
    std::atomic<bool> quit;
    int sock;
    int waitMs; // one wait round
};
