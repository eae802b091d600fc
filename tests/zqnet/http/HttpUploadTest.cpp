// Multipart upload checked by an independent reader: a Python HTTP server that splits the body on
// the announced boundary and writes the file part to disk.

#include "zqnet/CHttpParser.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

struct TempDir {
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "http_upload_XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp");
        path = pattern;
    }
    ~TempDir() { fs::remove_all(path); }
    fs::path path;
};

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(HttpUpload, MultipartFileArrivesIntactAtAnIndependentServer) {
    TempDir dir;
    // Every byte value, and the boundary's own text and CRLFs inside the data, which a sloppy
    // encoder or length computation would get wrong.
    std::string content;
    for (int round = 0; round < 40; ++round)
        for (int b = 0; b < 256; ++b)
            content.push_back(static_cast<char>(b));
    content += "\r\n------ipcamera\r\n--\r\n\r\n";
    const fs::path source = dir.path / "configs.bin";
    std::ofstream(source, std::ios::binary)
        .write(content.data(), static_cast<std::streamsize>(content.size()));
    const fs::path received = dir.path / "received.bin";

    const std::string command = std::string("'") + PYTHON3_EXECUTABLE + "' '" +
                                UPLOAD_SERVER_SCRIPT + "' '" + received.string() + "'";
    FILE* server = ::popen(command.c_str(), "r");
    ASSERT_NE(server, nullptr);
    char line[32] = {};
    const bool gotPort = std::fgets(line, sizeof line, server) != nullptr;
    const int port = gotPort ? std::atoi(line) : 0;

    int response = 0;
    std::string answer;
    if (port > 0) {
        CHttpParser parser;
        EXPECT_EQ(parser.createHttpSocket(), kHttpSuccess);
        EXPECT_NE(parser.setRequest("/upload", "POST", "127.0.0.1", source.c_str(), nullptr),
                  nullptr);
        EXPECT_EQ(parser.httpConnect("127.0.0.1", static_cast<short>(port)), kHttpSuccess);
        EXPECT_EQ(parser.httpRequest(), kHttpSuccess);
        response = parser.httpResponse(500);
        if (parser.GetContentData())
            answer = parser.GetContentData();
        parser.closeHttpSocket();
    }
    const int status = ::pclose(server);
    ASSERT_TRUE(gotPort && port > 0) << "upload server did not start";
    EXPECT_EQ(status, 0);
    EXPECT_EQ(response, kHttpSuccess);
    EXPECT_EQ(answer, "<CGI_Result><result>0</result></CGI_Result>");
    const std::string got = readAll(received);
    ASSERT_EQ(got.size(), content.size());
    EXPECT_TRUE(got == content);
}

} // namespace
