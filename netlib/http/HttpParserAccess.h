#pragma once

// Internal to zqnet's tests and fuzz targets: runs a parser over a socket made elsewhere (one end
// of a socketpair), so the response reader can be driven without a TCP connection.

#include "zqnet/CHttpParser.h"

struct HttpParserAccess {
    // The parser takes ownership of `fd` (non-blocking) and closes it like its own socket.
    static void adopt(CHttpParser& parser, int fd) {
        parser.closeHttpSocket();
        parser.quit = false;
        parser.sock = fd;
    }
    static bool hasSocket(const CHttpParser& parser) { return parser.sock >= 0; }
    static const std::string& header(const CHttpParser& parser) { return parser.header; }
};
