// mcu-sim as the separate process that scripts start.

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "HostRoot.h"
#include "channel/Packet.h"
#include "winhost/Books.h"

namespace {

struct Simulator {
    pid_t pid = -1;
    FILE* output = nullptr;
};

Simulator Launch(std::vector<std::string> arguments) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return {};
    pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
        close(pipeFds[0]);
        close(pipeFds[1]);
        std::vector<char*> argv{const_cast<char*>(MCU_SIM_PROGRAM)};
        for (auto& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        execv(MCU_SIM_PROGRAM, argv.data());
        _exit(127);
    }
    close(pipeFds[1]);
    return {pid, fdopen(pipeFds[0], "r")};
}

std::string ReadLine(FILE* output) {
    char line[256] = {};
    if (!std::fgets(line, sizeof line, output))
        return "";
    return line;
}

int Stop(Simulator& simulator) {
    kill(simulator.pid, SIGTERM);
    int status = 0;
    waitpid(simulator.pid, &status, 0);
    std::fclose(simulator.output);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

size_t PublishedRecords(const HostRoot& root) {
    std::filesystem::path folder =
        root.Path() + "/DeviceInterfaces/{DD0EBEDB-F1D6-4CFA-ACCA-71E66D3178CA}";
    if (!std::filesystem::exists(folder))
        return 0;
    return std::distance(std::filesystem::directory_iterator(folder),
                         std::filesystem::directory_iterator());
}

} // namespace

TEST(McuSimProcess, AnswersAfterReadyAndWithdrawsOnStop) {
    HostRoot root;
    Simulator simulator = Launch({"--enable-code", "-1"});
    ASSERT_GT(simulator.pid, 0);
    ASSERT_EQ(ReadLine(simulator.output), "ready\n");
    EXPECT_EQ(PublishedRecords(root), 1u);

    PacketContext context;
    std::memset(&context, 0, sizeof context);
    context.running = 1;
    context.target = 9;
    context.command = 0x63;
    Packet().Transfer(context);
    EXPECT_EQ(int32_t{context.status}, PacketStatusSuccess);
    EXPECT_EQ(int32_t{context.length}, 4);
    EXPECT_EQ(std::vector<uint8_t>(context.payload, context.payload + 4),
              std::vector<uint8_t>(4, 0xFF));

    EXPECT_EQ(Stop(simulator), 0);
    EXPECT_EQ(PublishedRecords(root), 0u);
    EXPECT_EQ(winhost::LiveHandles(), 0u);
    EXPECT_EQ(winhost::LiveThreads(), 0u);
}

TEST(McuSimProcess, HelpListsEveryOptionAndBadOptionsFail) {
    Simulator help = Launch({"--help"});
    std::string text;
    for (std::string line; !(line = ReadLine(help.output)).empty();)
        text += line;
    int status = 0;
    waitpid(help.pid, &status, 0);
    std::fclose(help.output);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    for (const char* option :
         {"--first-key [MCU=]HEX", "--second-key [MCU=]HEX", "--keys [MCU=]FILE",
          "--secure-boot-flag [MCU=]N", "--enable-code [MCU=]N", "--version MCU=TEXT",
          "--fault COMMAND=KIND", "--deny-open CODE", "--interfaces N", "silent", "noise",
          "zero-length", "overlong", "drop"})
        EXPECT_NE(text.find(option), std::string::npos) << option;

    Simulator bad = Launch({"--fault", "flag=never"});
    waitpid(bad.pid, &status, 0);
    std::fclose(bad.output);
    EXPECT_EQ(WEXITSTATUS(status), 2);
}
