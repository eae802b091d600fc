#include "http/CgiRequest.h"

#include "LoopbackServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <random>

namespace {

using test::CannedAnswer;
using test::LoopbackServer;

DEVICE_PARAM device(const char* user, const char* password, uint16_t httpPort, int32_t port) {
    DEVICE_PARAM d{};
    std::strncpy(d.host, "127.0.0.1", sizeof d.host - 1);
    std::strncpy(d.user, user, sizeof d.user - 1);
    std::strncpy(d.password, password, sizeof d.password - 1);
    d.httpPort = httpPort;
    d.port = port;
    return d;
}

std::string name(const std::vector<char>& list, size_t slot) {
    return std::string(list.data() + slot * zq::cgi::kNameBytes);
}

// ---- Requests --------------------------------------------------------------------------------

TEST(CgiQuery, CredentialsCannotAddParameters) {
    const DEVICE_PARAM d = device("ad&min", "p=w&cmd=reboot", 80, 80);
    EXPECT_EQ(zq::cgi::buildQuery(d, "setHue&hue=5"),
              "usr=ad%26min&pwd=p%3Dw%26cmd%3Dreboot&cmd=setHue&hue=5");
    EXPECT_EQ(zq::cgi::cgiPath(d, "ptzStopRun"),
              "/cgi-bin/CGIProxy.fcgi?usr=ad%26min&pwd=p%3Dw%26cmd%3Dreboot&cmd=ptzStopRun");
}

TEST(CgiQuery, UnterminatedFieldsAreReadWithinTheirArrays) {
    DEVICE_PARAM d = device("", "", 80, 80);
    std::memset(d.user, 'u', sizeof d.user);         // no NUL: runs into password
    std::memset(d.password, 'p', sizeof d.password); // no NUL: runs into streamType
    d.streamType = 'X';
    EXPECT_EQ(zq::cgi::buildQuery(d, "c"),
              "usr=" + std::string(20, 'u') + "&pwd=" + std::string(20, 'p') + "&cmd=c");
}

TEST(CgiRequest, SnapshotIsFetchedFromThePathTheAnswerNames) {
    const std::string xml = "<html><body><img src=\"../snapPic/Snap_1.jpg\"/></body></html>";
    std::string picture = "\xFF\xD8";
    picture += std::string(5000, '\0') + "\xFF\xD9";
    std::mutex mutex;
    std::vector<std::string> requests;
    LoopbackServer server([&](int fd, const std::atomic<bool>& stop) {
        std::string request = test::readRequest(fd, stop);
        const bool wantsPicture = request.rfind("GET /snapPic/", 0) == 0;
        {
            std::lock_guard lock(mutex);
            requests.push_back(std::move(request));
        }
        // The picture comes close-delimited, which counts as a complete body as well.
        test::writeAll(fd, wantsPicture ? "HTTP/1.0 200 OK\r\n\r\n" + picture
                                        : "HTTP/1.1 200 OK\r\nContent-Length: " +
                                              std::to_string(xml.size()) + "\r\n\r\n" + xml);
    });
    const DEVICE_PARAM d = device("admin", "", server.port(), 88);
    CHttpParser parser;
    std::string body;
    ASSERT_EQ(zq::cgi::command(parser, d, "snapPicture", zq::cgi::kReplyRounds, &body),
              kHttpSuccess);
    const auto path = zq::cgi::snapshotPath(body);
    ASSERT_TRUE(path.has_value());
    std::string got;
    EXPECT_EQ(zq::cgi::fetch(parser, d, *path, zq::cgi::kReplyRounds, &got), kHttpPeerClosed);
    EXPECT_TRUE(got == picture);
    std::lock_guard lock(mutex);
    ASSERT_EQ(requests.size(), 2u);
    const std::string host = "HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server.port());
    EXPECT_EQ(
        requests[0].rfind("GET /cgi-bin/CGIProxy.fcgi?usr=admin&pwd=&cmd=snapPicture " + host, 0),
        0u);
    EXPECT_EQ(requests[1].rfind("GET /snapPic/Snap_1.jpg " + host, 0), 0u);
}

TEST(CgiRequest, FailedExchangeLeavesNoStaleBody) {
    uint16_t freePort = 0;
    {
        LoopbackServer probe([](int, const std::atomic<bool>&) {});
        freePort = probe.port();
    }
    CHttpParser parser;
    std::string body = "stale";
    EXPECT_EQ(zq::cgi::get(parser, "127.0.0.1", freePort, "h", "/", 10, &body), kHttpSocketError);
    EXPECT_TRUE(body.empty());
}

TEST(CgiRequest, SendOnlyNamesTheControlPortAndDoesNotWaitForAnAnswer) {
    std::mutex mutex;
    std::string seen;
    LoopbackServer server([&](int fd, const std::atomic<bool>& stop) {
        std::string request = test::readRequest(fd, stop);
        {
            std::lock_guard lock(mutex);
            seen = std::move(request);
        }
        test::holdOpen(stop); // never answers
    });
    // Only the low 16 bits of `port` are the port.
    const DEVICE_PARAM d = device("admin", "pw", server.port(), 0x10000 | 88);
    CHttpParser parser;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(zq::cgi::sendOnly(parser, d, "ptzMoveUp"), kHttpSuccess);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    std::string request;
    for (int i = 0; i < 200 && request.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::lock_guard lock(mutex);
        request = seen;
    }
    EXPECT_EQ(request.rfind("GET /cgi-bin/CGIProxy.fcgi?usr=admin&pwd=pw&cmd=ptzMoveUp ", 0), 0u);
    EXPECT_NE(request.find("\r\nHost: 127.0.0.1:88\r\n"), std::string::npos);
}

// ---- Replies ---------------------------------------------------------------------------------

TEST(CgiReplies, ResultCode) {
    using zq::cgi::resultCode;
    EXPECT_EQ(resultCode("<CGI_Result>\n<result>0</result>\n</CGI_Result>"), 0);
    EXPECT_EQ(resultCode("<CGI_Result><result>-8</result></CGI_Result>"), -8);
    EXPECT_EQ(resultCode("<CGI_Result><result> 2 </result></CGI_Result>"), 2);
    EXPECT_EQ(resultCode("<CGI_Result><result>99999999999</result></CGI_Result>"), INT_MAX);
    EXPECT_EQ(resultCode("<CGI_Result><result>-99999999999</result></CGI_Result>"), INT_MIN);
    EXPECT_EQ(resultCode("<CGI_Result><result>abc</result></CGI_Result>"), 0); // atoi's reading
    EXPECT_EQ(resultCode("<CGI_Result><other>1</other></CGI_Result>"), zq::cgi::kNoResult);
    EXPECT_EQ(resultCode("<CGI_Result><result>0</result>"), zq::cgi::kNoResult); // unclosed
    EXPECT_EQ(resultCode(""), zq::cgi::kNoResult);
    EXPECT_EQ(resultCode("404 Not Found"), zq::cgi::kNoResult);
}

TEST(CgiReplies, PictureSettings) {
    const std::string xml = "<CGI_Result>\n<result>0</result>\n<brightness>50</brightness>\n"
                            "<contrast>48</contrast>\n<hue>7</hue>\n<saturation>300</saturation>\n"
                            "<sharpness>-5</sharpness>\n</CGI_Result>";
    const std::array<uint8_t, 5> expected{50, 48, 7, 255, 0}; // out-of-range values clamp
    EXPECT_EQ(zq::cgi::imageSettings(xml), expected);
    EXPECT_EQ(zq::cgi::imageSettings("<CGI_Result><hue>9</hue></CGI_Result>"),
              (std::array<uint8_t, 5>{0, 0, 9, 0, 0}));

    EXPECT_EQ(zq::cgi::mirrorFlip("<CGI_Result><result>0</result><isMirror>1</isMirror>"
                                  "<isFlip>0</isFlip></CGI_Result>"),
              std::make_pair(1, 0));
    EXPECT_EQ(zq::cgi::mirrorFlip("<CGI_Result><isFlip>1</isFlip></CGI_Result>"),
              std::make_pair(0, 1));
    EXPECT_EQ(zq::cgi::mainStreamType("<CGI_Result><result>0</result><streamType>3</streamType>"
                                      "</CGI_Result>"),
              3);
}

TEST(CgiReplies, SnapshotPath) {
    using zq::cgi::snapshotPath;
    EXPECT_EQ(snapshotPath("<html><body><img src=\"../snapPic/Snap_20240101-120000.jpg\"/>"
                           "</body></html>"),
              "snapPic/Snap_20240101-120000.jpg");
    EXPECT_EQ(snapshotPath("<img src=\"../snapPic/a.jpg\""), std::nullopt); // no end mark
    EXPECT_EQ(snapshotPath("<img src=\"../\"/>"), std::nullopt);            // empty
    EXPECT_EQ(snapshotPath("<img src=\"ab\"/> later \"/>"), std::nullopt);  // end inside skip
    EXPECT_EQ(snapshotPath("<img src=\"../../etc/passwd\"/>"), std::nullopt);
    EXPECT_EQ(snapshotPath("<img src=\"../a b.jpg\"/>"), std::nullopt);
    EXPECT_EQ(snapshotPath("<img src=\"../a\r\nX: y\"/>"), std::nullopt);
    const std::string longest(zq::cgi::kMaxSnapshotPath, 'p');
    EXPECT_EQ(snapshotPath("<img src=\"../" + longest + "\"/>"), longest);
    EXPECT_EQ(snapshotPath("<img src=\"../" + longest + "p\"/>"), std::nullopt);
    EXPECT_EQ(snapshotPath("no picture here"), std::nullopt);
}

TEST(CgiReplies, NameListsArePaddedAndTruncated) {
    const std::string longName(400, 'n');
    const std::string cruises = "<CGI_Result>\n<result>0</result>\n<map0>Round</map0>\n"
                                "<map1></map1>\n<map2>" +
                                longName + "</map2>\n<map7>Last</map7>\n</CGI_Result>";
    const std::vector<char> maps = zq::cgi::cruiseMapList(cruises);
    ASSERT_EQ(maps.size(), zq::cgi::kCruiseMaps * zq::cgi::kNameBytes);
    EXPECT_EQ(name(maps, 0), "Round");
    EXPECT_EQ(name(maps, 1), "");
    EXPECT_EQ(name(maps, 2), std::string(255, 'n'));
    EXPECT_EQ(name(maps, 7), "Last");
    // Padding is NUL all the way to the next slot.
    for (size_t i = 5; i < zq::cgi::kNameBytes; ++i)
        ASSERT_EQ(maps[i], '\0') << i;

    std::string points = "<CGI_Result><result>0</result><cnt>16</cnt>";
    for (int i = 0; i < 16; ++i)
        points += "<point" + std::to_string(i) + ">P" + std::to_string(i) + "</point" +
                  std::to_string(i) + ">";
    points += "</CGI_Result>";
    const std::vector<char> list = zq::cgi::presetPointList(points);
    ASSERT_EQ(list.size(), zq::cgi::kPresetPoints * zq::cgi::kNameBytes);
    EXPECT_EQ(name(list, 0), "P0");
    EXPECT_EQ(name(list, 15), "P15");
}

TEST(CgiReplies, GarbageGivesDefaults) {
    std::mt19937 generator(7);
    for (int round = 0; round < 200; ++round) {
        std::string junk(generator() % 600, '\0');
        for (char& c : junk)
            c = static_cast<char>(generator() & 0xFF);
        if (round % 2)
            junk = "<CGI_Result><result>" + junk; // half of them look like the real thing at first
        EXPECT_EQ(zq::cgi::resultCode(junk), zq::cgi::kNoResult);
        EXPECT_EQ(zq::cgi::imageSettings(junk), (std::array<uint8_t, 5>{}));
        EXPECT_EQ(zq::cgi::mirrorFlip(junk), std::make_pair(0, 0));
        EXPECT_EQ(zq::cgi::mainStreamType(junk), 0);
        EXPECT_EQ(zq::cgi::cruiseMapList(junk),
                  std::vector<char>(zq::cgi::kCruiseMaps * zq::cgi::kNameBytes));
        EXPECT_EQ(zq::cgi::snapshotPath(junk), std::nullopt);
    }
}

} // namespace
