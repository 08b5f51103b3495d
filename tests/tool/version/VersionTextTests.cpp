#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "version/VersionText.h"

namespace {

constexpr char Untouched = '#';

struct Extracted {
    bool touched;
    std::string text;
};

Extracted Extract(const std::string& reply, const char* tag, const char* variant,
                  int available = 19) {
    char out[64];
    std::memset(out, Untouched, sizeof(out));
    ExtractVersionText(reply, tag, variant, out, available);
    if (out[0] == Untouched) {
        return {false, ""};
    }
    return {true, std::string(out, strnlen(out, sizeof(out)))};
}

TEST(ExtractVersionText, VersionWithoutVariant) {
    EXPECT_EQ(Extract("BRIDGE_MCU 1.0.0.15", "BRIDGE", "").text, "1.0.0.15");
    // Only the first blank separates the word; the rest belongs to the version.
    EXPECT_EQ(Extract("BRIDGE_MCU 1.0 beta", "BRIDGE", "").text, "1.0 beta");
    EXPECT_EQ(Extract("PEN_KX92_A 3.2.1", "KX92", "").text, "3.2.1");
}

TEST(ExtractVersionText, AnyParenthesisRejectsARowWithoutVariant) {
    const Extracted e = Extract("BRIDGE_MCU 1.0.0.15 (B)", "BRIDGE", "");
    EXPECT_TRUE(e.touched);
    EXPECT_EQ(e.text, "");
    EXPECT_EQ(Extract("TALMER_KBD 2.1.0.3(UK)", "TALMER_KBD", "").text, "");
}

TEST(ExtractVersionText, VariantRowTakesTheTextUpToTheParenthesis) {
    EXPECT_EQ(Extract("TALMER_KBD 2.1.0.3(UK)", "TALMER_KBD", "UK").text, "2.1.0.3");
    // The blank before the parenthesis is part of the copied range.
    EXPECT_EQ(Extract("TALMER_KBD 2.1.0.3 (UK)", "TALMER_KBD", "UK").text, "2.1.0.3 ");
    // The variant may be found anywhere, and a reply without "(" is copied to its end.
    EXPECT_EQ(Extract("TALMER_KBD_UK 2.0", "TALMER_KBD", "UK").text, "2.0");
    EXPECT_EQ(Extract("TALMER_KBD 2.1.0.3 (US)", "TALMER_KBD", "UK").text, "");
}

TEST(ExtractVersionText, TagMustBeInTheFirstWord) {
    EXPECT_EQ(Extract("TALMER_KBD 2.1.0.3(UK)", "KBD_S", "UK").text, "");
    EXPECT_EQ(Extract("MCU 1.0 BRIDGE", "BRIDGE", "").text, "");
    EXPECT_EQ(Extract("bridge_mcu 1.0", "BRIDGE", "").text, ""); // case-sensitive
    EXPECT_EQ(Extract("OSKEN_KBD_D 4.4", "KBD_S", "").text, "");
    EXPECT_EQ(Extract("OSKEN_KBD_D 4.4", "KBD_D", "").text, "4.4");
}

TEST(ExtractVersionText, OddShapes) {
    // "(" before the first blank: the range is empty.
    EXPECT_EQ(Extract("BRIDGE(UK) 1.0", "BRIDGE", "UK").text, "");
    // Nothing after the blank.
    const Extracted trailing = Extract("BRIDGE ", "BRIDGE", "");
    EXPECT_TRUE(trailing.touched);
    EXPECT_EQ(trailing.text, "");
    EXPECT_EQ(Extract("TALMER_KBD (UK)", "TALMER_KBD", "UK").text, "");
    EXPECT_EQ(Extract(" 1.0", "", "").text, "1.0");
}

TEST(ExtractVersionText, MalformedReplyOrNoRoomLeavesTheBufferAlone) {
    EXPECT_FALSE(Extract("BRIDGE_MCU_1.0.0.15", "BRIDGE", "").touched);
    EXPECT_FALSE(Extract("", "BRIDGE", "").touched);
    EXPECT_FALSE(Extract("BRIDGE_MCU 1.0", "BRIDGE", "", 0).touched);
    EXPECT_FALSE(Extract("BRIDGE_MCU 1.0", "BRIDGE", "", -1).touched);
    // The length given is the reply's, not the room left: a small positive value is enough.
    EXPECT_EQ(Extract("BRIDGE_MCU 1.0.0.15", "BRIDGE", "", 1).text, "1.0.0.15");
}

TEST(ExtractVersionText, LongestReplyStaysInsideTheBuffer) {
    const std::string version(52, '7');
    const std::string reply = "BRIDGE_MCU " + version; // 63 characters
    char out[65];
    std::memset(out, Untouched, sizeof(out));
    ExtractVersionText(reply, "BRIDGE", "", out, 63);
    EXPECT_EQ(std::string(out), version);
    EXPECT_EQ(out[64], Untouched);
}

} // namespace
