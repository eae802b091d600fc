#include "Records.h"

#include "Fields.h"

#include <arpa/inet.h>
#include <cstring>

namespace moltrex {

static_assert(sizeof(MO_SEARCH_RECORD) == 68, "the search record is 68 bytes");
static_assert(offsetof(MO_SEARCH_RECORD, ip) == 36 && offsetof(MO_SEARCH_RECORD, httpPort) == 52 &&
                  offsetof(MO_SEARCH_RECORD, sysVersion) == 60,
              "search record offsets");
static_assert(sizeof(MO_INIT_RECORD) == 56 && offsetof(MO_INIT_RECORD, ip) == 40,
              "the set-up record is 56 bytes with its addresses from offset 40");
static_assert(sizeof(MO_USER) == 27, "a user is 27 bytes");
static_assert(offsetof(MO_CAMERA_PARAMS, ip) == 28, "the leading block is 28 bytes");
static_assert(sizeof(MO_NET2_PARAMS) == kNet2WireBytes, "the network record has no hidden gaps");

bool validCameraId(const char* id) {
    return id != nullptr && strnlen(id, MO_ID_SIZE) == MO_ID_SIZE - 1;
}

bool validCredential(const char* text) {
    return text != nullptr && strnlen(text, MO_USER_SIZE) < MO_USER_SIZE;
}

bool isUnicast(uint32_t address) {
    return address > 0x00FFFFFFu && address < 0xE0000000u;
}

bool isValidMask(uint32_t mask) {
    const uint32_t hostBits = ~mask;
    // One run of ones from the top bit: the host bits are a run of ones from the bottom.
    return mask >= 0xE0000000u && (hostBits & (hostBits + 1)) == 0;
}

bool validNetwork(uint32_t address, uint32_t mask, uint32_t gateway, uint32_t dns) {
    if (address == 0)
        return true;
    return isUnicast(address) && isValidMask(mask) && (address & ~mask) != 0 &&
           (address & mask) == (gateway & mask) && isUnicast(dns);
}

std::optional<MO_SEARCH_RECORD> parseSearchAnswer(const std::vector<uint8_t>& payload) {
    if (payload.size() < kSearchAnswerBytes)
        return std::nullopt;
    FieldReader in(payload);
    MO_SEARCH_RECORD record{};
    in.text(record.id, sizeof record.id);
    in.text(record.name, sizeof record.name);
    in.bytes(&record.ip, 4);
    in.bytes(&record.mask, 4);
    in.bytes(&record.gateway, 4);
    in.bytes(&record.dns, 4);
    in.skip(4); // a value without meaning; the record's reserved word stays 0
    record.sysVersion = in.u32();
    record.appVersion = in.u32();
    record.httpPort = htons(in.u16());
    return record;
}

std::vector<uint8_t> encodeSearchRequest() {
    FieldWriter out;
    out.u32(kProtocolVersion);
    return out.take();
}

std::optional<std::vector<uint8_t>> encodeSetupRequest(const MO_INIT_RECORD& record) {
    if (!validCameraId(record.id))
        return std::nullopt;
    const uint32_t address = ntohl(record.ip);
    if (!validNetwork(address, ntohl(record.mask), ntohl(record.gateway), ntohl(record.dns)))
        return std::nullopt;
    const uint32_t none = 0;
    FieldWriter out;
    out.u32(kProtocolVersion);
    out.text(record.id, MO_ID_SIZE);
    out.text(record.user, MO_USER_SIZE);
    out.text(record.password, MO_USER_SIZE);
    out.bytes(&record.ip, 4);
    out.bytes(address == 0 ? &none : &record.mask, 4);
    out.bytes(address == 0 ? &none : &record.gateway, 4);
    out.bytes(address == 0 ? &none : &record.dns, 4);
    return out.take();
}

std::optional<MO_CAMERA_PARAMS> normaliseCameraParams(const MO_CAMERA_PARAMS& params) {
    MO_CAMERA_PARAMS out = params;
    if (!validNetwork(ntohl(out.ip), ntohl(out.mask), ntohl(out.gateway), ntohl(out.dns)))
        return std::nullopt;
    if (out.ip == 0) {
        out.mask = 0;
        out.gateway = 0;
        out.dns = 0;
    }
    // The search and set-up live on port 10000; a web port there would lose the camera.
    if (ntohs(out.httpPort) == kSearchPort)
        return std::nullopt;
    bool administrator = false;
    for (const MO_USER& user : out.users) {
        if (user.privilege > 2)
            return std::nullopt;
        if (user.privilege == 2 && user.name[0] != '\0')
            administrator = true;
    }
    // Without an administrator nobody could change the camera again.
    if (!administrator)
        return std::nullopt;

    out.flag31 = 0;
    out.value34 = 0;
    out.value35 = 0;
    out.value36 = 0;
    out.value40 = 0;
    out.value50 = 0;
    out.value53 = 0;
    out.value54 = 0;
    out.value56 = 0;
    std::memset(out.text32, 0, sizeof out.text32);
    std::memset(out.text41, 0, sizeof out.text41);
    std::memset(out.text42, 0, sizeof out.text42);
    std::memset(out.text43, 0, sizeof out.text43);
    std::memset(out.text51, 0, sizeof out.text51);
    out.value37 = 100;
    out.value38 = 100;
    out.value52 = 13;
    std::memset(out.block55, 0, sizeof out.block55);
    return out;
}

// Texts are sent as the full field, byte for byte, as the camera stores them.
std::vector<uint8_t> packCameraParams(const MO_CAMERA_PARAMS& p) {
    FieldWriter out;
    out.bytes(&p.ip, 4);
    out.bytes(&p.mask, 4);
    out.bytes(&p.gateway, 4);
    out.bytes(&p.dns, 4);
    out.bytes(&p.httpPort, 2);
    out.bytes(p.alias, sizeof p.alias);
    for (const MO_USER& user : p.users) {
        out.bytes(user.name, sizeof user.name);
        out.bytes(user.password, sizeof user.password);
        out.u8(user.privilege);
    }
    out.u8(p.flag31);
    out.bytes(p.text32, sizeof p.text32);
    out.u8(p.value33);
    out.u32(p.value34);
    out.u16(p.value35);
    out.u16(p.value36);
    out.u16(p.value37);
    out.u16(p.value38);
    out.u8(p.value39);
    out.u8(p.value40);
    out.bytes(p.text41, sizeof p.text41);
    out.bytes(p.text42, sizeof p.text42);
    out.bytes(p.text43, sizeof p.text43);
    out.u8(p.value44);
    out.bytes(p.text45, sizeof p.text45);
    out.bytes(p.text46, sizeof p.text46);
    out.bytes(p.text47, sizeof p.text47);
    out.bytes(p.text48, sizeof p.text48);
    out.bytes(p.text49, sizeof p.text49);
    out.u8(p.value50);
    out.bytes(p.text51, sizeof p.text51);
    out.u32(p.value52);
    out.u8(p.value53);
    out.u8(p.value54);
    out.bytes(p.block55, sizeof p.block55);
    out.u8(p.value56);
    return out.take();
}

std::optional<MO_CAMERA_PARAMS> unpackCameraParams(const std::vector<uint8_t>& payload) {
    if (payload.size() < MO_PARAMS_WIRE_SIZE)
        return std::nullopt;
    FieldReader in(payload);
    MO_CAMERA_PARAMS p{};
    in.bytes(&p.ip, 4);
    in.bytes(&p.mask, 4);
    in.bytes(&p.gateway, 4);
    in.bytes(&p.dns, 4);
    in.bytes(&p.httpPort, 2);
    in.text(p.alias, sizeof p.alias);
    for (MO_USER& user : p.users) {
        in.text(user.name, sizeof user.name);
        in.text(user.password, sizeof user.password);
        user.privilege = in.u8();
    }
    p.flag31 = in.u8();
    in.text(p.text32, sizeof p.text32);
    p.value33 = in.u8();
    p.value34 = in.u32();
    p.value35 = in.u16();
    p.value36 = in.u16();
    p.value37 = in.u16();
    p.value38 = in.u16();
    p.value39 = in.u8();
    p.value40 = in.u8();
    in.text(p.text41, sizeof p.text41);
    in.text(p.text42, sizeof p.text42);
    in.text(p.text43, sizeof p.text43);
    p.value44 = in.u8();
    in.text(p.text45, sizeof p.text45);
    in.text(p.text46, sizeof p.text46);
    in.text(p.text47, sizeof p.text47);
    in.text(p.text48, sizeof p.text48);
    in.text(p.text49, sizeof p.text49);
    p.value50 = in.u8();
    in.text(p.text51, sizeof p.text51);
    p.value52 = in.u32();
    p.value53 = in.u8();
    p.value54 = in.u8();
    in.bytes(p.block55, sizeof p.block55);
    p.value56 = in.u8();
    if (!in.ok())
        return std::nullopt;
    return p;
}

namespace {

bool terminated(const char* text, size_t width) {
    return strnlen(text, width) < width;
}

} // namespace

bool validNet2Params(const MO_NET2_PARAMS& params) {
    return params.dhcp <= 1 && params.upnp <= 1 && params.pppoe <= 1 &&
           terminated(params.pppoeUser, sizeof params.pppoeUser) &&
           terminated(params.pppoePassword, sizeof params.pppoePassword);
}

std::vector<uint8_t> packNet2Params(const MO_NET2_PARAMS& params) {
    FieldWriter out;
    out.bytes(&params.dns2, 4);
    out.u8(params.dhcp);
    out.u8(params.upnp);
    out.u8(params.pppoe);
    out.u8(0);
    out.text(params.pppoeUser, sizeof params.pppoeUser);
    out.text(params.pppoePassword, sizeof params.pppoePassword);
    out.zeros(2);
    return out.take();
}

std::optional<MO_NET2_PARAMS> unpackNet2Params(const std::vector<uint8_t>& payload) {
    if (payload.size() < kNet2WireBytes)
        return std::nullopt;
    FieldReader in(payload);
    MO_NET2_PARAMS params{};
    in.bytes(&params.dns2, 4);
    params.dhcp = in.u8();
    params.upnp = in.u8();
    params.pppoe = in.u8();
    in.skip(1);
    in.text(params.pppoeUser, sizeof params.pppoeUser);
    in.text(params.pppoePassword, sizeof params.pppoePassword);
    return params;
}

} // namespace moltrex
