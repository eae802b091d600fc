// LAN search and network set-up against the simulated camera, on loopback instead of the
// broadcast, and against scripted answers a camera should never send.

#include "RawCamera.h"
#include "SdkFixture.h"

#include "sys/MessageQueue.h"
#include "sys/Tick.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>

using namespace sdktest;

namespace {

class SearchTest : public SdkFixture {
protected:
    // Runs a search and waits for its final message; the records it brought.
    std::vector<MO_SEARCH_RECORD> search(uint32_t timeoutMs,
                                         intptr_t expectedEnd = MO_ERR_TIMEOUT) {
        EXPECT_EQ(SearchCamera(0, 0, Inbox::callback, timeoutMs), MO_OK);
        EXPECT_TRUE(inbox().waitUntil(
            [](const std::vector<Note>& notes) {
                for (const Note& note : notes) {
                    if (note.message == MO_MSG_SEARCH && !note.search)
                        return true;
                }
                return false;
            },
            30000));
        std::vector<MO_SEARCH_RECORD> records;
        for (const Note& note : inbox().of(MO_MSG_SEARCH)) {
            if (note.search)
                records.push_back(*note.search);
            else
                EXPECT_EQ(note.wParam, expectedEnd);
        }
        return records;
    }

    MO_INIT_RECORD setupRecord(const char* ip, const char* mask, const char* gateway,
                               const char* dns) {
        MO_INIT_RECORD record{};
        std::strcpy(record.id, kCameraId);
        std::strcpy(record.user, "admin");
        std::strcpy(record.password, "admin");
        inet_pton(AF_INET, ip, &record.ip);
        inet_pton(AF_INET, mask, &record.mask);
        inet_pton(AF_INET, gateway, &record.gateway);
        inet_pton(AF_INET, dns, &record.dns);
        return record;
    }

    // The status of a set-up, from its 2125.
    intptr_t setup(const MO_INIT_RECORD& record, uint32_t timeoutMs = 3000) {
        inbox().clear();
        EXPECT_EQ(InitCamera(&record, 0, 0, Inbox::callback, timeoutMs), MO_OK);
        const auto done = inbox().waitFor(MO_MSG_INIT, 15000);
        EXPECT_TRUE(done);
        return done ? done->wParam : INTPTR_MIN;
    }
};

TEST_F(SearchTest, FindsTheCameraAndEndsWithTheTimeOut) {
    startCamera();
    const auto records = search(1000);
    ASSERT_EQ(records.size(), 1u);
    const MO_SEARCH_RECORD& found = records[0];
    EXPECT_STREQ(found.id, kCameraId);
    EXPECT_STREQ(found.name, "camsim-sdk");
    EXPECT_EQ(ntohl(found.ip), kLoopback);
    EXPECT_EQ(ntohl(found.mask), 0xFF000000u);
    EXPECT_EQ(ntohs(found.httpPort), ports.port);
    EXPECT_EQ(found.sysVersion, 0x00020103u);
    EXPECT_EQ(found.appVersion, 0x00030207u);
    EXPECT_EQ(camera.stats().searches, 1u);
}

TEST_F(SearchTest, ScrambledAnswersAreRestoredAndAThreadTargetGetsThem) {
    camsim::SdkCameraConfig config;
    config.scramble = true;
    config.name = "scrambled-name";
    startCamera(config);
    sys::MessageQueue queue;
    ASSERT_EQ(SearchCamera(0, reinterpret_cast<MO_THREAD>(&queue), nullptr, 1000), MO_OK);
    // The search's end is the record-less message; nothing may follow it.
    while (drainQueue(queue, inbox(), MO_MSG_SEARCH, 5000) > 0 &&
           inbox().of(MO_MSG_SEARCH).back().search) {
    }
    EXPECT_FALSE(queue.take(100));
    const auto notes = inbox().of(MO_MSG_SEARCH);
    ASSERT_EQ(notes.size(), 2u);
    ASSERT_TRUE(notes[0].search);
    EXPECT_STREQ(notes[0].search->id, kCameraId);
    EXPECT_STREQ(notes[0].search->name, "scrambled-name");
    EXPECT_FALSE(notes[1].search);
    EXPECT_EQ(notes[1].wParam, MO_ERR_TIMEOUT);
}

TEST_F(SearchTest, ShortTimeOutWaitsOneSecondAndOnlyOneSearchOrSetupRunsAtATime) {
    startCamera();
    settings.searchPort = 9; // nothing answers there
    moltrex::setTuning(settings);
    const uint32_t start = sys::tickMs();
    ASSERT_EQ(SearchCamera(0, 0, Inbox::callback, 200), MO_OK);
    EXPECT_EQ(SearchCamera(0, 0, Inbox::callback, 1000), MO_ERR_BUSY);
    const MO_INIT_RECORD record = setupRecord("10.0.0.5", "255.0.0.0", "10.0.0.1", "10.0.0.1");
    EXPECT_EQ(InitCamera(&record, 0, 0, Inbox::callback, 3000), MO_ERR_BUSY);
    const auto end = inbox().waitFor(MO_MSG_SEARCH, 10000);
    const uint32_t elapsed = sys::elapsedMs(start);
    ASSERT_TRUE(end);
    EXPECT_EQ(end->wParam, MO_ERR_TIMEOUT);
    EXPECT_FALSE(end->search);
    EXPECT_GE(elapsed, 950u) << "a time-out of 200 ms waits 1000 ms";
    EXPECT_LT(elapsed, 6000u);
    // The flag is free again once the end is reported.
    ASSERT_EQ(SearchCamera(0, 0, Inbox::callback, 1000), MO_OK);
    EXPECT_TRUE(waitForCount(MO_MSG_SEARCH, 2));
}

TEST_F(SearchTest, SearchAndSetupRefuseInvalidArguments) {
    startCamera();
    EXPECT_EQ(SearchCamera(0, 0, nullptr, 1000), MO_ERR_PARAM) << "no target";
    MO_INIT_RECORD record = setupRecord("10.0.0.5", "255.0.0.0", "10.0.0.1", "10.0.0.1");
    EXPECT_EQ(InitCamera(nullptr, 0, 0, Inbox::callback, 3000), MO_ERR_PARAM);
    EXPECT_EQ(InitCamera(&record, 0, 0, nullptr, 3000), MO_ERR_PARAM);
    struct Case {
        const char* what;
        MO_INIT_RECORD record;
    } cases[] = {
        {"multicast address", setupRecord("224.0.0.9", "255.0.0.0", "224.0.0.1", "10.0.0.1")},
        {"mask not from the top", setupRecord("10.0.0.5", "0.255.255.0", "10.0.0.1", "10.0.0.1")},
        {"mask too short", setupRecord("10.0.0.5", "192.0.0.0", "10.0.0.1", "10.0.0.1")},
        {"network address", setupRecord("10.0.0.0", "255.0.0.0", "10.0.0.1", "10.0.0.1")},
        {"gateway elsewhere", setupRecord("10.0.0.5", "255.0.0.0", "11.0.0.1", "10.0.0.1")},
        {"DNS not unicast", setupRecord("10.0.0.5", "255.0.0.0", "10.0.0.1", "0.0.0.0")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(InitCamera(&c.record, 0, 0, Inbox::callback, 3000), MO_ERR_PARAM) << c.what;
    std::strcpy(record.id, "00A1B2C3D4E");
    EXPECT_EQ(InitCamera(&record, 0, 0, Inbox::callback, 3000), MO_ERR_PARAM) << "11-character id";
    sys::sleepMs(200);
    EXPECT_EQ(camera.stats().setups, 0u) << "nothing refused may reach the camera";
    EXPECT_TRUE(inbox().all().empty());
}

TEST_F(SearchTest, SetupWithAddressZeroSendsZeroMaskGatewayAndDns) {
    startCamera();
    const MO_INIT_RECORD record = setupRecord("0.0.0.0", "255.255.0.0", "10.9.8.7", "10.9.8.6");
    EXPECT_EQ(setup(record), MO_OK);
    const auto setups = camera.setups();
    ASSERT_EQ(setups.size(), 1u);
    EXPECT_EQ(setups[0].id, kCameraId);
    EXPECT_EQ(setups[0].user, "admin");
    EXPECT_EQ(setups[0].address, 0u);
    EXPECT_EQ(setups[0].mask, 0u);
    EXPECT_EQ(setups[0].gateway, 0u);
    EXPECT_EQ(setups[0].dns, 0u);
}

TEST_F(SearchTest, SetupReportsTheCamerasRefusalAndTimesOutWithoutAnAnswer) {
    startCamera();
    MO_INIT_RECORD record = setupRecord("10.0.0.5", "255.0.0.0", "10.0.0.1", "10.0.0.1");
    std::strcpy(record.password, "wrong");
    EXPECT_EQ(setup(record), 1) << "the camera's own status";

    // A set-up for an id nobody has: the camera stays silent; 500 ms counts as 3000.
    std::strcpy(record.id, "FFFFFFFFFFFF");
    const uint32_t start = sys::tickMs();
    EXPECT_EQ(setup(record, 500), MO_ERR_TIMEOUT);
    EXPECT_GE(sys::elapsedMs(start), 2950u);
}

// A camera that answers each search with whatever `answers` holds, from its own UDP socket.
class ScriptedResponder {
public:
    explicit ScriptedResponder(std::vector<Bytes> answers, int repeatEveryMs = 0)
        : m_answers(std::move(answers)), m_repeatMs(repeatEveryMs) {
        m_socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_socket, reinterpret_cast<sockaddr*>(&local), sizeof local);
        socklen_t size = sizeof local;
        ::getsockname(m_socket, reinterpret_cast<sockaddr*>(&local), &size);
        m_port = ntohs(local.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~ScriptedResponder() {
        m_stop = true;
        m_thread.join();
        ::close(m_socket);
    }
    uint16_t port() const { return m_port; }

private:
    // Without repeats: every request gets the answers once. With: after the first request the
    // answers go out again every `m_repeatMs`, asked or not.
    void serve() {
        uint8_t buffer[512];
        sockaddr_in from{};
        bool asked = false;
        uint32_t lastMs = 0;
        while (!m_stop) {
            pollfd entry{m_socket, POLLIN, 0};
            if (::poll(&entry, 1, 20) > 0) {
                socklen_t size = sizeof from;
                if (::recvfrom(m_socket, buffer, sizeof buffer, 0,
                               reinterpret_cast<sockaddr*>(&from), &size) > 0) {
                    asked = true;
                    if (m_repeatMs == 0)
                        sendAll(from);
                }
            }
            if (m_repeatMs > 0 && asked &&
                sys::elapsedMs(lastMs) >= static_cast<uint32_t>(m_repeatMs)) {
                lastMs = sys::tickMs();
                sendAll(from);
            }
        }
    }

    void sendAll(const sockaddr_in& to) {
        for (const Bytes& answer : m_answers)
            ::sendto(m_socket, answer.data(), answer.size(), 0,
                     reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }

    std::vector<Bytes> m_answers;
    int m_repeatMs;
    int m_socket = -1;
    uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

Bytes searchAnswer(const char* id) {
    Bytes payload(13 + 21, 0);
    std::memcpy(payload.data(), id, std::strlen(id));
    for (int i = 0; i < 4; ++i)
        put32(payload, 0x0100007F);
    put32(payload, 0);
    put32(payload, 1);
    put32(payload, 2);
    payload.push_back(0x50);
    payload.push_back(0);
    return payload;
}

TEST_F(SearchTest, AnswersThatBreakTheRulesAreIgnored) {
    startCamera();
    const Bytes good = searchAnswer("GOOD00000001");
    Bytes extraByte = moMessage("MO_I", 1, searchAnswer("EXTRA0000001"));
    extraByte.push_back(0);
    Bytes shortPayload = searchAnswer("SHORT0000001");
    shortPayload.pop_back();
    Bytes unequal = moMessage("MO_I", 1, searchAnswer("UNEQUAL00001"));
    unequal[19] ^= 1;
    ScriptedResponder responder({
        moMessage("MO_O", 1, searchAnswer("WRONGTAG0001")),
        extraByte,
        moMessage("MO_I", 1, shortPayload),
        unequal,
        moMessage("MO_I", 1, searchAnswer("BADLENGTH001"), 60000),
        moMessage("MO_I", 7, searchAnswer("OPCODE700001")),
        Bytes{'M', 'O'},
        moMessage("MO_I", 1, good),
    });
    settings.searchPort = responder.port();
    moltrex::setTuning(settings);
    const auto records = search(1000);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_STREQ(records[0].id, "GOOD00000001");
    EXPECT_EQ(ntohs(records[0].httpPort), 80);
}

TEST_F(SearchTest, ACameraThatNeverStopsAnsweringCannotHoldTheSearch) {
    startCamera();
    ScriptedResponder flood({moMessage("MO_I", 1, searchAnswer("FLOOD0000001"))}, 100);
    settings.searchPort = flood.port();
    settings.searchWaitsPerSearch = 2; // the whole search: two time-outs
    moltrex::setTuning(settings);
    const uint32_t start = sys::tickMs();
    const auto records = search(1000);
    EXPECT_LT(sys::elapsedMs(start), 8000u);
    EXPECT_GE(records.size(), 5u);
}

} // namespace
