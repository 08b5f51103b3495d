// mcu-sim: the platform's MCU driver and its MCUs, as a process of its own.

#include <csignal>
#include <cstdio>
#include <iostream>

#include <pthread.h>

#include "McuServer.h"
#include "winhost/Devices.h"

int main(int argc, char** argv) {
    mcusim::McuSettings settings = mcusim::McuSettings::Defaults();
    if (std::optional<int> exitCode = mcusim::ReadCommandLine(argc, argv, settings)) {
        return *exitCode;
    }
    std::string error;

    // The signals that stop the simulator are taken by sigwait below, not by any thread.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    mcusim::McuServer server(settings);
    if (!server.Start(error)) {
        std::cerr << "mcu-sim: " << error << "\n";
        return 1;
    }
    if (settings.trace) {
        for (const std::string& path : server.InterfacePaths())
            std::cerr << "mcu-sim: published " << path << " under " << winhost::RootDirectory()
                      << "\n";
    }
    std::cout << "ready" << std::endl;

    int received = 0;
    sigwait(&stopSignals, &received);
    server.Stop();
    return 0;
}
