#include "SimulatedPlatform.h"

#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

extern char** environ;

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The environment of this process with WINHOST_ROOT set to `root`.
std::vector<std::string> Environment(const std::string& root) {
    std::vector<std::string> variables;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        if (std::string(*variable).rfind("WINHOST_ROOT=", 0) != 0) {
            variables.emplace_back(*variable);
        }
    }
    variables.push_back("WINHOST_ROOT=" + root);
    return variables;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& text : strings) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

// Starts `program` with standard output and standard error in files; -1 on failure.
pid_t Spawn(const std::string& program, std::vector<std::string> arguments, const std::string& root,
            const std::string& outputFile, const std::string& errorFile) {
    arguments.insert(arguments.begin(), program);
    std::vector<std::string> environment = Environment(root);
    std::vector<char*> argv = Pointers(arguments);
    std::vector<char*> envp = Pointers(environment);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    const int error =
        posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return error == 0 ? pid : -1;
}

} // namespace

SimulatedPlatform::SimulatedPlatform() {
    std::string pattern = (std::filesystem::temp_directory_path() / "ostrel-e2e-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) {
        root = pattern;
    }
}

SimulatedPlatform::~SimulatedPlatform() {
    StopMcuSim();
    if (!root.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
}

bool SimulatedPlatform::StartMcuSim(const std::vector<std::string>& options) {
    const std::string output = root + "/mcu-sim.out";
    const std::string errors = root + "/mcu-sim.err";
    simulator = Spawn(MCU_SIM_PATH, options, root, output, errors);
    if (simulator < 0) {
        ADD_FAILURE() << "cannot start " << MCU_SIM_PATH;
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        if (ReadFile(output).find("ready\n") != std::string::npos) {
            return true;
        }
        int status = 0;
        if (waitpid(simulator, &status, WNOHANG) == simulator) {
            simulator = -1;
            ADD_FAILURE() << "mcu-sim ended: " << ReadFile(errors);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ADD_FAILURE() << "mcu-sim did not get ready: " << ReadFile(errors);
    return false;
}

void SimulatedPlatform::StopMcuSim() {
    if (simulator > 0) {
        kill(simulator, SIGTERM);
        int status = 0;
        waitpid(simulator, &status, 0);
        simulator = -1;
    }
}

ProcessResult SimulatedPlatform::RunOstrel(const std::vector<std::string>& arguments) const {
    const std::string output = root + "/ostrel.out";
    const pid_t pid = Spawn(OSTREL_PATH, arguments, root, output, root + "/ostrel.err");
    if (pid < 0) {
        ADD_FAILURE() << "cannot start " << OSTREL_PATH;
        return {-1, ""};
    }
    int status = 0;
    waitpid(pid, &status, 0);
    const int exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return {exitStatus, ReadFile(output)};
}

void SimulatedPlatform::UseInThisProcess() const {
    setenv("WINHOST_ROOT", root.c_str(), 1);
}

std::string SimulatedPlatform::Records() const {
    return ReadFile(root + "/drive_c/ProgramData/MCUInterfaceRecords.log");
}

std::string SimulatedPlatform::SimulatorTrace() const {
    return ReadFile(root + "/mcu-sim.err");
}

std::vector<TracedRequest> SimulatedPlatform::TracedRequests() const {
    // "mcu-sim: 1234.567 ms: request 0900...", "mcu-sim: 1234.601 ms: answer from kbd 0900..."
    std::vector<TracedRequest> requests;
    std::istringstream lines(SimulatorTrace());
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string program, unit, what, from, mcu, frame;
        double at = 0;
        if (!(words >> program >> at >> unit >> what) || program != "mcu-sim:" || unit != "ms:") {
            continue;
        }
        if (what == "request" && words >> frame) {
            requests.push_back({frame, at, "", -1});
        } else if (what == "answer" && words >> from >> mcu && from == "from" &&
                   !requests.empty() && requests.back().mcu.empty()) {
            requests.back().mcu = mcu;
            requests.back().answeredMs = at;
        }
    }
    return requests;
}

size_t Occurrences(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

namespace {

bool IsTimestamp(const std::string& text) {
    static const std::string shape = "dddd-dd-dd dd:dd:dd";
    if (text.size() != shape.size()) {
        return false;
    }
    for (size_t i = 0; i < shape.size(); ++i) {
        if (shape[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(text[i]))
                            : text[i] != shape[i]) {
            return false;
        }
    }
    return true;
}

} // namespace

std::vector<Record> ParseRecords(const std::string& text) {
    std::vector<Record> records;
    size_t start = 0;
    bool previousWasRecord = false;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        if (line.empty() && previousWasRecord) {
            records.back().message += "\n";
            previousWasRecord = false;
            continue;
        }
        const bool tagged = line.rfind("[ERROR]    ", 0) == 0 || line.rfind("[DEBUG]    ", 0) == 0;
        if (tagged && line.size() >= 33 && IsTimestamp(line.substr(11, 19)) &&
            line.compare(30, 3, " : ") == 0) {
            records.push_back({line.substr(1, 5), line.substr(33)});
            previousWasRecord = true;
        } else {
            records.push_back({"", line});
            previousWasRecord = false;
        }
    }
    return records;
}

std::vector<std::string> Messages(const std::string& text, const std::string& level) {
    std::vector<std::string> messages;
    for (const Record& record : ParseRecords(text)) {
        if (record.level == level || (level == "*" && !record.level.empty())) {
            messages.push_back(record.message);
        }
    }
    return messages;
}
