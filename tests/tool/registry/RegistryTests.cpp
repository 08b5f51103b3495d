// The stand-in's registry as the tool reads it, and winhost-reg that writes it.
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

#include "HostRoot.h"
#include "winhost/Registry.h"

namespace {

const wchar_t* const Key = L"SOFTWARE\\WOW6432Node\\Vendor\\Package";

// The registry counts wide data in UTF-16 units of two bytes, whatever sizeof(WCHAR) is.
constexpr DWORD UnitBytes = 2;

template <size_t N> DWORD RegistryBytes(const WCHAR (&)[N]) {
    return static_cast<DWORD>(N * UnitBytes);
}

class Registry : public testing::Test {
  protected:
    void TearDown() override { EXPECT_EQ(winhost::OpenRegistryKeys(), 0u); }

    HKEY Open(const wchar_t* subKey = Key) {
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey, 0, KEY_READ, &key), ERROR_SUCCESS);
        return key;
    }

    HostRoot root;
};

TEST_F(Registry, MissingKeyAndValue) {
    HKEY key = reinterpret_cast<HKEY>(0x1234);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, Key, 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);

    ASSERT_TRUE(winhost::SetRegistryString(Key, L"Other", L"x"));
    key = Open();
    DWORD bytes = 64;
    BYTE data[64];
    EXPECT_EQ(RegQueryValueExW(key, L"Version", nullptr, nullptr, data, &bytes),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(Registry, StringComesBackWithItsTerminatorAndSize) {
    ASSERT_TRUE(winhost::SetRegistryString(Key, L"Version", L"2.4.1"));
    HKEY key = Open();
    WCHAR data[16];
    DWORD bytes = RegistryBytes(data);
    DWORD type = REG_NONE;
    ASSERT_EQ(
        RegQueryValueExW(key, L"Version", nullptr, &type, reinterpret_cast<LPBYTE>(data), &bytes),
        ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(bytes, 6 * UnitBytes);
    EXPECT_EQ(std::wstring(data), L"2.4.1");
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(Registry, SmallBufferGetsMoreDataAndTheSize) {
    ASSERT_TRUE(winhost::SetRegistryString(Key, L"Version", L"1.2.3.4"));
    HKEY key = Open();
    WCHAR data[4] = {L'#', L'#', L'#', L'#'};
    DWORD bytes = RegistryBytes(data);
    EXPECT_EQ(
        RegQueryValueExW(key, L"Version", nullptr, nullptr, reinterpret_cast<LPBYTE>(data), &bytes),
        ERROR_MORE_DATA);
    EXPECT_EQ(bytes, 8 * UnitBytes);
    EXPECT_EQ(data[0], L'#');
    // Without a buffer the size alone is asked for.
    bytes = 0;
    EXPECT_EQ(RegQueryValueExW(key, L"Version", nullptr, nullptr, nullptr, &bytes), ERROR_SUCCESS);
    EXPECT_EQ(bytes, 8 * UnitBytes);
    RegCloseKey(key);
}

TEST_F(Registry, KeyHandlesAreCheckedAndClosedOnce) {
    ASSERT_TRUE(winhost::SetRegistryString(Key, L"Version", L"1"));
    HKEY key = Open();
    EXPECT_EQ(winhost::OpenRegistryKeys(), 1u);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    DWORD bytes = 0;
    EXPECT_EQ(RegQueryValueExW(key, L"Version", nullptr, nullptr, nullptr, &bytes),
              ERROR_INVALID_HANDLE);
    HKEY other = nullptr;
    EXPECT_EQ(RegOpenKeyExW(nullptr, Key, 0, KEY_READ, &other), ERROR_INVALID_HANDLE);
}

TEST_F(Registry, NamesIgnoreLetterCase) {
    ASSERT_TRUE(
        winhost::SetRegistryString(L"software\\wow6432node\\VENDOR\\package", L"VERSION", L"1.0"));
    ASSERT_TRUE(winhost::SetRegistryString(Key, L"version", L"2.0")); // the same value
    HKEY key = Open();
    WCHAR data[8] = {};
    DWORD bytes = RegistryBytes(data);
    EXPECT_EQ(
        RegQueryValueExW(key, L"Version", nullptr, nullptr, reinterpret_cast<LPBYTE>(data), &bytes),
        ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(data), L"2.0");
    RegCloseKey(key);
}

TEST_F(Registry, KeysAreSeparateFromEachOther) {
    ASSERT_TRUE(winhost::SetRegistryString(Key, L"Version", L"1"));
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\WOW6432Node\\Vendor\\Pack", 0, KEY_READ,
                            &key),
              ERROR_FILE_NOT_FOUND);
    ASSERT_TRUE(winhost::DeleteRegistryKey(Key));
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, Key, 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    // The parent key survives the deletion of its subkey.
    key = Open(L"SOFTWARE\\WOW6432Node\\Vendor");
    RegCloseKey(key);
}

int RunReg(const std::string& arguments, const std::string& root) {
    const std::string command =
        "WINHOST_ROOT='" + root + "' " + WINHOST_REG_PATH + " " + arguments + " >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(Registry, RegToolAddsQueriesAndDeletes) {
    const std::string key = "'HKLM\\SOFTWARE\\WOW6432Node\\Vendor\\Package'";
    ASSERT_EQ(RunReg("add " + key + " /v Version /t REG_SZ /d 7.0.1 /f", root.Path()), 0);
    HKEY opened = Open();
    WCHAR data[16] = {};
    DWORD bytes = RegistryBytes(data);
    EXPECT_EQ(RegQueryValueExW(opened, L"Version", nullptr, nullptr, reinterpret_cast<LPBYTE>(data),
                               &bytes),
              ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(data), L"7.0.1");
    RegCloseKey(opened);
    EXPECT_EQ(RunReg("query " + key + " /v Version", root.Path()), 0);
    EXPECT_EQ(RunReg("delete " + key + " /f", root.Path()), 0);
    EXPECT_EQ(RunReg("query " + key + " /v Version", root.Path()), 1);
    EXPECT_EQ(RunReg("frobnicate " + key, root.Path()), 2);
}

// Each type keeps its type and Windows' size; numbers are stored little-endian.
TEST_F(Registry, RegToolKeepsValueTypes) {
    const std::string key = "'HKLM\\SOFTWARE\\WOW6432Node\\Vendor\\Package'";
    ASSERT_EQ(RunReg("add " + key + " /v Count /t REG_DWORD /d 0x01020304 /f", root.Path()), 0);
    ASSERT_EQ(RunReg("add " + key + " /v Big /t REG_QWORD /d 5 /f", root.Path()), 0);
    ASSERT_EQ(RunReg("add " + key + " /v Blob /t REG_BINARY /d 00ff10 /f", root.Path()), 0);
    ASSERT_EQ(RunReg("add " + key + " /v List /t REG_MULTI_SZ /d 'a\\0bc' /f", root.Path()), 0);
    ASSERT_EQ(RunReg("add " + key + " /v Path /t REG_EXPAND_SZ /d x /f", root.Path()), 0);
    EXPECT_EQ(RunReg("add " + key + " /v Bad /t REG_DWORD /d 4294967296 /f", root.Path()), 1);
    EXPECT_EQ(RunReg("add " + key + " /v Bad /t REG_WHATEVER /d 1 /f", root.Path()), 1);

    HKEY opened = Open();
    struct Expected {
        const wchar_t* name;
        DWORD type;
        DWORD bytes;
    };
    const Expected cases[] = {{L"Count", REG_DWORD, 4},
                              {L"Big", REG_QWORD, 8},
                              {L"Blob", REG_BINARY, 3},
                              {L"List", REG_MULTI_SZ, 6 * UnitBytes}, // a, bc and the list end
                              {L"Path", REG_EXPAND_SZ, 2 * UnitBytes}};
    for (const Expected& expected : cases) {
        DWORD type = REG_NONE;
        DWORD bytes = 0;
        EXPECT_EQ(RegQueryValueExW(opened, expected.name, nullptr, &type, nullptr, &bytes),
                  ERROR_SUCCESS);
        EXPECT_EQ(type, expected.type) << expected.name;
        EXPECT_EQ(bytes, expected.bytes) << expected.name;
    }
    DWORD count = 0;
    DWORD bytes = sizeof(count);
    EXPECT_EQ(RegQueryValueExW(opened, L"Count", nullptr, nullptr, reinterpret_cast<LPBYTE>(&count),
                               &bytes),
              ERROR_SUCCESS);
    EXPECT_EQ(count, 0x01020304u);
    RegCloseKey(opened);
    EXPECT_EQ(RunReg("query " + key + " /v Count", root.Path()), 0);
}

} // namespace
