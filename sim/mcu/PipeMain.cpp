// mcu-sim.exe: the platform's MCU driver and its MCUs as a Windows process, serving named pipes.
// It runs until it is ended.

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <iostream>

#include "PipeServer.h"

int main(int argc, char** argv) {
    // "ready" and the help text leave as they do on Linux, without carriage returns.
    _setmode(_fileno(stdout), _O_BINARY);
    mcusim::McuSettings settings = mcusim::McuSettings::Defaults();
    if (std::optional<int> exitCode = mcusim::ReadCommandLine(argc, argv, settings)) {
        return *exitCode;
    }
    std::string error;
    mcusim::PipeServer server(settings);
    if (!server.Start(error)) {
        std::cerr << "mcu-sim: " << error << "\n";
        return 1;
    }
    if (settings.trace) {
        for (const std::string& path : server.InterfacePaths())
            std::cerr << "mcu-sim: published " << path << "\n";
    }
    std::cout << "ready" << std::endl;
    Sleep(INFINITE);
    return 0;
}
