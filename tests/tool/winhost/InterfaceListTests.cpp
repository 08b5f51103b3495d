#include <filesystem>
#include <fstream>

#include <cfgmgr32.h>
#include <gtest/gtest.h>

#include "HostRoot.h"
#include "McuServer.h"
#include "winhost/Devices.h"

namespace {

GUID Class = mcusim::McuInterfaceClassGuid;

std::vector<std::wstring> Split(const std::vector<WCHAR>& list) {
    std::vector<std::wstring> strings;
    for (size_t i = 0; i < list.size() && list[i]; i += strings.back().size() + 1)
        strings.emplace_back(&list[i]);
    return strings;
}

} // namespace

TEST(InterfaceList, EmptyListIsOneTerminator) {
    HostRoot root;
    ULONG size = 99;
    ASSERT_EQ(CM_Get_Device_Interface_List_SizeW(&size, &Class, nullptr, 0), CR_SUCCESS);
    EXPECT_EQ(size, 1u);
    std::vector<WCHAR> list(1, L'x');
    ASSERT_EQ(CM_Get_Device_Interface_ListW(&Class, nullptr, list.data(), 1, 0), CR_SUCCESS);
    EXPECT_EQ(list[0], 0);
}

TEST(InterfaceList, IsAMultiStringInPublicationOrder) {
    HostRoot root;
    mcusim::McuSettings settings = mcusim::McuSettings::Defaults();
    settings.interfaces = 3;
    mcusim::McuServer driver(settings);
    std::string error;
    ASSERT_TRUE(driver.Start(error)) << error;

    ULONG size = 0;
    ASSERT_EQ(CM_Get_Device_Interface_List_SizeW(&size, &Class, nullptr, 0), CR_SUCCESS);
    std::vector<WCHAR> list(size, L'x');
    EXPECT_EQ(CM_Get_Device_Interface_ListW(&Class, nullptr, list.data(), size - 1, 0),
              CR_BUFFER_SMALL);
    ASSERT_EQ(CM_Get_Device_Interface_ListW(&Class, nullptr, list.data(), size, 0), CR_SUCCESS);
    EXPECT_EQ(list[size - 1], 0);
    EXPECT_EQ(list[size - 2], 0);
    auto strings = Split(list);
    ASSERT_EQ(strings.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        const std::string& path = driver.InterfacePaths()[i];
        EXPECT_EQ(strings[i], std::wstring(path.begin(), path.end()));
    }
    EXPECT_EQ(CM_Get_Device_Interface_List_SizeW(&size, &Class, nullptr, 2), CR_INVALID_FLAG);
    EXPECT_EQ(CM_Get_Device_Interface_List_SizeW(nullptr, &Class, nullptr, 0), CR_INVALID_POINTER);
}

TEST(InterfaceList, RecordsOfEndedProcessesAreNotPresent) {
    HostRoot root;
    // A record left behind by a process that no longer runs.
    std::string record =
        winhost::PublishInterface(Class, "\\\\?\\STALE#0000", "winhost-device-stale", 0);
    ASSERT_FALSE(record.empty());
    std::string text = ReadFileText(record);
    std::ofstream(record) << text.substr(0, text.find("pid=")) << "pid=999999999\n";

    ULONG size = 0;
    ASSERT_EQ(CM_Get_Device_Interface_List_SizeW(&size, &Class, nullptr, 0), CR_SUCCESS);
    EXPECT_EQ(size, 1u);
    ASSERT_EQ(CM_Get_Device_Interface_List_SizeW(&size, &Class, nullptr,
                                                 CM_GET_DEVICE_INTERFACE_LIST_ALL_DEVICES),
              CR_SUCCESS);
    EXPECT_EQ(size, 16u);
}
