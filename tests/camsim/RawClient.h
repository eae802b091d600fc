#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace camtest {

struct RxPacket {
    int32_t command = 0;
    std::vector<uint8_t> payload;
    int32_t word(size_t index) const; // little-endian int32 at payload offset 4 × index
};

// Where a RawClient's bytes travel: a loopback TCP connection or one peer-to-peer channel.
class ByteLink {
public:
    virtual ~ByteLink() = default;
    virtual bool send(const uint8_t* data, size_t length) = 0;
    // Bytes read (> 0), 0 when none came within `waitMs`, -1 once the camera has closed.
    virtual int receive(uint8_t* buffer, size_t size, unsigned waitMs) = 0;
};

// A deliberately plain client of the camera protocol, written from the packet description alone
// so it checks the simulator rather than sharing its code.
class RawClient {
public:
    RawClient() = default;
    ~RawClient();
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    // Loopback TCP to `port`.
    bool connect(uint16_t port);
    // Any other transport; replaces the current one.
    void attach(std::unique_ptr<ByteLink> link);
    void close();
    bool sendBytes(const void* data, size_t length);
    bool sendPacket(int32_t command, const std::vector<uint8_t>& payload);
    // The next whole packet within `timeoutMs`. Bytes before a header without the magic are
    // skipped one at a time (counted in skipped()).
    std::optional<RxPacket> readPacket(unsigned timeoutMs);
    // The next packet with `command`, dropping others, within `timeoutMs`.
    std::optional<RxPacket> readUntil(int32_t command, unsigned timeoutMs);
    // True when the camera closes the connection within `timeoutMs`.
    bool waitClosed(unsigned timeoutMs);
    size_t skipped() const { return m_skipped; }
    size_t reads() const { return m_reads; }

private:
    bool fill(unsigned waitMs); // false on EOF or error

    std::unique_ptr<ByteLink> m_link;
    bool m_eof = false;
    std::vector<uint8_t> m_buffer;
    size_t m_skipped = 0;
    size_t m_reads = 0;
};

std::vector<uint8_t> controlLoginPayload(const std::string& user, const std::string& password,
                                         int32_t id);
std::vector<uint8_t> liveLoginPayload(uint8_t streamType, const std::string& user,
                                      const std::string& password, int32_t id);
std::vector<uint8_t> playbackLoginPayload(int32_t kind, const std::string& file,
                                          const std::string& user, const std::string& password,
                                          int32_t id);
std::vector<uint8_t> wordsPayload(std::initializer_list<int32_t> words);

struct HttpReply {
    int status = 0;
    std::string headers;
    std::string body;
};
// One GET over a fresh connection, read until the camera closes. Status 0 on failure.
HttpReply httpGet(uint16_t port, const std::string& target, unsigned timeoutMs = 3000);

// The text of <name>...</name> in an XML answer, or nullopt.
std::optional<std::string> xmlValue(const std::string& xml, const std::string& name);

} // namespace camtest
