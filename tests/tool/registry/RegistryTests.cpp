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
    DWORD bytes = sizeof(data);
    DWORD type = REG_NONE;
    ASSERT_EQ(
        RegQueryValueExW(key, L"Version", nullptr, &type, reinterpret_cast<LPBYTE>(data), &bytes),
        ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(bytes, 6 * sizeof(WCHAR));
    EXPECT_EQ(std::wstring(data), L"2.4.1");
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(Registry, SmallBufferGetsMoreDataAndTheSize) {
    ASSERT_TRUE(winhost::SetRegistryString(Key, L"Version", L"1.2.3.4"));
    HKEY key = Open();
    WCHAR data[4] = {L'#', L'#', L'#', L'#'};
    DWORD bytes = sizeof(data);
    EXPECT_EQ(
        RegQueryValueExW(key, L"Version", nullptr, nullptr, reinterpret_cast<LPBYTE>(data), &bytes),
        ERROR_MORE_DATA);
    EXPECT_EQ(bytes, 8 * sizeof(WCHAR));
    EXPECT_EQ(data[0], L'#');
    // Without a buffer the size alone is asked for.
    bytes = 0;
    EXPECT_EQ(RegQueryValueExW(key, L"Version", nullptr, nullptr, nullptr, &bytes), ERROR_SUCCESS);
    EXPECT_EQ(bytes, 8 * sizeof(WCHAR));
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
    DWORD bytes = sizeof(data);
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
    DWORD bytes = sizeof(data);
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

} // namespace
