// GetDriverVersion called in this process, as another program calls the export: MCU versions
// from mcu-sim, the software package's version from the stand-in's registry.
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "SimulatedPlatform.h"
#include "version/GetDriverVersion.h"
#include "winhost/Books.h"
#include "winhost/Registry.h"

namespace {

using Lines = std::vector<std::string>;

constexpr char Untouched = '#';
const std::wstring SoftwareKey =
    L"SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\MCUSoftware";
const std::wstring SoftwareValue = L"MCUSoftwareVersion";

struct Call {
    int32_t result;
    std::string text; // "<untouched>" when the buffer was not written
    int32_t length;
};

class VersionExport : public testing::Test {
  protected:
    void SetUp() override { platform.UseInThisProcess(); }

    void TearDown() override {
        EXPECT_EQ(winhost::OpenRegistryKeys(), 0u);
        EXPECT_EQ(winhost::LiveHandles(), 0u);
    }

    Call Get(const char* name, int32_t bufferLength = 64) {
        char buffer[64];
        std::memset(buffer, Untouched, sizeof(buffer));
        int32_t length = -7;
        const int32_t result = GetDriverVersion(name, buffer, bufferLength, &length);
        const std::string text = buffer[0] == Untouched
                                     ? "<untouched>"
                                     : std::string(buffer, strnlen(buffer, sizeof(buffer)));
        return {result, text, length};
    }

    Lines Errors() const { return Messages(platform.Records(), "ERROR"); }

    SimulatedPlatform platform;
};

TEST_F(VersionExport, BadArguments) {
    char buffer[64];
    int32_t length = 0;
    EXPECT_EQ(Get("BT_MCU", 0).result, 1);
    EXPECT_EQ(GetDriverVersion(nullptr, buffer, 64, &length), 1);
    EXPECT_EQ(GetDriverVersion("BT_MCU", nullptr, 64, &length), 1);
    EXPECT_EQ(GetDriverVersion("BT_MCU", buffer, 64, nullptr), 1);
    EXPECT_EQ(Errors(), Lines(4, "The length of DeviceID should not be zero!"));
}

TEST_F(VersionExport, UnknownNames) {
    for (const char* name : {"bt_mcu", "BT_MCU ", "TALMER_KBD", ""}) {
        const Call call = Get(name);
        EXPECT_EQ(call.result, 1) << name;
        EXPECT_EQ(call.text, "<untouched>");
        EXPECT_EQ(call.length, -7);
    }
    EXPECT_EQ(Errors(), Lines(4, "The Device name is Not find! string id is :-1"));
}

TEST_F(VersionExport, RegistryKindsWithoutASource) {
    for (const char* name : {"MCU_DRIVER", "KB_APP", "PEN_APP"}) {
        EXPECT_EQ(Get(name).result, 1) << name;
    }
    EXPECT_EQ(Errors(), Lines(3, "Retrieve App version Failed! error code:1"));
}

TEST_F(VersionExport, SoftwarePackageFromTheRegistry) {
    ASSERT_TRUE(winhost::SetRegistryString(SoftwareKey, SoftwareValue, L"2.4.1"));
    const Call call = Get("MCU_SOFTWARE");
    EXPECT_EQ(call.result, 0);
    EXPECT_EQ(call.text, "2.4.1");
    EXPECT_EQ(call.length, 5);
    EXPECT_EQ(platform.Records(), "");
}

TEST_F(VersionExport, SoftwarePackageKeyOrValueMissing) {
    Call call = Get("MCU_SOFTWARE");
    EXPECT_EQ(call.result, 5);
    EXPECT_EQ(call.text, "<untouched>");
    EXPECT_EQ(call.length, -7);
    EXPECT_EQ(Errors(), (Lines{"Error: unable to query information about the registry",
                               "Retrieve App version Failed! error code:5"}));

    ASSERT_TRUE(winhost::SetRegistryString(SoftwareKey, L"OtherValue", L"1.0"));
    call = Get("MCU_SOFTWARE");
    EXPECT_EQ(call.result, 5);
    EXPECT_EQ(Errors().at(2), "Error: unable to query Version!,error code:2");
}

// The buffer is 512 bytes of UTF-16: 200 characters and the terminator fit and then fail the
// conversion to 63 characters; 256 characters and the terminator do not fit.
TEST_F(VersionExport, ValueLargerThanTheBufferIsRejected) {
    ASSERT_TRUE(winhost::SetRegistryString(SoftwareKey, SoftwareValue, std::wstring(200, L'9')));
    EXPECT_EQ(Get("MCU_SOFTWARE").result, 5);
    ASSERT_TRUE(winhost::SetRegistryString(SoftwareKey, SoftwareValue, std::wstring(255, L'9')));
    EXPECT_EQ(Get("MCU_SOFTWARE").result, 5);
    ASSERT_TRUE(winhost::SetRegistryString(SoftwareKey, SoftwareValue, std::wstring(256, L'9')));
    EXPECT_EQ(Get("MCU_SOFTWARE").result, 5);
    EXPECT_EQ(Errors(), (Lines{"Retrieve App version Failed! error code:5",
                               "Retrieve App version Failed! error code:5",
                               "Error: unable to query Version!,error code:234",
                               "Retrieve App version Failed! error code:5"}));
}

// The type is preset to a string and not examined: a number's bytes are read as text. A
// DWORD of 0x37 is the units 0x37 and 0, the text "7".
TEST_F(VersionExport, NonStringValueIsReadAsText) {
    const DWORD number = 0x37;
    ASSERT_TRUE(
        winhost::SetRegistryValue(SoftwareKey, SoftwareValue, &number, sizeof(number), REG_DWORD));
    const Call call = Get("MCU_SOFTWARE");
    EXPECT_EQ(call.result, 0);
    EXPECT_EQ(call.text, "7");
    EXPECT_EQ(call.length, 1);
}

// A value that fills the whole read buffer has no terminator: the conversion must stop at the
// bytes returned (here: too long for the version text) instead of reading past the buffer.
TEST_F(VersionExport, UnterminatedValueIsBoundedByTheBytesReturned) {
    const std::vector<WCHAR> full(256, L'7'); // 512 bytes of UTF-16
    ASSERT_TRUE(winhost::SetRegistryValue(SoftwareKey, SoftwareValue, full.data(),
                                          full.size() * sizeof(WCHAR)));
    Call call = Get("MCU_SOFTWARE");
    EXPECT_EQ(call.result, 5);
    EXPECT_EQ(call.text, "<untouched>");
    EXPECT_EQ(Errors(), Lines{"Retrieve App version Failed! error code:5"});

    // A short unterminated value converts exactly what was stored.
    const std::wstring shortText = L"3.1.4";
    ASSERT_TRUE(winhost::SetRegistryValue(SoftwareKey, SoftwareValue, shortText.data(),
                                          shortText.size() * sizeof(WCHAR)));
    call = Get("MCU_SOFTWARE");
    EXPECT_EQ(call.result, 0);
    EXPECT_EQ(call.text, "3.1.4");
    EXPECT_EQ(call.length, 5);
}

TEST_F(VersionExport, SoftwareTextThatDoesNotConvert) {
    // 63 characters fit, 64 do not.
    ASSERT_TRUE(winhost::SetRegistryString(SoftwareKey, SoftwareValue, std::wstring(63, L'1')));
    EXPECT_EQ(Get("MCU_SOFTWARE").length, 63);
    ASSERT_TRUE(winhost::SetRegistryString(SoftwareKey, SoftwareValue, std::wstring(64, L'1')));
    EXPECT_EQ(Get("MCU_SOFTWARE").result, 5);
    // A character that no C locale represents: the Windows runtime's takes 0 to 255 as they
    // are (so an accented Latin letter would convert there), the Linux one only ASCII.
    ASSERT_TRUE(winhost::SetRegistryString(SoftwareKey, SoftwareValue, L"2.4\u20ac"));
    EXPECT_EQ(Get("MCU_SOFTWARE").result, 5);
    EXPECT_EQ(Errors(), Lines(2, "Retrieve App version Failed! error code:5"));
}

TEST_F(VersionExport, BluetoothMcuVersion) {
    ASSERT_TRUE(platform.StartMcuSim({"--version", "bt=BRIDGE_MCU 1.0.0.15"}));
    Call call = Get("BT_MCU");
    EXPECT_EQ(call.result, 0);
    EXPECT_EQ(call.text, "1.0.0.15");
    EXPECT_EQ(call.length, 19); // the raw reply's length
    EXPECT_EQ(Errors(), Lines{});
}

TEST_F(VersionExport, ReplyOfAnotherVariantGivesTheEmptyText) {
    ASSERT_TRUE(platform.StartMcuSim({"--version", "bt=BRIDGE_MCU 1.0.0.15 (B)"}));
    const Call call = Get("BT_MCU");
    EXPECT_EQ(call.result, 0);
    EXPECT_EQ(call.text, "");
    EXPECT_EQ(call.length, 23);
}

TEST_F(VersionExport, KeyboardRowsPickTheirModelAndLayout) {
    ASSERT_TRUE(platform.StartMcuSim({"--version", "kbd=TALMER_KBD 2.1.0.3(UK)"}));
    EXPECT_EQ(Get("TALMER_KBD_KX71_UK").text, "2.1.0.3");
    EXPECT_EQ(Get("TALMER_KBD_KX71").text, "");
    EXPECT_EQ(Get("OSKEN_KBD_S").text, "");
    EXPECT_EQ(Get("OSKEN_KBD_S_UK").text, "");
    EXPECT_EQ(Get("TALMER_KBD_KX71_UK").length, 22);
}

TEST_F(VersionExport, PenAndTouchpadAnswerTheirOwnRequests) {
    ASSERT_TRUE(platform.StartMcuSim(
        {"--version", "pen=PEN_KX92 3.0.2.1", "--version", "tp=TP_MCU 4.2.0.7"}));
    EXPECT_EQ(Get("PEN_KX92").text, "3.0.2.1");
    EXPECT_EQ(Get("TP").text, "4.2.0.7");
}

TEST_F(VersionExport, EachMcuRowAsksItsOwnMcu) {
    const struct {
        const char* name;
        const char* frame;
        const char* mcu;
    } rows[] = {{"BT_MCU", "0900020000031100", "bt"},
                {"TALMER_KBD_KX71_UK", "0500020002031100", "kbd"},
                {"PEN_KX92", "0700020001031100", "pen"},
                {"TP", "0000020000571100", "tp"}};
    ASSERT_TRUE(platform.StartMcuSim({"--trace"}));
    for (const auto& row : rows) {
        EXPECT_EQ(Get(row.name).result, 0) << row.name;
    }
    const std::vector<TracedRequest> requests = platform.TracedRequests();
    ASSERT_EQ(requests.size(), std::size(rows)) << platform.SimulatorTrace();
    for (size_t i = 0; i < requests.size(); ++i) {
        EXPECT_EQ(requests[i].frame, rows[i].frame) << rows[i].name;
        EXPECT_EQ(requests[i].mcu, rows[i].mcu) << rows[i].name;
    }
}

TEST_F(VersionExport, ReplyWithoutBlankLeavesTheBufferAlone) {
    ASSERT_TRUE(platform.StartMcuSim({"--version", "bt=BRIDGE_MCU_1.0.0.15"}));
    const Call call = Get("BT_MCU");
    EXPECT_EQ(call.result, 0);
    EXPECT_EQ(call.text, "<untouched>");
    EXPECT_EQ(call.length, 19);
    EXPECT_EQ(Errors(), Lines{"Version Formate Incorrect!"});
}

TEST_F(VersionExport, FailedExchangeReturnsItsStatus) {
    Call call = Get("BT_MCU"); // no device
    EXPECT_EQ(call.result, 5);
    EXPECT_EQ(call.text, "<untouched>");
    EXPECT_EQ(call.length, -7);

    ASSERT_TRUE(platform.StartMcuSim({"--fault", "0x03=silent"}));
    call = Get("OSKEN_KBD_D");
    EXPECT_EQ(call.result, 4);
    EXPECT_EQ(call.text, "<untouched>");
}

TEST_F(VersionExport, OverlongResponseGives34) {
    ASSERT_TRUE(platform.StartMcuSim({"--fault", "0x03=overlong:70"}));
    const Call call = Get("BT_MCU");
    EXPECT_EQ(call.result, 34);
    EXPECT_EQ(call.text, "<untouched>");
    EXPECT_EQ(Errors().back(), "Copy data Failed! error code:34");
}

} // namespace
