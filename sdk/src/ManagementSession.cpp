#include "ManagementSession.h"

#include "Fields.h"
#include "Heap.h"
#include "Records.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace moltrex {

namespace {

enum : uint16_t {
    kOpGetParams = 4,
    kOpParams = 5,
    kOpSetParams = 6,
    kOpGetTime = 7,
    kOpTime = 8,
    kOpSetTime = 9,
    kOpFactoryReset = 10,
    kOpReboot = 11,
    kOpUpgradeSystem = 12,
    kOpUpgradeApplication = 13,
    kOpGetNet2 = 17,
    kOpNet2 = 18,
    kOpSetNet2 = 19,
    kOpGetDdns = 26,
    kOpDdns = 27,
    kOpRestartDdns = 28,
};

// Reads a whole regular file of at most MO_MAX_FIRMWARE_BYTES; false for anything else.
bool readFirmware(const std::string& path, std::vector<uint8_t>& out) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0 &&
              info.st_size <= MO_MAX_FIRMWARE_BYTES;
    if (ok) {
        out.resize(static_cast<size_t>(info.st_size));
        size_t got = 0;
        while (ok && got < out.size()) {
            const ssize_t n = ::read(fd, out.data() + got, out.size() - got);
            if (n < 0 && errno == EINTR)
                continue;
            ok = n > 0;
            if (ok)
                got += static_cast<size_t>(n);
        }
    }
    ::close(fd);
    return ok;
}

} // namespace

void ManagementSession::onMessage(const Message& message) {
    switch (message.opcode) {
    case kOpParams:
        if (const auto params = unpackCameraParams(message.payload)) {
            if (auto* record = heap::make(*params))
                notify(MO_MSG_PARAMS, reinterpret_cast<MO_LPARAM>(record), true);
        }
        break;
    case kOpTime:
        if (message.payload.size() >= 4)
            notify(MO_MSG_TIME, FieldReader(message.payload).u32());
        break;
    case kOpNet2:
        if (const auto params = unpackNet2Params(message.payload)) {
            if (auto* record = heap::make(*params))
                notify(MO_MSG_NET2, reinterpret_cast<MO_LPARAM>(record), true);
        }
        break;
    case kOpDdns:
        if (message.payload.size() >= 2)
            notify(MO_MSG_DDNS, FieldReader(message.payload).u16());
        break;
    default:
        break; // keep-alive answers and whatever else the camera volunteers
    }
}

int ManagementSession::onRequest(Request& request) {
    FieldWriter payload;
    switch (request.code) {
    case kGetParams:
        return send(kOpGetParams);
    case kSetParams:
        return send(kOpSetParams, request.bytes);
    case kGetTime:
        return send(kOpGetTime);
    case kSetTime:
        payload.u32(request.value1);
        payload.u32(request.value2);
        return send(kOpSetTime, payload.data());
    case kUpgradeSystem:
        return upload(kOpUpgradeSystem, request.path);
    case kUpgradeApplication:
        return upload(kOpUpgradeApplication, request.path);
    case kReboot:
        return send(kOpReboot);
    case kFactoryReset:
        return send(kOpFactoryReset);
    case kGetNet2:
        return send(kOpGetNet2);
    case kSetNet2:
        return send(kOpSetNet2, request.bytes);
    case kGetDdns:
        return send(kOpGetDdns);
    case kRestartDdns:
        return send(kOpRestartDdns);
    default:
        return MO_OK;
    }
}

// The file's length and its bytes in one message. The result reports what the library can know:
// that every byte went out, or why not.
int ManagementSession::upload(uint16_t opcode, const std::string& path) {
    std::vector<uint8_t> file;
    if (!readFirmware(path, file)) {
        notify(MO_MSG_UPGRADE, MO_ERR_FILE);
        return MO_OK;
    }
    FieldWriter payload;
    payload.u32(static_cast<uint32_t>(file.size()));
    payload.bytes(file.data(), file.size());
    file = {};
    const int status = send(opcode, payload.data());
    notify(MO_MSG_UPGRADE, status);
    return status;
}

} // namespace moltrex
