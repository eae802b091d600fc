// Feeds arbitrary bytes to the search reply assembler as a run of datagrams (the first byte of
// each chunk gives its length), and every delivered reply to the answer parsers.

#include "search/SearchAnswer.h"
#include "search/SearchWire.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zq::search;
    ReplyAssembler assembler;
    size_t at = 0;
    while (at < size) {
        const size_t want = data[at++] % (kMaxDatagram + 1);
        const size_t length = want < size - at ? want : size - at;
        const size_t before = assembler.buffered();
        if (!assembler.append(data + at, length)) {
            // Refused only when it would pass the limit, and then untouched.
            if (before + length <= ReplyAssembler::kMaxFill || assembler.buffered() != before)
                std::abort();
            assembler.reset();
        }
        at += length;
        assembler.drain([](ReplyKind kind, const uint8_t* reply, size_t replySize) {
            if (kind == kReplyRecord) {
                if (replySize != kRecordBytes || !parseRecord(reply, replySize))
                    std::abort();
                for (const size_t offset : kRecordStringOffsets)
                    if (reply[offset + kRecordStringBytes - 1] != 0)
                        std::abort();
            } else if (kind == kReplyContent) {
                if (replySize > ReplyAssembler::kMaxFill)
                    std::abort();
                const auto answer = parseContent(reply, replySize);
                if (answer.has_value() != (replySize > content::kMinBytes))
                    std::abort();
            } else {
                std::abort();
            }
            return true;
        });
        if (assembler.buffered() > ReplyAssembler::kMaxFill)
            std::abort();
    }
    return 0;
}
