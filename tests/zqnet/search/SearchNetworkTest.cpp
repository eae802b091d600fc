// Whole searches through the library's exports over a real network: broadcasts never reach
// loopback listeners, so the test builds two network namespaces joined by a veth pair, runs
// camsim search responders in one and searches from the other (this thread joins it).

#include "zqnet/zqsearch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <poll.h>
#include <sched.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

bool run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// Two namespaces and the veth pair between them, named after this process so parallel runs and
// leftovers of a crashed run never collide. Deleting a namespace deletes its veth end too.
struct TestNetwork {
    std::string responders = "vsr" + std::to_string(::getpid());
    std::string searcher = "vss" + std::to_string(::getpid());
    bool ready = false;
    std::string why;

    void create() {
        if (::geteuid() != 0) {
            why = "network namespaces need root (CAP_NET_ADMIN)";
            return;
        }
        destroy();
        const std::string a = "vsa" + std::to_string(::getpid());
        const std::string b = "vsb" + std::to_string(::getpid());
        ready = run("ip netns add " + responders) && run("ip netns add " + searcher) &&
                run("ip link add " + a + " netns " + searcher + " type veth peer name " + b +
                    " netns " + responders) &&
                run("ip -n " + searcher + " addr add 10.213.0.1/24 dev " + a) &&
                run("ip -n " + responders + " addr add 10.213.0.2/24 dev " + b) &&
                run("ip -n " + searcher + " link set " + a + " up") &&
                run("ip -n " + responders + " link set " + b + " up");
        // A veth end reports UP a moment after "link set up"; a broadcast sent before that is
        // lost, and a search without repeat sends only one.
        for (int tries = 0; ready && tries < 100; ++tries) {
            if (run("ip -n " + searcher + " link show " + a + " | grep -q 'state UP'") &&
                run("ip -n " + responders + " link show " + b + " | grep -q 'state UP'"))
                break;
            ::usleep(30 * 1000);
        }
        if (!ready) {
            why = "cannot build a veth pair between network namespaces (ip netns add failed; "
                  "needs iproute2 and CAP_NET_ADMIN)";
            destroy();
        }
    }
    void destroy() {
        run("ip netns del " + responders);
        run("ip netns del " + searcher);
    }
};

TestNetwork g_network;

// A camsim search responder running in the responders' namespace.
class Responder {
public:
    explicit Responder(std::vector<std::string> options) {
        std::vector<std::string> args = {
            "ip", "netns", "exec", g_network.responders, CAMSIM_EXECUTABLE, "search", "--quiet"};
        args.insert(args.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (auto& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::execvp(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        m_out = out[0];
    }
    ~Responder() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_out >= 0)
            ::close(m_out);
    }

    // Waits for the "bound" line, so no request can go out before someone listens.
    bool ready() {
        std::string text;
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (Clock::now() < deadline && text.find('\n') == std::string::npos) {
            pollfd in{m_out, POLLIN, 0};
            if (::poll(&in, 1, 100) <= 0)
                continue;
            char chunk[256];
            const ssize_t n = ::read(m_out, chunk, sizeof chunk);
            if (n <= 0)
                return false;
            text.append(chunk, static_cast<size_t>(n));
        }
        return text.rfind("search responder: port", 0) == 0;
    }

private:
    pid_t m_pid = -1;
    int m_out = -1;
};

struct Answer {
    int kind;
    std::string mac;
    std::string name;
    std::string address;
    uint16_t port;
    std::string uid;
    long atMs;
};

// Everything the callback saw, with times relative to the search's start.
struct Recorder {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<Answer> answers;
    std::vector<int> progress;
    Clock::time_point start = Clock::now();
    int stopAfter = 0; // return -4 on this answer (1-based); 0 never
    bool ended = false;

    static int callback(int kind, const void* record, int length, void* user) {
        auto* self = static_cast<Recorder*>(user);
        std::lock_guard guard(self->lock);
        const auto* bytes = static_cast<const uint8_t*>(record);
        if (kind == ZQ_SEARCH_PROGRESS) {
            self->progress.push_back(length);
            self->ended = self->ended || length == 0;
        } else {
            Answer answer{kind, "", "", "", 0, "", 0};
            char dotted[16];
            if (kind == ZQ_SEARCH_CONTENT && length > 65) {
                answer.mac = reinterpret_cast<const char*>(bytes);
                answer.name = std::string(reinterpret_cast<const char*>(bytes + 13),
                                          strnlen(reinterpret_cast<const char*>(bytes + 13), 21));
                std::snprintf(dotted, sizeof dotted, "%u.%u.%u.%u", bytes[34], bytes[35], bytes[36],
                              bytes[37]);
                answer.port = static_cast<uint16_t>(bytes[52] | bytes[53] << 8);
                if (bytes[50] == 2)
                    answer.uid = std::string(reinterpret_cast<const char*>(bytes + 65),
                                             strnlen(reinterpret_cast<const char*>(bytes + 65),
                                                     static_cast<size_t>(length - 65)));
            } else if (kind == ZQ_SEARCH_RECORD && length == ZQ_SEARCH_RECORD_BYTES) {
                answer.mac = reinterpret_cast<const char*>(bytes + 4);
                answer.name = reinterpret_cast<const char*>(bytes + 772);
                std::snprintf(dotted, sizeof dotted, "%u.%u.%u.%u", bytes[1028], bytes[1029],
                              bytes[1030], bytes[1031]);
                answer.port = static_cast<uint16_t>(bytes[1057] | bytes[1058] << 8);
            } else {
                dotted[0] = '\0';
            }
            answer.address = dotted;
            answer.atMs = static_cast<long>(
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - self->start)
                    .count());
            self->answers.push_back(answer);
        }
        self->changed.notify_all();
        if (kind != ZQ_SEARCH_PROGRESS && self->stopAfter > 0 &&
            static_cast<int>(self->answers.size()) >= self->stopAfter)
            return ZQ_SEARCH_STOP;
        return 0;
    }

    bool waitFor(const std::function<bool()>& done, int ms) {
        std::unique_lock guard(lock);
        return changed.wait_for(guard, std::chrono::milliseconds(ms), done);
    }
    std::map<std::string, int> countByMac() {
        std::lock_guard guard(lock);
        std::map<std::string, int> counts;
        for (const auto& answer : answers)
            ++counts[answer.mac];
        return counts;
    }
};

class LanSearch : public ::testing::Test {
protected:
    static void SetUpTestSuite() { g_network.create(); }
    static void TearDownTestSuite() { g_network.destroy(); }

    void SetUp() override {
        if (!g_network.ready)
            GTEST_SKIP() << g_network.why;
        // Threads started from here on (the search thread) live in the searcher's namespace.
        m_home = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
        const int target =
            ::open(("/var/run/netns/" + g_network.searcher).c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(m_home, 0);
        ASSERT_GE(target, 0);
        ASSERT_EQ(::setns(target, CLONE_NEWNET), 0) << std::strerror(errno);
        ::close(target);
    }
    void TearDown() override {
        if (m_home >= 0) {
            EXPECT_EQ(::setns(m_home, CLONE_NEWNET), 0);
            ::close(m_home);
        }
    }

    // One responder of each format: two "MO_I" cameras sharing a datagram (one with an
    // identifier), and one second-format camera cut over three datagrams.
    void startTwoResponders() {
        m_moi = std::make_unique<Responder>(std::vector<std::string>{
            "--format", "moi", "--count", "2", "--batch", "--mac", "00CA5E5E00", "--name", "moi",
            "--address", "10.213.0.50", "--media-port", "8800"});
        // Both responders answer from the same address and port here, which real cameras never
        // do; split replies would interleave with the other's on one stream. Splitting is
        // covered on its own below.
        m_record = std::make_unique<Responder>(
            std::vector<std::string>{"--format", "record", "--mac", "00CA5E5E10", "--name", "rec",
                                     "--address", "10.213.0.60", "--web-port", "8090"});
        ASSERT_TRUE(m_moi->ready());
        ASSERT_TRUE(m_record->ready());
    }

    int m_home = -1;
    std::unique_ptr<Responder> m_moi, m_record;
};

TEST_F(LanSearch, EveryCameraOfTwoRespondersOnceWithItsFieldsThenProgressEnds) {
    startTwoResponders();
    Recorder recorder;
    SearchHandle* search = zq_search_devices(&Recorder::callback, &recorder, 1500, 0);
    ASSERT_NE(search, nullptr);
    EXPECT_TRUE(recorder.waitFor([&] { return recorder.ended; }, 5000));
    zq_close_search(search);

    std::lock_guard guard(recorder.lock);
    std::map<std::string, Answer> byMac;
    for (const auto& answer : recorder.answers)
        EXPECT_TRUE(byMac.emplace(answer.mac, answer).second) << answer.mac << " twice";
    ASSERT_EQ(byMac.size(), 3u);
    const Answer& first = byMac.at("00CA5E5E0000");
    EXPECT_EQ(first.kind, ZQ_SEARCH_CONTENT);
    EXPECT_EQ(first.name, "moi-0");
    EXPECT_EQ(first.address, "10.213.0.50");
    EXPECT_EQ(first.port, 8800);
    EXPECT_EQ(byMac.at("00CA5E5E0001").address, "10.213.0.51");
    const Answer& record = byMac.at("00CA5E5E1000");
    EXPECT_EQ(record.kind, ZQ_SEARCH_RECORD);
    EXPECT_EQ(record.name, "rec-0");
    EXPECT_EQ(record.address, "10.213.0.60");
    EXPECT_EQ(record.port, 8090);

    // Ticks count down over one address's 1500 ms, and 0 comes once, last.
    ASSERT_GE(recorder.progress.size(), 20u);
    EXPECT_LE(recorder.progress.front(), 1500);
    EXPECT_GT(recorder.progress.front(), 1000);
    for (size_t i = 1; i < recorder.progress.size(); ++i)
        EXPECT_LE(recorder.progress[i], recorder.progress[i - 1]);
    EXPECT_EQ(recorder.progress.back(), 0);
    EXPECT_EQ(std::count(recorder.progress.begin(), recorder.progress.end(), 0), 1);
}

TEST_F(LanSearch, IdentifierTravelsWithFlagTwo) {
    Responder responder(
        {"--format", "moi", "--flag", "2", "--uid", "VSTR-777777-", "--mac", "00CA5E5E20"});
    ASSERT_TRUE(responder.ready());
    Recorder recorder;
    SearchHandle* search = zq_search_devices(&Recorder::callback, &recorder, 800, 0);
    ASSERT_NE(search, nullptr);
    EXPECT_TRUE(recorder.waitFor([&] { return recorder.ended; }, 4000));
    zq_close_search(search);
    std::lock_guard guard(recorder.lock);
    ASSERT_EQ(recorder.answers.size(), 1u);
    EXPECT_EQ(recorder.answers[0].uid, "VSTR-777777-0");
}

TEST_F(LanSearch, RepeatModeAsksEveryFiveSecondsStartingAfterFive) {
    startTwoResponders();
    Recorder recorder;
    // Rounds at 5 s and 10 s; the window leaves the second round's answers room on a busy machine.
    SearchHandle* search = zq_search_devices(&Recorder::callback, &recorder, 12500, 1);
    ASSERT_NE(search, nullptr);
    EXPECT_TRUE(recorder.waitFor([&] { return recorder.ended; }, 18000));
    zq_close_search(search);
    std::lock_guard guard(recorder.lock);
    ASSERT_FALSE(recorder.answers.empty());
    std::map<std::string, std::vector<long>> times;
    for (const auto& answer : recorder.answers)
        times[answer.mac].push_back(answer.atMs);
    ASSERT_EQ(times.size(), 3u);
    for (const auto& [mac, at] : times) {
        ASSERT_EQ(at.size(), 2u) << mac << " should answer once per round";
        EXPECT_GE(at[0], 5000) << mac;
        EXPECT_GE(at[1] - at[0], 4900) << mac;
    }
}

TEST_F(LanSearch, ARecordSplitOverThreeDatagramsArrivesWhole) {
    Responder split(std::vector<std::string>{"--format", "record", "--split", "3", "--mac",
                                             "00CA5E5E20", "--name", "split", "--address",
                                             "10.213.0.70", "--web-port", "8091"});
    ASSERT_TRUE(split.ready());
    Recorder recorder;
    SearchHandle* search = zq_search_devices(&Recorder::callback, &recorder, 1500, 0);
    ASSERT_NE(search, nullptr);
    EXPECT_TRUE(recorder.waitFor([&] { return recorder.ended; }, 5000));
    zq_close_search(search);
    std::lock_guard guard(recorder.lock);
    ASSERT_EQ(recorder.answers.size(), 1u);
    EXPECT_EQ(recorder.answers[0].kind, ZQ_SEARCH_RECORD);
    EXPECT_EQ(recorder.answers[0].name, "split-0");
    EXPECT_EQ(recorder.answers[0].port, 8091);
}

TEST_F(LanSearch, CloseReturnsWithinItsBoundAndNothingIsCalledAfter) {
    startTwoResponders();
    Recorder recorder;
    SearchHandle* search = zq_search_devices(&Recorder::callback, &recorder, 60000, 1);
    ASSERT_NE(search, nullptr);
    ASSERT_TRUE(recorder.waitFor([&] { return recorder.progress.size() >= 5; }, 3000));
    const auto before = Clock::now();
    zq_close_search(search);
    EXPECT_LT(Clock::now() - before, std::chrono::milliseconds(500));
    size_t calls;
    {
        std::lock_guard guard(recorder.lock);
        calls = recorder.progress.size() + recorder.answers.size();
        EXPECT_FALSE(recorder.ended) << "closing is not the search ending by itself";
    }
    ::usleep(100 * 1000);
    std::lock_guard guard(recorder.lock);
    EXPECT_EQ(recorder.progress.size() + recorder.answers.size(), calls);
}

TEST_F(LanSearch, StopFromTheCallbackEndsTheSearchEarly) {
    startTwoResponders();
    Recorder recorder;
    recorder.stopAfter = 1;
    SearchHandle* search = zq_search_devices(&Recorder::callback, &recorder, 20000, 0);
    ASSERT_NE(search, nullptr);
    EXPECT_TRUE(recorder.waitFor([&] { return recorder.ended; }, 3000));
    ::usleep(200 * 1000); // the other replies have arrived by now; none may be delivered
    zq_close_search(search);
    std::lock_guard guard(recorder.lock);
    EXPECT_EQ(recorder.answers.size(), 1u);
    EXPECT_EQ(recorder.progress.back(), 0);
}

TEST(LanSearchHandle, NullCallbackAndNullHandleAreHarmless) {
    EXPECT_EQ(zq_search_devices(nullptr, nullptr, 100, 0), nullptr);
    zq_close_search(nullptr);
}

} // namespace
