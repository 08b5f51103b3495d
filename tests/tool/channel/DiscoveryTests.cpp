#include <filesystem>
#include <fstream>

#include <cfgmgr32.h>

#include "ChannelFixture.h"
#include "channel/McuDevice.h"
#include "winhost/Books.h"

using Discovery = ChannelTest;

TEST_F(Discovery, NoDriverGivesInvalidHandleAndOneRecord) {
    EXPECT_EQ(OpenMcuDevice(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(
        ErrorMessages(LogRecords()),
        std::vector<std::string>{"Error: No active device found.Is the sample driver loaded?"});
    EXPECT_EQ(LogRecords().size(), 1u);
}

TEST_F(Discovery, SizeQueryFailureIsRecordedWithItsCode) {
    // The class's registry folder is unreadable: the size query fails with CR_REGISTRY_ERROR.
    std::filesystem::create_directories(root.Path() + "/DeviceInterfaces");
    std::ofstream(root.Path() + "/DeviceInterfaces/{DD0EBEDB-F1D6-4CFA-ACCA-71E66D3178CA}");
    WCHAR path[McuDevicePathUnits];
    EXPECT_FALSE(GetMcuDevicePath(path));
    EXPECT_EQ(ErrorMessages(LogRecords()),
              std::vector<std::string>{"Error retrieving device interface list size.29"});
}

TEST_F(Discovery, ListQueryFailureIsRecordedAfterItsNewline) {
    StartDriver();
    // The list grew between the size query and the list query.
    winhost::FailNext(winhost::Failure::GetInterfaceList, CR_BUFFER_SMALL);
    EXPECT_EQ(OpenMcuDevice(), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(driver->Opens().empty());
    EXPECT_EQ(ErrorMessages(LogRecords()),
              std::vector<std::string>{"Error retrieving device interface list.\n26"});
}

TEST_F(Discovery, EveryOpenRunsDiscoveryAgainAndRecordsIt) {
    StartDriver();
    for (int i = 0; i < 3; ++i) {
        HANDLE device = OpenMcuDevice();
        ASSERT_NE(device, INVALID_HANDLE_VALUE);
        EXPECT_TRUE(CloseHandle(device));
    }
    auto records = LogRecords();
    ASSERT_EQ(records.size(), 3u);
    for (const auto& record : records) {
        EXPECT_EQ(record.tag, "[DEBUG]   ");
        EXPECT_EQ(record.message, "Opened the device successfully.\n");
    }
    // Withdrawn: the next open sees no device at once.
    driver->Stop();
    EXPECT_EQ(OpenMcuDevice(), INVALID_HANDLE_VALUE);
}

TEST_F(Discovery, TwoInterfacesWarnAndOpenTheFirst) {
    mcusim::McuSettings settings = mcusim::McuSettings::Defaults();
    settings.interfaces = 2;
    StartDriver(settings);
    HANDLE device = OpenMcuDevice();
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    CloseHandle(device);
    EXPECT_EQ(driver->Opens(), std::vector<unsigned>{0});
    EXPECT_EQ(Messages(LogRecords()),
              (std::vector<std::string>{
                  "Warning: More than one interface found.Selecting first matching device.\n",
                  "Opened the device successfully.\n"}));
}

TEST_F(Discovery, PathOf255CharactersIsOpened) {
    mcusim::McuSettings settings = mcusim::McuSettings::Defaults();
    settings.pathLength = 255;
    StartDriver(settings);
    WCHAR path[McuDevicePathUnits];
    ASSERT_TRUE(GetMcuDevicePath(path));
    EXPECT_EQ(std::wstring(path).size(), 255u);
    HANDLE device = OpenMcuDevice();
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    CloseHandle(device);
    EXPECT_EQ(driver->Opens().size(), 1u);
}

TEST_F(Discovery, PathOf256CharactersIsRefusedWithoutOpening) {
    mcusim::McuSettings settings = mcusim::McuSettings::Defaults();
    settings.pathLength = 256;
    StartDriver(settings);
    WCHAR path[McuDevicePathUnits];
    std::fill(std::begin(path), std::end(path), L'#');
    EXPECT_FALSE(GetMcuDevicePath(path));
    // The buffer holds the first 255 characters and a terminator.
    EXPECT_EQ(std::wstring(path).size(), 255u);

    EXPECT_EQ(OpenMcuDevice(), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(driver->Opens().empty());
    EXPECT_EQ(ErrorMessages(LogRecords()),
              (std::vector<std::string>{"Error: StringCchCopy failed with HRESULT ",
                                        "Error: StringCchCopy failed with HRESULT "}));
}

TEST_F(Discovery, RefusedOpensRecordTheWindowsError) {
    for (DWORD code : {5u, 32u}) {
        mcusim::McuSettings settings = mcusim::McuSettings::Defaults();
        settings.denyOpen = code;
        StartDriver(settings);
        EXPECT_EQ(OpenMcuDevice(), INVALID_HANDLE_VALUE);
    }
    EXPECT_EQ(ErrorMessages(LogRecords()),
              (std::vector<std::string>{"Failed to open the device, error - 5",
                                        "Failed to open the device, error - 32"}));
}
