#include <cstdio>
#include <fstream>

#include <gtest/gtest.h>

#include "HostRoot.h"
#include "winhost/Devices.h"

TEST(DrivePaths, MapIntoTheHostRoot) {
    HostRoot root;
    EXPECT_EQ(winhost::RootDirectory(), root.Path());
    EXPECT_EQ(winhost::MapWindowsPath("C:\\ProgramData\\MCUInterfaceRecords.log"),
              root.Path() + "/drive_c/ProgramData/MCUInterfaceRecords.log");
    EXPECT_EQ(winhost::MapWindowsPath("d:/x/y"), root.Path() + "/drive_d/x/y");
    EXPECT_EQ(winhost::MapWindowsPath("/tmp/plain"), "/tmp/plain");
    EXPECT_EQ(winhost::MapWindowsPath("C:"), "C:");
}

TEST(DrivePaths, StreamsOpenedOnAWindowsPathWriteIntoTheHostRoot) {
    HostRoot root;
    {
        std::ofstream out("C:\\ProgramData\\stream.txt", std::ios::app);
        ASSERT_TRUE(out);
        out << "one\n";
    }
    FILE* file = std::fopen("C:\\ProgramData\\stream.txt", "a");
    ASSERT_NE(file, nullptr);
    std::fputs("two\n", file);
    std::fclose(file);
    EXPECT_EQ(ReadFileText(root.Path() + "/drive_c/ProgramData/stream.txt"), "one\ntwo\n");
}
