// The "MO_" framing, payload fields and records on the wire, and the checks made before sending.

#include "Fields.h"
#include "Message.h"
#include "Records.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstring>

using namespace moltrex;

namespace {

using Bytes = std::vector<uint8_t>;

// A message as a camera builds it: `declared` and `again` are the two length fields.
Bytes rawMessage(const char* tag, uint16_t opcode, const Bytes& payload,
                 const uint8_t* key = nullptr, uint32_t declared = UINT32_MAX,
                 uint32_t again = UINT32_MAX) {
    FieldWriter out;
    out.bytes(tag, 4);
    out.u16(opcode);
    out.u8(key != nullptr ? 1 : 0);
    if (key != nullptr)
        out.bytes(key, 8);
    else
        out.zeros(8);
    const auto size = static_cast<uint32_t>(payload.size());
    out.u32(declared == UINT32_MAX ? size : declared);
    out.u32(again == UINT32_MAX ? (declared == UINT32_MAX ? size : declared) : again);
    Bytes body = payload;
    if (key != nullptr) {
        for (size_t i = 0; i < body.size(); ++i)
            body[i] ^= key[i % 8];
    }
    out.bytes(body.data(), body.size());
    return out.take();
}

uint32_t address(const char* dotted) {
    in_addr value{};
    EXPECT_EQ(inet_pton(AF_INET, dotted, &value), 1);
    return value.s_addr; // network order, as records hold it
}

MO_CAMERA_PARAMS validParams() {
    MO_CAMERA_PARAMS p{};
    p.ip = address("192.168.1.20");
    p.mask = address("255.255.255.0");
    p.gateway = address("192.168.1.1");
    p.dns = address("192.168.1.1");
    p.httpPort = htons(80);
    std::strcpy(p.alias, "front door");
    std::strcpy(p.users[0].name, "admin");
    std::strcpy(p.users[0].password, "secret");
    p.users[0].privilege = 2;
    std::strcpy(p.users[1].name, "guest");
    p.users[1].privilege = 0;
    // Fields the library overwrites, filled so their normalising shows.
    p.flag31 = 1;
    std::strcpy(p.text32, "ntp");
    p.value33 = 33;
    p.value34 = 34;
    p.value35 = 35;
    p.value36 = 36;
    p.value37 = 37;
    p.value38 = 38;
    p.value39 = 39;
    p.value40 = 40;
    std::strcpy(p.text41, "41");
    std::strcpy(p.text42, "42");
    std::strcpy(p.text43, "43");
    p.value44 = 44;
    std::strcpy(p.text45, "45");
    std::strcpy(p.text46, "46");
    std::strcpy(p.text47, "47");
    std::strcpy(p.text48, "48");
    std::strcpy(p.text49, "49");
    p.value50 = 50;
    std::strcpy(p.text51, "51");
    p.value52 = 52;
    p.value53 = 53;
    p.value54 = 54;
    std::memset(p.block55, 0x55, sizeof p.block55);
    p.value56 = 56;
    return p;
}

TEST(Framing, HeaderCarriesTagOpcodeAndLengthTwiceLittleEndian) {
    const Bytes bytes = encodeMessage(Channel::Operation, 0x0110, {0xAA, 0xBB, 0xCC});
    const Bytes expected = {'M', 'O', '_', 'O', 0x10, 0x01, 0, 0, 0, 0, 0,    0,    0,
                            0,   0,   3,   0,   0,    0,    3, 0, 0, 0, 0xAA, 0xBB, 0xCC};
    EXPECT_EQ(bytes, expected);
}

TEST(Framing, DatagramIsAcceptedOnlyWithItsTagAndExactLength) {
    const Bytes payload = {1, 2, 3, 4};
    const Bytes good = rawMessage("MO_I", 1, payload);
    const auto message = parseDatagram(good.data(), good.size(), Channel::Search);
    ASSERT_TRUE(message);
    EXPECT_EQ(message->opcode, 1);
    EXPECT_EQ(message->payload, payload);

    EXPECT_FALSE(parseDatagram(good.data(), good.size(), Channel::Management)) << "tag";
    Bytes longer = good;
    longer.push_back(0);
    EXPECT_FALSE(parseDatagram(longer.data(), longer.size(), Channel::Search)) << "extra byte";
    EXPECT_FALSE(parseDatagram(good.data(), good.size() - 1, Channel::Search)) << "cut short";
    const Bytes unequal = rawMessage("MO_I", 1, payload, nullptr, 4, 5);
    EXPECT_FALSE(parseDatagram(unequal.data(), unequal.size(), Channel::Search));
    EXPECT_FALSE(parseDatagram(good.data(), 10, Channel::Search)) << "shorter than a header";
}

TEST(Framing, ScrambledPayloadIsRestoredWithTheKeyRepeatingEveryEightBytes) {
    const uint8_t key[8] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
    Bytes payload(21);
    for (size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<uint8_t>('a' + i);
    const Bytes scrambled = rawMessage("MO_V", 1, payload, key);
    // The bytes on the wire really differ, including past the first eight.
    EXPECT_NE(scrambled[kHeaderBytes + 10], payload[10]);

    const auto datagram = parseDatagram(scrambled.data(), scrambled.size(), Channel::Video);
    ASSERT_TRUE(datagram);
    EXPECT_EQ(datagram->payload, payload);

    StreamReader reader(Channel::Video);
    reader.feed(scrambled.data(), scrambled.size());
    Message streamed;
    ASSERT_EQ(reader.next(streamed), StreamReader::Result::Message);
    EXPECT_EQ(streamed.payload, payload);
}

TEST(Framing, StreamReaderCutsMessagesFromAnyByteBoundaries) {
    Bytes stream = rawMessage("MO_M", 5, Bytes(300, 7));
    const Bytes second = rawMessage("MO_M", 8, {1, 2, 3, 4, 5, 6, 7, 8});
    const Bytes third = rawMessage("MO_M", 255, {});
    stream.insert(stream.end(), second.begin(), second.end());
    stream.insert(stream.end(), third.begin(), third.end());

    StreamReader reader(Channel::Management);
    std::vector<Message> got;
    for (uint8_t byte : stream) {
        reader.feed(&byte, 1);
        Message message;
        while (reader.next(message) == StreamReader::Result::Message)
            got.push_back(message);
    }
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].opcode, 5);
    EXPECT_EQ(got[0].payload, Bytes(300, 7));
    EXPECT_EQ(got[1].opcode, 8);
    EXPECT_EQ(got[2].opcode, 255);
    EXPECT_TRUE(got[2].payload.empty());
    EXPECT_EQ(reader.pending(), 0u);
}

TEST(Framing, StreamReaderBreaksForGoodOnForeignTagsAndImpossibleLengths) {
    struct Case {
        const char* what;
        Bytes bytes;
    } cases[] = {
        {"foreign tag", rawMessage("MO_O", 1, {1})},
        {"lengths differ", rawMessage("MO_M", 1, {1}, nullptr, 1, 2)},
        {"larger than the receive buffer",
         rawMessage("MO_M", 1, {}, nullptr, static_cast<uint32_t>(kMaxReceivedPayload + 1))},
        {"negative length", rawMessage("MO_M", 1, {}, nullptr, 0xFFFFFFFFu - 1)},
    };
    for (const Case& c : cases) {
        StreamReader reader(Channel::Management);
        reader.feed(c.bytes.data(), c.bytes.size());
        Message message;
        EXPECT_EQ(reader.next(message), StreamReader::Result::Broken) << c.what;
        const Bytes good = rawMessage("MO_M", 1, {});
        reader.feed(good.data(), good.size());
        EXPECT_EQ(reader.next(message), StreamReader::Result::Broken) << c.what << ": stays broken";
    }
}

TEST(Framing, LargestPayloadThatFitsTheReceiveBufferPasses) {
    const Bytes largest = rawMessage("MO_V", 1, Bytes(kMaxReceivedPayload, 0x42));
    ASSERT_EQ(largest.size(), kReceiveBufferBytes);
    StreamReader reader(Channel::Video);
    EXPECT_EQ(reader.feed(largest.data(), largest.size()), largest.size());
    Message message;
    ASSERT_EQ(reader.next(message), StreamReader::Result::Message);
    EXPECT_EQ(message.payload.size(), kMaxReceivedPayload);
}

TEST(Fields, ReadsPastTheEndYieldZerosAndFailOnceForAll) {
    const Bytes bytes = {0x34, 0x12, 0x78, 0x56};
    FieldReader in(bytes);
    EXPECT_EQ(in.u16(), 0x1234);
    EXPECT_EQ(in.u8(), 0x78);
    EXPECT_EQ(in.u32(), 0u) << "three bytes short";
    EXPECT_FALSE(in.ok());
    EXPECT_EQ(in.u8(), 0) << "stays failed though a byte is left";
}

TEST(Fields, TextIsCutAtTheLastByteOfItsField) {
    const Bytes bytes(13, 'x');
    FieldReader in(bytes);
    char text[13];
    in.text(text, sizeof text);
    EXPECT_TRUE(in.ok());
    EXPECT_EQ(std::string(text), std::string(12, 'x'));
}

TEST(SearchAnswer, FieldsLandInTheRecordInTheirOrder) {
    FieldWriter answer;
    answer.text("0012AB34CD56", 13);
    answer.bytes(std::string(21, 'N').data(), 21); // a name without its NUL
    const uint32_t ip = address("10.1.2.3"), mask = address("255.255.0.0"),
                   gateway = address("10.1.0.1"), dns = address("8.8.8.8");
    answer.bytes(&ip, 4);
    answer.bytes(&mask, 4);
    answer.bytes(&gateway, 4);
    answer.bytes(&dns, 4);
    answer.u32(0xDEADBEEF);
    answer.u32(0x01020304);
    answer.u32(0x05060708);
    answer.u16(8080);
    ASSERT_EQ(answer.data().size(), kSearchAnswerBytes);

    const auto record = parseSearchAnswer(answer.data());
    ASSERT_TRUE(record);
    EXPECT_STREQ(record->id, "0012AB34CD56");
    EXPECT_EQ(std::string(record->name), std::string(20, 'N'));
    EXPECT_EQ(record->ip, ip);
    EXPECT_EQ(record->mask, mask);
    EXPECT_EQ(record->gateway, gateway);
    EXPECT_EQ(record->dns, dns);
    EXPECT_EQ(record->reserved, 0u);
    EXPECT_EQ(record->sysVersion, 0x01020304u);
    EXPECT_EQ(record->appVersion, 0x05060708u);
    EXPECT_EQ(ntohs(record->httpPort), 8080);

    Bytes shortAnswer = answer.data();
    shortAnswer.pop_back();
    EXPECT_FALSE(parseSearchAnswer(shortAnswer));
}

TEST(AddressRules, UnicastMaskAndNetworkChecks) {
    EXPECT_FALSE(isUnicast(0x00FFFFFF));
    EXPECT_TRUE(isUnicast(0x01000000));
    EXPECT_TRUE(isUnicast(0xDFFFFFFF));
    EXPECT_FALSE(isUnicast(0xE0000000)) << "multicast";

    EXPECT_TRUE(isValidMask(0xFFFFFF00));
    EXPECT_TRUE(isValidMask(0xE0000000)) << "the top three bits are enough";
    EXPECT_FALSE(isValidMask(0xC0000000)) << "two bits are not";
    EXPECT_FALSE(isValidMask(0xFFFF00FF)) << "not one run";
    EXPECT_FALSE(isValidMask(0x7FFFFF00)) << "not from the top bit";

    const uint32_t mask = 0xFFFFFF00;
    EXPECT_TRUE(validNetwork(0xC0A80114, mask, 0xC0A80101, 0x08080808));
    EXPECT_FALSE(validNetwork(0xC0A80100, mask, 0xC0A80101, 0x08080808)) << "network address";
    EXPECT_FALSE(validNetwork(0xC0A80114, mask, 0xC0A80201, 0x08080808)) << "gateway elsewhere";
    EXPECT_FALSE(validNetwork(0xC0A80114, mask, 0xC0A80101, 0)) << "no DNS";
    EXPECT_FALSE(validNetwork(0xC0A80114, mask, 0xC0A80101, 0xF0000001)) << "DNS not unicast";
    EXPECT_FALSE(validNetwork(0xE0000001, 0xE0000000, 0xE0000002, 0x08080808)) << "multicast";
    EXPECT_FALSE(validNetwork(0xC0A80114, 0xFFFFFFFF, 0xC0A80114, 0x08080808))
        << "no host bits left outside the mask";
    EXPECT_TRUE(validNetwork(0, 0x12345678, 0xFFFFFFFF, 0)) << "0 is DHCP";
}

TEST(SetupRequest, CarriesVersionIdsAndAddressesInOrder) {
    MO_INIT_RECORD record{};
    std::strcpy(record.id, "0012AB34CD56");
    std::strcpy(record.user, "admin");
    std::strcpy(record.password, "pw");
    record.ip = address("192.168.0.9");
    record.mask = address("255.255.255.0");
    record.gateway = address("192.168.0.1");
    record.dns = address("1.1.1.1");
    const auto payload = encodeSetupRequest(record);
    ASSERT_TRUE(payload);
    ASSERT_EQ(payload->size(), 4u + 13 * 3 + 16);
    FieldReader in(*payload);
    EXPECT_EQ(in.u32(), 0x01000000u);
    char text[13];
    in.text(text, 13);
    EXPECT_STREQ(text, "0012AB34CD56");
    in.text(text, 13);
    EXPECT_STREQ(text, "admin");
    in.text(text, 13);
    EXPECT_STREQ(text, "pw");
    uint32_t addresses[4];
    in.bytes(addresses, sizeof addresses);
    EXPECT_EQ(addresses[0], record.ip);
    EXPECT_EQ(addresses[1], record.mask);
    EXPECT_EQ(addresses[2], record.gateway);
    EXPECT_EQ(addresses[3], record.dns);
}

TEST(SetupRequest, AddressZeroSendsZeroMaskGatewayAndDnsAndBadIdsAreRefused) {
    MO_INIT_RECORD record{};
    std::strcpy(record.id, "0012AB34CD56");
    record.mask = address("255.0.0.0");
    record.gateway = address("10.0.0.1");
    record.dns = address("10.0.0.2");
    const auto payload = encodeSetupRequest(record);
    ASSERT_TRUE(payload);
    EXPECT_EQ(Bytes(payload->end() - 16, payload->end()), Bytes(16, 0));

    std::strcpy(record.id, "0012AB34CD5");
    EXPECT_FALSE(encodeSetupRequest(record)) << "11 characters";
    record.ip = address("10.0.0.0");
    std::strcpy(record.id, "0012AB34CD56");
    EXPECT_FALSE(encodeSetupRequest(record)) << "the network address itself";
}

TEST(CameraParams, PackedRecordIs2410BytesWithFieldsAtTheirPlaces) {
    const MO_CAMERA_PARAMS p = validParams();
    const Bytes wire = packCameraParams(p);
    ASSERT_EQ(wire.size(), static_cast<size_t>(MO_PARAMS_WIRE_SIZE));
    // Offsets added up from the field widths: addresses 16, port 2, alias 21, users 8 x 27, ...
    EXPECT_EQ(std::memcmp(wire.data(), &p.ip, 4), 0);
    EXPECT_EQ(wire[16], 0);
    EXPECT_EQ(wire[17], 80) << "port in network order";
    EXPECT_STREQ(reinterpret_cast<const char*>(&wire[18]), "front door");
    EXPECT_STREQ(reinterpret_cast<const char*>(&wire[39]), "admin");
    EXPECT_STREQ(reinterpret_cast<const char*>(&wire[52]), "secret");
    EXPECT_EQ(wire[65], 2) << "first user's privilege";
    EXPECT_STREQ(reinterpret_cast<const char*>(&wire[66]), "guest");
    EXPECT_EQ(wire[255], 1) << "field 31";
    EXPECT_EQ(wire[277], 33) << "field 33";
    EXPECT_EQ(FieldReader(&wire[278], 4).u32(), 34u) << "field 34, right after 33: no gap";
    EXPECT_EQ(FieldReader(&wire[282], 2).u16(), 35u);
    EXPECT_EQ(FieldReader(&wire[288], 2).u16(), 38u);
    EXPECT_EQ(wire[290], 39);
    EXPECT_EQ(wire[355], 44);
    EXPECT_STREQ(reinterpret_cast<const char*>(&wire[356]), "45");
    EXPECT_EQ(wire[501], 50);
    EXPECT_EQ(FieldReader(&wire[523], 4).u32(), 52u);
    EXPECT_EQ(wire[527], 53);
    EXPECT_EQ(wire[528], 54);
    EXPECT_EQ(wire[529], 0x55) << "field 55";
    EXPECT_EQ(wire[2408], 0x55);
    EXPECT_EQ(wire[2409], 56);

    const auto back = unpackCameraParams(wire);
    ASSERT_TRUE(back);
    EXPECT_EQ(packCameraParams(*back), wire);
    EXPECT_FALSE(unpackCameraParams(Bytes(wire.begin(), wire.end() - 1)));
}

TEST(CameraParams, ReceivedTextsEndInsideTheirFields) {
    Bytes wire = packCameraParams(validParams());
    std::memset(&wire[18], 'A', 21);  // alias without NUL
    std::memset(&wire[39], 'B', 13);  // first user name without NUL
    std::memset(&wire[356], 'C', 41); // field 45
    const auto params = unpackCameraParams(wire);
    ASSERT_TRUE(params);
    EXPECT_EQ(std::string(params->alias), std::string(20, 'A'));
    EXPECT_EQ(std::string(params->users[0].name), std::string(12, 'B'));
    EXPECT_EQ(std::string(params->text45), std::string(40, 'C'));
    EXPECT_EQ(params->leading[0], 0);
}

TEST(CameraParams, NormalisingSetsTheListedFieldsAndKeepsTheRest) {
    const MO_CAMERA_PARAMS given = validParams();
    const auto sent = normaliseCameraParams(given);
    ASSERT_TRUE(sent);
    EXPECT_EQ(sent->flag31, 0);
    EXPECT_EQ(sent->value34, 0u);
    EXPECT_EQ(sent->value35, 0);
    EXPECT_EQ(sent->value36, 0);
    EXPECT_EQ(sent->value37, 100);
    EXPECT_EQ(sent->value38, 100);
    EXPECT_EQ(sent->value40, 0);
    EXPECT_EQ(sent->value50, 0);
    EXPECT_EQ(sent->value52, 13u);
    EXPECT_EQ(sent->value53, 0);
    EXPECT_EQ(sent->value54, 0);
    EXPECT_EQ(sent->value56, 0);
    for (const char* text : {sent->text32, sent->text41, sent->text42, sent->text43, sent->text51})
        EXPECT_STREQ(text, "");
    EXPECT_EQ(Bytes(sent->block55, sent->block55 + 1880), Bytes(1880, 0));
    // Unchanged: 1-30, 33, 39, 44-49.
    EXPECT_EQ(sent->ip, given.ip);
    EXPECT_EQ(sent->dns, given.dns);
    EXPECT_EQ(sent->httpPort, given.httpPort);
    EXPECT_STREQ(sent->alias, "front door");
    EXPECT_EQ(std::memcmp(sent->users, given.users, sizeof given.users), 0);
    EXPECT_EQ(sent->value33, 33);
    EXPECT_EQ(sent->value39, 39);
    EXPECT_EQ(sent->value44, 44);
    EXPECT_STREQ(sent->text45, "45");
    EXPECT_STREQ(sent->text46, "46");
    EXPECT_STREQ(sent->text47, "47");
    EXPECT_STREQ(sent->text49, "49");
}

TEST(CameraParams, EveryFailedCheckRefusesTheRecord) {
    struct Case {
        const char* what;
        void (*spoil)(MO_CAMERA_PARAMS&);
    } cases[] = {
        {"address below 1.0.0.0", [](MO_CAMERA_PARAMS& p) { p.ip = address("0.1.2.3"); }},
        {"multicast address", [](MO_CAMERA_PARAMS& p) { p.ip = address("224.0.0.5"); }},
        {"mask of two bits", [](MO_CAMERA_PARAMS& p) { p.mask = address("192.0.0.0"); }},
        {"mask with a hole", [](MO_CAMERA_PARAMS& p) { p.mask = address("255.0.255.0"); }},
        {"network address", [](MO_CAMERA_PARAMS& p) { p.ip = address("192.168.1.0"); }},
        {"gateway elsewhere", [](MO_CAMERA_PARAMS& p) { p.gateway = address("192.168.2.1"); }},
        {"DNS multicast", [](MO_CAMERA_PARAMS& p) { p.dns = address("239.1.1.1"); }},
        {"search port", [](MO_CAMERA_PARAMS& p) { p.httpPort = htons(10000); }},
        {"privilege 3", [](MO_CAMERA_PARAMS& p) { p.users[5].privilege = 3; }},
        {"no administrator", [](MO_CAMERA_PARAMS& p) { p.users[0].privilege = 1; }},
        {"administrator without a name",
         [](MO_CAMERA_PARAMS& p) {
             p.users[0].privilege = 1;
             p.users[7].privilege = 2; // an empty slot does not count
         }},
    };
    for (const Case& c : cases) {
        MO_CAMERA_PARAMS p = validParams();
        c.spoil(p);
        EXPECT_FALSE(normaliseCameraParams(p)) << c.what;
    }
    MO_CAMERA_PARAMS dhcp = validParams();
    dhcp.ip = 0;
    dhcp.gateway = address("224.1.1.1"); // ignored and cleared with address 0
    const auto sent = normaliseCameraParams(dhcp);
    ASSERT_TRUE(sent);
    EXPECT_EQ(sent->mask, 0u);
    EXPECT_EQ(sent->gateway, 0u);
    EXPECT_EQ(sent->dns, 0u);
}

TEST(Net2Params, RoundTripAndChecks) {
    MO_NET2_PARAMS p{};
    p.dns2 = address("9.9.9.9");
    p.dhcp = 1;
    p.pppoe = 1;
    std::strcpy(p.pppoeUser, "dsl-user");
    std::strcpy(p.pppoePassword, "dsl-pass");
    ASSERT_TRUE(validNet2Params(p));
    const Bytes wire = packNet2Params(p);
    ASSERT_EQ(wire.size(), kNet2WireBytes);
    EXPECT_STREQ(reinterpret_cast<const char*>(&wire[8]), "dsl-user");
    EXPECT_STREQ(reinterpret_cast<const char*>(&wire[49]), "dsl-pass");
    const auto back = unpackNet2Params(wire);
    ASSERT_TRUE(back);
    EXPECT_EQ(std::memcmp(&*back, &p, sizeof p), 0);

    MO_NET2_PARAMS bad = p;
    bad.upnp = 2;
    EXPECT_FALSE(validNet2Params(bad));
    bad = p;
    std::memset(bad.pppoeUser, 'u', sizeof bad.pppoeUser);
    EXPECT_FALSE(validNet2Params(bad)) << "text without a NUL";
}

} // namespace
