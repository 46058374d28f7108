// The NetXCP client's request building and answer decoding.
#include <gtest/gtest.h>

#include "tools/netxcp/netxcp_decode.h"
#include "tools/netxcp/netxcp_request.h"

namespace {

ByteString Block(uint8_t number, uint8_t sequence, const ByteString& data) {
    ByteString b{0xAB, number, static_cast<uint8_t>(data.size()), sequence};
    b.insert(b.end(), data.begin(), data.end());
    uint8_t sum = 0;
    for (uint8_t x : b) sum = static_cast<uint8_t>(sum + x);
    b.push_back(static_cast<uint8_t>(0x100 - sum));
    return b;
}

ByteString Cat(ByteString a, const ByteString& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(NetXcpRequest, FramesCarryTheirChecksum) {
    EXPECT_EQ(XcpFrame(0x31), (ByteString{0xAB, 0x01, 0x31, 0x23}));
    EXPECT_EQ(XcpFrame(0x33), (ByteString{0xAB, 0x01, 0x33, 0x21}));
    EXPECT_EQ(XcpFrame(0x00), (ByteString{0xAB, 0x01, 0x00, 0x54}));
    ByteString p = PasswordFrame("abc");
    EXPECT_EQ(p.size(), 10u);
    EXPECT_EQ(ByteString(p.begin() + 3, p.begin() + 9), (ByteString{'a', 'b', 'c', 0, 0, 0}));
    EXPECT_EQ(PasswordFrame("Wopra3xyz"), PasswordFrame("Wopra3"));
}

TEST(NetXcpRequest, RequestWords) {
    ByteString out;
    std::string error;
    ASSERT_TRUE(ParseRequestWord("relay", out, error));
    ASSERT_TRUE(ParseRequestWord("cmd:42,00", out, error));
    ASSERT_TRUE(ParseRequestWord("AB:01:33-21", out, error));
    EXPECT_EQ(out, Cat(Cat(XcpFrame(0x00), XcpFrame(0x42, {0x00})), XcpFrame(0x33)));

    for (const char* bad :
         {"relays", "cmd:", "cmd:4", "cmd:4242", "cmd:42,0", "ab0", "a b", "", "xyz"}) {
        ByteString none;
        EXPECT_FALSE(ParseRequestWord(bad, none, error)) << bad;
        EXPECT_TRUE(none.empty()) << bad;
        EXPECT_FALSE(error.empty());
    }
}

TEST(NetXcpDecode, RelayAnswerAcknowledgeAndPadding) {
    ByteString request = Cat(XcpFrame(0x00), XcpFrame(0x8A));
    ByteString answer = Cat(Cat({0x71, 0x6C, 0x6E, 0x00}, Block(0x32, 0x81, {})), {0x00});
    auto lines = DecodeAnswer(answer, request);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "relay identification: \"qln\"");
    EXPECT_EQ(lines[1], "acknowledge code 0x32, 0 data bytes");
    EXPECT_EQ(lines[2], "padding byte 00");
}

TEST(NetXcpDecode, IdentificationOverTwoBlocks) {
    // Two version pairs, a spare byte, then the model text.
    ByteString data{2, 1, 2, 3, 4, 0, 11};
    std::string model = "Ombrex 1500";
    data.insert(data.end(), model.begin(), model.end());
    ByteString first(data.begin(), data.begin() + 5);
    ByteString second(data.begin() + 5, data.end());
    ByteString answer = Cat(Block(0x01, 0x01, first), Block(0x01, 0x82, second));
    auto lines = DecodeAnswer(answer, XcpFrame(0x31));
    ASSERT_EQ(lines.size(), 3u) << lines[0];
    EXPECT_EQ(lines[0].rfind("answer to command 0x31, block 0x01, 18 data bytes", 0), 0u);
    EXPECT_EQ(lines[1], "  firmware versions: 1.2 3.4");
    EXPECT_EQ(lines[2], "  model: Ombrex 1500");
}

TEST(NetXcpDecode, DamagedAnswersAreNamedNotTrusted) {
    ByteString bad = Block(0x03, 0x81, {0x10});
    bad.back() ^= 0xFF;
    auto lines = DecodeAnswer(bad, XcpFrame(0x33));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("bad checksum"), std::string::npos);

    // A block that claims more data than arrived, and a block never closed.
    for (const ByteString& cut :
         {ByteString{0xAB, 0x03, 0x20, 0x81, 0x01}, Block(0x03, 0x01, {1})}) {
        lines = DecodeAnswer(cut, XcpFrame(0x33));
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].rfind("unrecognised bytes", 0), 0u);
    }
    // An identification block too short for its own layout is not decoded.
    Identification id;
    EXPECT_FALSE(DecodeIdentification({3, 1, 2}, id));
    EXPECT_FALSE(DecodeIdentification({}, id));
}

}  // namespace
