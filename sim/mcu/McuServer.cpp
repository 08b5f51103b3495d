#include "McuServer.h"

#include <cerrno>
#include <chrono>
#include <cstdio>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "winhost/Devices.h"

namespace mcusim {

const GUID McuInterfaceClassGuid = {
    0xDD0EBEDB, 0xF1D6, 0x4CFA, {0xAC, 0xCA, 0x71, 0xE6, 0x6D, 0x31, 0x78, 0xCA}};

namespace {

std::string InterfacePath(unsigned index, unsigned length) {
    char base[96];
    std::snprintf(base, sizeof base,
                  "\\\\?\\ROOT#MCUINTERFACE#%04u#{dd0ebedb-f1d6-4cfa-acca-71e66d3178ca}", index);
    std::string path = base;
    if (length > path.size() + 1) {
        // A reference string that brings the path to the length asked for.
        path += '\\';
        path.append(length - path.size(), 'R');
    }
    return path;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
    std::string text;
    char digits[4];
    for (uint8_t b : bytes) {
        std::snprintf(digits, sizeof digits, "%02x", b);
        text += digits;
    }
    return text;
}

} // namespace

McuServer::McuServer(McuSettings settings) : model(std::move(settings)) {}

McuServer::~McuServer() {
    Stop();
}

bool McuServer::Start(std::string& error) {
    const McuSettings& settings = model.Settings();
    started = std::chrono::steady_clock::now();
    wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    for (unsigned i = 0; i < settings.interfaces; ++i) {
        std::string endpoint;
        int fd = winhost::ListenEndpoint(endpoint);
        if (fd < 0) {
            error = "cannot listen for device opens";
            Stop();
            return false;
        }
        listeners.push_back(fd);
        std::string path = InterfacePath(i, i == 0 ? settings.pathLength : 0);
        std::string record = winhost::PublishInterface(McuInterfaceClassGuid, path, endpoint, i);
        if (record.empty()) {
            error = "cannot publish the interface under " + winhost::RootDirectory();
            Stop();
            return false;
        }
        paths.push_back(path);
        records.push_back(record);
    }
    loop = std::thread(&McuServer::Run, this);
    return true;
}

void McuServer::Stop() {
    for (const std::string& record : records)
        winhost::WithdrawInterface(record);
    records.clear();
    {
        std::lock_guard guard(lock);
        stopping = true;
    }
    if (wake >= 0) {
        uint64_t one = 1;
        ssize_t written = write(wake, &one, sizeof one);
        (void)written;
    }
    stopped.notify_all();
    if (loop.joinable())
        loop.join();
    {
        std::lock_guard guard(lock);
        for (int fd : files)
            close(fd);
        files.clear();
    }
    for (int fd : listeners)
        close(fd);
    listeners.clear();
    if (wake >= 0)
        close(wake);
    wake = -1;
}

void McuServer::Run() {
    std::vector<pollfd> ready;
    while (!stopping) {
        ready.clear();
        ready.push_back({wake, POLLIN, 0});
        for (int fd : listeners)
            ready.push_back({fd, POLLIN, 0});
        {
            std::lock_guard guard(lock);
            for (int fd : files)
                ready.push_back({fd, POLLIN, 0});
        }
        if (poll(ready.data(), ready.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        for (size_t i = 1; i < ready.size() && !stopping; ++i) {
            if (!(ready[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            if (i <= listeners.size())
                Accept(static_cast<unsigned>(i - 1));
            else if (!Receive(ready[i].fd))
                CloseFile(ready[i].fd);
        }
    }
}

void McuServer::Accept(unsigned interface) {
    const McuSettings& settings = model.Settings();
    int fd = accept4(listeners[interface], nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
        return;
    bool deny = false;
    {
        std::lock_guard guard(lock);
        opens.push_back(interface);
        deny = settings.denyOpen != 0 && opens.size() > settings.allowOpens;
    }
    if (settings.trace) {
        Trace("open interface " + std::to_string(interface) +
              (deny ? " denied with " + std::to_string(settings.denyOpen) : ""));
    }
    if (deny) {
        winhost::CompleteOpen(fd, settings.denyOpen);
        close(fd);
        return;
    }
    {
        std::lock_guard guard(lock);
        files.push_back(fd);
    }
    winhost::CompleteOpen(fd, 0);
}

bool McuServer::Receive(int fd) {
    uint8_t request[256];
    ssize_t got = recv(fd, request, sizeof request, MSG_DONTWAIT);
    if (got < 0)
        return errno == EAGAIN || errno == EINTR;
    if (got == 0)
        return false;
    std::vector<uint8_t> frame(request, request + got);
    {
        std::lock_guard guard(lock);
        requests.push_back(frame);
    }
    if (model.Settings().trace)
        Trace("request " + Hex(frame));
    Reaction reaction = model.React(request, static_cast<size_t>(got));
    if (model.Settings().trace)
        TraceTaker(frame, reaction);
    if (reaction.drop) {
        // Every open file ends; the loop closes each one when it reads the end.
        Trace("dropping every open file");
        std::lock_guard guard(lock);
        for (int open : files)
            shutdown(open, SHUT_RDWR);
        return true;
    }
    if (reaction.delayMs && !SleepUnlessStopped(reaction.delayMs))
        return true;
    for (const auto& answer : reaction.frames) {
        if (model.Settings().trace)
            Trace("answer" + (reaction.mcu.empty() ? "" : " from " + reaction.mcu) + " " +
                  Hex(answer));
        Broadcast(answer);
    }
    return true;
}

void McuServer::Broadcast(const std::vector<uint8_t>& frame) {
    // The tool reads on one file and writes on another: the answer goes to every open file.
    std::lock_guard guard(lock);
    for (int fd : files)
        send(fd, frame.data(), frame.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
}

void McuServer::CloseFile(int fd) {
    std::lock_guard guard(lock);
    for (auto it = files.begin(); it != files.end(); ++it) {
        if (*it == fd) {
            files.erase(it);
            close(fd);
            return;
        }
    }
}

bool McuServer::SleepUnlessStopped(unsigned milliseconds) {
    std::unique_lock guard(lock);
    return !stopped.wait_for(guard, std::chrono::milliseconds(milliseconds),
                             [this] { return stopping.load(); });
}

std::vector<std::vector<uint8_t>> McuServer::Requests() const {
    std::lock_guard guard(lock);
    return requests;
}

std::vector<unsigned> McuServer::Opens() const {
    std::lock_guard guard(lock);
    return opens;
}

size_t McuServer::OpenFiles() const {
    std::lock_guard guard(lock);
    return files.size();
}

void McuServer::TraceTaker(const std::vector<uint8_t>& frame, const Reaction& reaction) const {
    if (!McuModel::IsWellFormed(frame.data(), frame.size()))
        Trace("not a request frame: ignored");
    else if (reaction.mcu.empty())
        Trace("no answer: no MCU takes command " + Hex({frame[5]}) + " at target " +
              std::to_string(frame[0]) + ", device " + std::to_string(frame[4]));
    if (reaction.enables)
        Trace(reaction.mcu + " enabled: secure boot on");
}

void McuServer::Trace(const std::string& line) const {
    if (!model.Settings().trace)
        return;
    const std::chrono::duration<double, std::milli> since =
        std::chrono::steady_clock::now() - started;
    std::fprintf(stderr, "mcu-sim: %.3f ms: %s\n", since.count(), line.c_str());
}

} // namespace mcusim
