#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace camsim {

// One camera as it describes itself in a search reply.
struct SearchCamera {
    std::string mac = "00CA5E000001"; // up to 12 characters
    std::string name = "camsim";      // up to 20 bytes
    std::string address = "10.0.0.2"; // dotted IPv4
    std::string extra1 = "255.255.255.0";
    std::string extra2 = "10.0.0.1";
    std::string uid; // sent with flag 2 only; up to 40 characters
    uint16_t mediaPort = 8800;
    uint16_t webPort = 8880;
    uint8_t flag = 1; // 0 MJPEG, 1 H.264, 2 H.264 with identifier ("MO_I" replies only)
};

enum class SearchReplyFormat {
    Moi,    // "MO_I" packet, opcode 1, camera fields in its content
    Record, // packet starting with the int32 0x4D709AB4: four strings and eight int32
};

struct SearchResponderConfig {
    std::string listenAddress = "0.0.0.0"; // must be a wildcard to hear broadcasts
    uint16_t port = 10000;                 // 0 picks a free one
    SearchReplyFormat format = SearchReplyFormat::Moi;
    std::vector<SearchCamera> cameras{SearchCamera{}};
    size_t parts = 1;   // each reply (or batch) is cut into at least this many datagrams
    bool batch = false; // all replies to one request in one stream, several per datagram
    // Called from the responder's thread with one line per request heard.
    std::function<void(const std::string&)> eventSink;
};

// The search side of cameras: answers every "MO_I" search request (opcode 0) with one reply per
// camera, sent back to the asking address. Datagrams never pass 200 bytes, the most a searcher
// reads at once; longer replies are cut into several.
class SearchResponder {
public:
    static constexpr size_t kMaxDatagram = 200;

    SearchResponder() = default;
    SearchResponder(const SearchResponder&) = delete;
    SearchResponder& operator=(const SearchResponder&) = delete;
    ~SearchResponder() { stop(); }

    // Binds the socket and starts answering; the bound port, or nullopt (see lastError()).
    std::optional<uint16_t> start(const SearchResponderConfig& config);
    // Ends the thread within about 100 ms.
    void stop();
    uint64_t requestsAnswered() const { return m_answered.load(); }
    const std::string& lastError() const { return m_error; }

    // The bytes of one reply, as sent before any cutting into datagrams.
    static std::vector<uint8_t> encodeReply(SearchReplyFormat format, const SearchCamera& camera);
    // The datagrams that answer one request.
    static std::vector<std::vector<uint8_t>> replyDatagrams(const SearchResponderConfig& config);

private:
    void serve();

    SearchResponderConfig m_config;
    int m_socket = -1;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<uint64_t> m_answered{0};
    std::string m_error;
};

} // namespace camsim
