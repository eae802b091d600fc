#include "zqnet/CHttpParser.h"

#include "LoopbackServer.h"
#include "http/HttpParserAccess.h"
#include "zqnet/zqhttp.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/resource.h>

namespace {

using Clock = std::chrono::steady_clock;
using test::CannedAnswer;
using test::LoopbackServer;

long long msSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

struct Outcome {
    int code = 0;
    std::optional<std::string> body; // nullopt: contentData was null
};

// create → GET → connect → send → read, as the callers do.
Outcome fetch(CHttpParser& parser, uint16_t port, int rounds = 100) {
    EXPECT_EQ(parser.createHttpSocket(), kHttpSuccess);
    EXPECT_NE(parser.setRequest("/cgi", "GET", "127.0.0.1", nullptr, nullptr), nullptr);
    EXPECT_EQ(parser.httpConnect("127.0.0.1", static_cast<short>(port)), kHttpSuccess);
    EXPECT_EQ(parser.httpRequest(), kHttpSuccess);
    Outcome out{parser.httpResponse(rounds), std::nullopt};
    EXPECT_EQ(parser.GetLastError(), out.code);
    if (const char* data = parser.GetContentData()) {
        out.body.emplace(data, static_cast<size_t>(parser.GetContentLength()));
        EXPECT_EQ(data[parser.GetContentLength()], '\0');
    } else {
        EXPECT_EQ(parser.GetContentLength(), 0);
    }
    return out;
}

Outcome fetchCanned(const std::string& answer) {
    CannedAnswer canned(answer);
    LoopbackServer server(canned.handler());
    CHttpParser parser;
    return fetch(parser, server.port());
}

// A header whose blank line ends exactly at byte `size`.
std::string headerOfSize(size_t size) {
    const std::string start = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nX-Pad: ";
    return start + std::string(size - start.size() - 4, 'p') + "\r\n\r\n";
}

TEST(HttpResponse, AnswersAreReadOrRefusedAsAWhole) {
    const std::optional<std::string> none;
    const struct {
        std::string answer;
        int code;
        std::optional<std::string> body;
    } cases[] = {
        {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhelloEXTRA", kHttpSuccess, "hello"},
        {"HTTP/1.1 200 OK\r\ncontent-length:3\r\n\r\nabc", kHttpSuccess, "abc"},
        {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", kHttpSuccess, ""},
        {"HTTP/1.0 200 OK\r\nConnection: close\r\n\r\nto the end", kHttpPeerClosed, "to the end"},
        {"HTTP/1.0 200 OK\r\nConnection: keep-alive\r\n\r\nstill", kHttpPeerClosed, "still"},
        {headerOfSize(kHttpHeaderArea) + "ok", kHttpSuccess, "ok"},
        // Refused before any allocation: lengths that are negative, not numbers, or too large.
        {"HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\nxyz", kHttpSocketError, none},
        {"HTTP/1.1 200 OK\r\nContent-Length: abc\r\n\r\nxyz", kHttpSocketError, none},
        {"HTTP/1.1 200 OK\r\nContent-Length: 12abc\r\n\r\nxyz", kHttpSocketError, none},
        {"HTTP/1.1 200 OK\r\nContent-Length: 67108865\r\n\r\nxyz", kHttpSocketError, none},
        {"HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999999\r\n\r\n", kHttpSocketError,
         none},
        // A header that does not fit is a failure, not a success without a body.
        {headerOfSize(kHttpHeaderArea + 1) + "ok", kHttpSocketError, none},
        // Closed early: inside the body, inside the header.
        {"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly some", kHttpSocketError, none},
        {"HTTP/1.1 200 OK\r\nContent-Le", kHttpSocketError, none},
        {"HTTP/1.1 200 OK\r\nConnection: close\nX: y\r\n\r\nbody", kHttpSocketError, none},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer.substr(0, 80));
        const Outcome out = fetchCanned(c.answer);
        EXPECT_EQ(out.code, c.code);
        EXPECT_EQ(out.body, c.body);
    }
}

TEST(HttpResponse, LargeBodiesInSmallPiecesArriveIntact) {
    std::mt19937 generator(1);
    std::string payload(300 * 1024, '\0'); // beyond every fixed buffer, NULs included
    for (char& c : payload)
        c = static_cast<char>(generator());
    for (const bool announced : {true, false}) {
        const std::string answer =
            announced ? "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(payload.size()) +
                            "\r\n\r\n" + payload
                      : "HTTP/1.0 200 OK\r\n\r\n" + payload;
        LoopbackServer server([&](int fd, const std::atomic<bool>& stop) {
            test::readRequest(fd, stop);
            // Small pieces first so they straddle the header end, then larger ones.
            for (size_t at = 0; at < answer.size();) {
                const size_t piece = at < 4000 ? 7 : 65536;
                test::writeAll(fd, std::string_view(answer).substr(at, piece));
                at += piece;
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        });
        CHttpParser parser;
        const Outcome out = fetch(parser, server.port());
        EXPECT_EQ(out.code, announced ? kHttpSuccess : kHttpPeerClosed);
        EXPECT_TRUE(out.body == payload);
    }
}

TEST(HttpResponse, CloseDelimitedBodyStopsAtTheCap) {
    LoopbackServer server([](int fd, const std::atomic<bool>& stop) {
        test::readRequest(fd, stop);
        test::writeAll(fd, "HTTP/1.0 200 OK\r\n\r\n");
        const std::string block(1 << 20, 'b');
        for (int i = 0; i <= kHttpMaxBodyBytes / (1 << 20) && !stop; ++i)
            test::writeAll(fd, block); // a MiB beyond the cap; ends early once we hang up
    });
    CHttpParser parser;
    const Outcome out = fetch(parser, server.port());
    EXPECT_EQ(out.code, kHttpSocketError);
    EXPECT_EQ(out.body, std::nullopt);
}

TEST(HttpWait, SilentServerTimesOutAfterTheRoundsAllowed) {
    for (const std::string partial : {"", "HTTP/1.1 200 OK\r\nContent-Length: 50\r\n\r\nhalf"}) {
        LoopbackServer server([&](int fd, const std::atomic<bool>& stop) {
            test::readRequest(fd, stop);
            test::writeAll(fd, partial);
            test::holdOpen(stop);
        });
        CHttpParser parser;
        const auto start = Clock::now();
        const Outcome out = fetch(parser, server.port(), 10);
        EXPECT_EQ(out.code, kHttpTimeout);
        EXPECT_EQ(out.body, std::nullopt);
        EXPECT_GE(msSince(start), 100); // 11 idle rounds of about 20 ms
        EXPECT_LT(msSince(start), 2000);
    }
}

TEST(HttpWait, UserQuitFromAnotherThreadEndsTheWaitQuickly) {
    LoopbackServer server([](int fd, const std::atomic<bool>& stop) {
        test::readRequest(fd, stop);
        test::holdOpen(stop);
    });
    CHttpParser parser;
    std::thread quitter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        parser.userQuit();
    });
    const auto start = Clock::now();
    const Outcome out = fetch(parser, server.port(), 1000000);
    EXPECT_LT(msSince(start), 100 + 250);
    quitter.join();
    EXPECT_EQ(out.code, kHttpCancelled);
    EXPECT_EQ(out.body, std::nullopt);
    EXPECT_FALSE(HttpParserAccess::hasSocket(parser));

    // A send the peer never drains: a large request fills both socket buffers.
    LoopbackServer sink([](int, const std::atomic<bool>& stop) { test::holdOpen(stop); });
    ASSERT_EQ(parser.createHttpSocket(), kHttpSuccess);
    ASSERT_NE(parser.mallocSendData(48 * 1024 * 1024), nullptr);
    ASSERT_EQ(parser.httpConnect("127.0.0.1", static_cast<short>(sink.port())), kHttpSuccess);
    quitter = std::thread([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        parser.userQuit();
    });
    const auto sendStart = Clock::now();
    EXPECT_EQ(parser.httpRequest(), kHttpCancelled);
    EXPECT_LT(msSince(sendStart), 150 + 250);
    quitter.join();
}

TEST(HttpConnect, FailuresAreReportedNotHidden) {
    CHttpParser parser;
    EXPECT_EQ(parser.httpConnect("127.0.0.1", 80), kHttpSocketError); // no socket yet
    ASSERT_EQ(parser.createHttpSocket(), kHttpSuccess);
    EXPECT_EQ(parser.httpConnect(nullptr, 80), kHttpSocketError);
    EXPECT_EQ(parser.httpConnect("", 80), kHttpSocketError);
    uint16_t freePort = 0;
    {
        LoopbackServer probe([](int, const std::atomic<bool>&) {});
        freePort = probe.port();
    }
    EXPECT_EQ(parser.httpConnect("127.0.0.1", static_cast<short>(freePort)), kHttpSocketError);
}

TEST(HttpConnect, DescriptorNumbersAbove1024Work) {
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    limit.rlim_cur = std::max<rlim_t>(limit.rlim_cur, std::min<rlim_t>(limit.rlim_max, 2048));
    if (limit.rlim_cur < 1200 || setrlimit(RLIMIT_NOFILE, &limit) != 0)
        GTEST_SKIP() << "cannot open 1200 descriptors here";
    CannedAnswer canned("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nhigh");
    LoopbackServer server(canned.handler());
    // Occupy every number below 1100 so the parser's socket lands above select()'s limit.
    std::vector<int> filler{::open("/dev/null", O_RDONLY | O_CLOEXEC)};
    while (filler.back() >= 0 && filler.back() < 1100)
        filler.push_back(::fcntl(filler.front(), F_DUPFD_CLOEXEC, 0));
    const bool filled = filler.back() >= 1100;
    Outcome out;
    if (filled) {
        CHttpParser parser;
        out = fetch(parser, server.port());
    }
    for (const int fd : filler)
        if (fd >= 0)
            ::close(fd);
    ASSERT_TRUE(filled);
    EXPECT_EQ(out.code, kHttpSuccess);
    EXPECT_EQ(out.body, "high");
}

TEST(HttpRequestText, GetRequestArrivesAsAValidHttpRequest) {
    CannedAnswer canned("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
    LoopbackServer server(canned.handler());
    CHttpParser parser;
    ASSERT_EQ(parser.createHttpSocket(), kHttpSuccess);
    ASSERT_NE(parser.setRequest("/a?b=1", "get", "cam:81", nullptr, "user:pass"), nullptr);
    ASSERT_EQ(parser.httpConnect("127.0.0.1", static_cast<short>(server.port())), kHttpSuccess);
    ASSERT_EQ(parser.httpRequest(), kHttpSuccess);
    ASSERT_EQ(parser.httpResponse(100), kHttpSuccess);
    parser.closeHttpSocket();
    ASSERT_EQ(canned.requests().size(), 1u);
    EXPECT_EQ(canned.requests()[0],
              "GET /a?b=1 HTTP/1.1\r\nHost: cam:81\r\nAccept:*/*\r\n"
              "Connection: Close\r\nAuthorization: Basic dXNlcjpwYXNz\r\n\r\n");
}

TEST(HttpRequestText, RefusedRequestsLeaveNothingToSend) {
    std::atomic<size_t> received{1};
    LoopbackServer server([&](int fd, const std::atomic<bool>& stop) {
        received = test::readRequest(fd, stop).size();
    });
    CHttpParser parser;
    const struct {
        const char* url;
        const char* method;
        const char* file;
        int code;
    } refused[] = {
        {"/x", "PUT", nullptr, kHttpBadMethod},
        {"/x\r\nEvil: 1", "GET", nullptr, kHttpSocketError},
        {"/up", "POST", "/nonexistent/configs.bin", kHttpNoFile},
        {"/up", "POST", "/tmp", kHttpNoFile}, // a directory
    };
    for (const auto& r : refused) {
        SCOPED_TRACE(r.url);
        ASSERT_NE(parser.setRequest("/earlier", "GET", "h", nullptr, nullptr), nullptr);
        EXPECT_EQ(parser.setRequest(r.url, r.method, "h", r.file, nullptr), nullptr);
        EXPECT_EQ(parser.GetLastError(), r.code);
        EXPECT_EQ(parser.GetSendData(), nullptr); // the earlier request is gone too
    }
    // ...so a caller that carries on regardless sends nothing at all.
    ASSERT_EQ(parser.createHttpSocket(), kHttpSuccess);
    ASSERT_EQ(parser.httpConnect("127.0.0.1", static_cast<short>(server.port())), kHttpSuccess);
    EXPECT_EQ(parser.httpRequest(), kHttpSocketError);
    parser.closeHttpSocket();
    for (int i = 0; i < 200 && received != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(received.load(), 0u);

    EXPECT_EQ(parser.mallocSendData(-1), nullptr);
    EXPECT_EQ(parser.mallocSendData(kHttpMaxBodyBytes + 1), nullptr);
}

TEST(HttpParserCopy, CopiesOwnTheirBuffersAndNeverTheSocket) {
    CannedAnswer canned("HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nanswer");
    LoopbackServer server(canned.handler());
    CHttpParser original;
    ASSERT_EQ(fetch(original, server.port()).code, kHttpSuccess);
    CHttpParser copy(original);
    CHttpParser assigned;
    ASSERT_EQ(assigned.createHttpSocket(), kHttpSuccess);
    assigned = original;
    const CHttpParser& self = assigned;
    assigned = self;

    original.freeContentData();
    original.freeSendData();
    for (CHttpParser* p : {&copy, &assigned}) {
        EXPECT_FALSE(HttpParserAccess::hasSocket(*p));
        ASSERT_NE(p->GetContentData(), nullptr);
        EXPECT_STREQ(p->GetContentData(), "answer");
        EXPECT_EQ(p->GetContentLength(), 6);
        ASSERT_NE(p->GetSendData(), nullptr);
        EXPECT_EQ(std::strncmp(p->GetSendData(), "GET /cgi HTTP/1.1\r\n", 19), 0);
        EXPECT_EQ(p->httpRequest(), kHttpSocketError); // no socket of its own yet
    }
    EXPECT_TRUE(HttpParserAccess::hasSocket(original)); // the copies did not close it
}

TEST(HttpExports, FlatCallsRunAnExchangeAndRefuseANullParser) {
    CannedAnswer canned("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nflat");
    LoopbackServer server(canned.handler());
    CHttpParser* parser = zq_create_HttpParser();
    ASSERT_NE(parser, nullptr);
    EXPECT_EQ(zq_create_HttpSocket(parser), kHttpSuccess);
    ASSERT_NE(zq_set_httpRequest(parser, "/x", "GET", "127.0.0.1", nullptr, nullptr), nullptr);
    EXPECT_EQ(zq_httpConnect(parser, "127.0.0.1", static_cast<short>(server.port())), kHttpSuccess);
    EXPECT_EQ(zq_httpRequest(parser), kHttpSuccess);
    EXPECT_EQ(zq_httpResponse(parser, 100), kHttpSuccess);
    EXPECT_STREQ(zq_GetContentData(parser), "flat");
    zq_close_HttpParser(parser);

    EXPECT_EQ(zq_create_HttpSocket(nullptr), kHttpSocketError);
    EXPECT_EQ(zq_set_httpRequest(nullptr, "/", "GET", "h", nullptr, nullptr), nullptr);
    EXPECT_EQ(zq_httpResponse(nullptr, 1), kHttpSocketError);
    EXPECT_EQ(zq_GetContentData(nullptr), nullptr);
    EXPECT_EQ(zq_mallocSendData(nullptr, 5), nullptr);
    EXPECT_EQ(zq_GetLastError(nullptr), kHttpSocketError);
    zq_httpUserQuit(nullptr);
    zq_close_HttpParser(nullptr);
}

} // namespace
