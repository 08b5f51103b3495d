#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "version/ComponentTable.h"

namespace {

TEST(ComponentTable, RowsInOrderWithTheirKinds) {
    const char* names[] = {
        "BT_MCU",         "MCU_SOFTWARE", "TALMER_KBD_KX71", "TALMER_KBD_KX71_UK", "OSKEN_KBD_S",
        "OSKEN_KBD_S_UK", "OSKEN_KBD_D",  "OSKEN_KBD_D_UK",  "PEN_KX92",           "TP",
        "MCU_DRIVER",     "KB_APP",       "PEN_APP"};
    const uint32_t kinds[] = {8, 1, 6, 6, 6, 6, 6, 6, 7, 9, 2, 3, 4};
    ASSERT_EQ(ComponentCount, std::size(names));
    for (size_t i = 0; i < ComponentCount; ++i) {
        EXPECT_STREQ(ComponentTable[i].name, names[i]) << i;
        EXPECT_EQ(ComponentTable[i].kind, kinds[i]) << i;
        EXPECT_EQ(FindComponent(names[i]), static_cast<int>(i));
    }
}

TEST(ComponentTable, KeyboardRowsDifferInTagAndVariantOnly) {
    EXPECT_STREQ(ComponentTable[2].tag, "TALMER_KBD");
    EXPECT_STREQ(ComponentTable[2].variant, "");
    EXPECT_STREQ(ComponentTable[3].tag, "TALMER_KBD");
    EXPECT_STREQ(ComponentTable[3].variant, "UK");
    EXPECT_STREQ(ComponentTable[5].tag, "KBD_S");
    EXPECT_STREQ(ComponentTable[7].tag, "KBD_D");
    EXPECT_STREQ(ComponentTable[7].variant, "UK");
    EXPECT_STREQ(ComponentTable[0].tag, "BRIDGE");
    EXPECT_STREQ(ComponentTable[8].tag, "KX92");
    // Registry rows carry their name as tag.
    EXPECT_STREQ(ComponentTable[1].tag, "MCU_SOFTWARE");
}

TEST(ComponentTable, FindComponentIsExact) {
    EXPECT_EQ(FindComponent("BT_MCU"), 0);
    EXPECT_EQ(FindComponent("bt_mcu"), -1);
    EXPECT_EQ(FindComponent("BT_MCU "), -1);
    EXPECT_EQ(FindComponent(" BT_MCU"), -1);
    EXPECT_EQ(FindComponent("BT_MC"), -1);
    EXPECT_EQ(FindComponent("TALMER_KBD"), -1); // a tag is not a name
    EXPECT_EQ(FindComponent(""), -1);
    EXPECT_EQ(FindComponent("TALMER_KBD_KX71_U"), -1);
}

TEST(ComponentTable, RegistrySourceOnlyForTheSoftwarePackage) {
    const RegistryVersionSource* source = FindRegistrySource(McuSoftware);
    ASSERT_NE(source, nullptr);
    const std::wstring subKey = source->subKey;
    EXPECT_EQ(subKey, L"SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\MCUSoftware");
    EXPECT_EQ(subKey.size(), 65u);
    EXPECT_EQ(std::wstring(source->valueName), L"MCUSoftwareVersion");
    for (int32_t kind : {0, 2, 3, 4, 5, 6, 8, 9, 10, -1}) {
        EXPECT_EQ(FindRegistrySource(kind), nullptr) << kind;
    }
}

} // namespace
