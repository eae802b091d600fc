#pragma once

#include <string>

namespace camsim {

class CameraCore;
class Channel;

// Serves one HTTP connection of the camera's web port (or of the media port in one-port mode):
// one GET request, one answer, then the connection closes ("Connection: close").
//   /cgi-bin/CGIProxy.fcgi?usr=..&pwd=..&cmd=..[&name=value...]  → the CGI model's XML answer
//   /snapPic/<name>.jpg                                            → a snapshot taken earlier
// Requests are bounded (kMaxRequestBytes for the request head, read within kRequestTimeoutMs).
class HttpServer {
public:
    static constexpr size_t kMaxRequestBytes = 8192;
    static constexpr unsigned kRequestTimeoutMs = 5000;

    explicit HttpServer(CameraCore& core) : m_core(core) {}

    // Bytes already in the channel's pending buffer are the start of the request.
    void serve(Channel& channel);

private:
    void answer(Channel& channel, int status, const char* contentType, const std::string& body);

    CameraCore& m_core;
};

} // namespace camsim
