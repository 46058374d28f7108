// Frames, block numbers, authorization rules and what the identification
// reads out of the UPS's answers.
#include "upslink/xcp_identification.h"

#include <gtest/gtest.h>

#include <memory>

#include "upslink/link_error.h"
#include "upslink/serial_link.h"
#include "upslink/xcp_engine.h"

namespace {
std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<uint8_t> v;
    for (int b : values) v.push_back(static_cast<uint8_t>(b));
    return v;
}
std::vector<uint8_t> Text(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }
}  // namespace

TEST(XcpFrames, RequestsCarryLengthCommandDataAndAZeroSum) {
    EXPECT_EQ(BuildXcpRequest(0x31, nullptr, 0), Bytes({0xAB, 0x01, 0x31, 0x23}));
    EXPECT_EQ(BuildXcpRequest(0x33, nullptr, 0), Bytes({0xAB, 0x01, 0x33, 0x21}));
    const uint8_t rate[4] = {0x00, 0x01, 0x00, 0x4B};
    auto frame = BuildXcpRequest(0x98, rate, 4);
    ASSERT_EQ(frame.size(), 8u);
    EXPECT_EQ(frame[1], 5);
    uint8_t sum = 0;
    for (uint8_t b : frame) sum = static_cast<uint8_t>(sum + b);
    EXPECT_EQ(sum, 0);
    // 254 data bytes is the most the length byte can say.
    std::vector<uint8_t> big(255, 0x11);
    EXPECT_EQ(BuildXcpRequest(0x50, big.data(), 254).size(), 258u);
    try {
        BuildXcpRequest(0x50, big.data(), 255);
        ADD_FAILURE() << "a 255-byte request went out with a wrapped length";
    } catch (UpsLinkError* e) {
        std::unique_ptr<UpsLinkError> owned(e);
    }
}

TEST(XcpFrames, ExpectedBlocksAndAuthorizationRules) {
    EXPECT_EQ(XcpEngine::ExpectedBlock(0x31), 0x01);
    EXPECT_EQ(XcpEngine::ExpectedBlock(0x33), 0x03);
    EXPECT_EQ(XcpEngine::ExpectedBlock(0x42), 0x12);
    EXPECT_EQ(XcpEngine::ExpectedBlock(0x98), 0x68);
    EXPECT_EQ(XcpEngine::ExpectedBlock(0xCF), 0x9F);
    EXPECT_EQ(XcpEngine::ExpectedBlock(0xA0), 0x01);
    EXPECT_EQ(XcpEngine::ExpectedBlock(0x00), 0x01);
    EXPECT_EQ(XcpEngine::ExpectedBlock(0x10), 0xE0);  // wraps modulo 256

    SerialLink link("", 1200, 8, 2, 0);
    XcpEngine xcp(link);
    EXPECT_FALSE(xcp.NeedsAuthorization(0x80));
    EXPECT_FALSE(xcp.NeedsAuthorization(0xCE));
    EXPECT_FALSE(xcp.NeedsAuthorization(0xCF));
    EXPECT_FALSE(xcp.NeedsAuthorization(0x00));
    EXPECT_TRUE(xcp.NeedsAuthorization(0x81));
    EXPECT_TRUE(xcp.NeedsAuthorization(0xA0));
    EXPECT_TRUE(xcp.IsCommandSupported(0x00));
    EXPECT_FALSE(xcp.IsCommandSupported(0x33));
    const uint8_t list[2] = {0x33, 0x42};
    xcp.SetSupportedCommands(list, 2);
    EXPECT_TRUE(xcp.IsCommandSupported(0x42));
    EXPECT_FALSE(xcp.IsCommandSupported(0x31));
}

TEST(XcpIdentity, FastestOfferedRateInsideTheAnswer) {
    auto caps = Bytes({0x00, 3, 0xB0, 0x04, 0x60, 0x09, 0x00, 0x4B});
    EXPECT_EQ(ChooseXcpBaud(caps.data(), static_cast<uint32_t>(caps.size())), 19200u);
    auto only1200 = Bytes({0x00, 1, 0xB0, 0x04});
    EXPECT_EQ(ChooseXcpBaud(only1200.data(), 4), 0u);
    // Unordered, and a count promising more than the answer holds.
    auto cut = Bytes({0x00, 9, 0x60, 0x09, 0xB0, 0x04, 0x00});
    EXPECT_EQ(ChooseXcpBaud(cut.data(), static_cast<uint32_t>(cut.size())), 2400u);
    EXPECT_EQ(ChooseXcpBaud(cut.data(), 1), 0u);
    EXPECT_EQ(ChooseXcpBaud(nullptr, 0), 0u);
}

TEST(XcpIdentity, VersionsAndModelTextFromTheBlock) {
    auto block = Bytes({2, 1, 0, 2, 15, 0x00, 15});
    auto text = Text("Quillon 1500 RT");
    block.insert(block.end(), text.begin(), text.end());
    XcpIdentification id =
        ParseXcpIdentification(block.data(), static_cast<uint32_t>(block.size()));
    EXPECT_EQ(id.versions, "1.0 2.15");
    EXPECT_EQ(id.modelText, "Quillon 1500 RT");

    // A text longer than the answer is cut at its end; versions beyond it vanish.
    XcpIdentification cut = ParseXcpIdentification(block.data(), 10);
    EXPECT_EQ(cut.modelText, "Qui");
    auto promise = Bytes({200, 1, 2});
    XcpIdentification many = ParseXcpIdentification(promise.data(), 3);
    EXPECT_EQ(many.versions, "1.2");
    EXPECT_EQ(many.modelText, "");
    auto none = Bytes({0, 0, 4, 'A', 'B', 'C', 'D'});
    EXPECT_EQ(ParseXcpIdentification(none.data(), 7).versions, "");
    EXPECT_EQ(ParseXcpIdentification(none.data(), 7).modelText, "ABCD");
    EXPECT_EQ(ParseXcpIdentification(nullptr, 0).modelText, "");
}

TEST(XcpIdentity, ModelTextSplitsIntoFamilyAndModel) {
    std::string family = "old", model = "old";
    ASSERT_TRUE(SplitModelText("Quillon 1500 RT", family, model));
    EXPECT_EQ(family, "Quillon");
    EXPECT_EQ(model, "1500 RT");
    ASSERT_TRUE(SplitModelText("  Quillon 3000\t", family, model));
    EXPECT_EQ(family, "Quillon");
    EXPECT_EQ(model, "3000");
    ASSERT_TRUE(SplitModelText("Single", family, model));
    EXPECT_EQ(family, "Single");
    EXPECT_EQ(model, "");
    ASSERT_TRUE(SplitModelText("Word ", family, model));
    EXPECT_EQ(model, "");
    // No first word: both stay as they were.
    family = model = "kept";
    EXPECT_FALSE(SplitModelText("", family, model));
    EXPECT_FALSE(SplitModelText("    ", family, model));
    EXPECT_EQ(family, "kept");
    EXPECT_EQ(model, "kept");
}

TEST(XcpIdentity, StatusBytesGiveStates) {
    EXPECT_EQ(UpsStateForStatus(0x10), 2);
    EXPECT_EQ(UpsStateForStatus(0x50), 3);
    EXPECT_EQ(UpsStateForStatus(0x60), 4);
    EXPECT_EQ(UpsStateForStatus(0x80), 4);
    EXPECT_EQ(UpsStateForStatus(0xF0), 5);
    EXPECT_EQ(UpsStateForStatus(0x61), 6);
    EXPECT_EQ(UpsStateForStatus(0x62), 6);
    EXPECT_EQ(UpsStateForStatus(0x63), 7);
    EXPECT_EQ(UpsStateForStatus(0x00), 1);
    EXPECT_EQ(UpsStateForStatus(0x33), 1);
}
