#include "tests/platform/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <thread>

extern char** environ;

namespace child_process {

int ExitStatusOf(const std::function<int()>& body) {
    const pid_t pid = fork();
    if (pid < 0) return -1;
    // _exit: the child must not run the test runner's exit handlers.
    if (pid == 0) _exit(body());
    const int status = WaitForExit(pid);
    return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool ReadByte(int fd, char* byte, int timeoutMs) {
    pollfd ready = {};
    ready.fd = fd;
    ready.events = POLLIN;
    int result;
    do {
        result = poll(&ready, 1, timeoutMs);
    } while (result < 0 && errno == EINTR);
    if (result <= 0) return false;
    return read(fd, byte, 1) == 1;
}

bool ReadUntilContains(int fd, std::string& text, const std::string& marker, int timeoutMs) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (text.find(marker) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        char byte = 0;
        if (left.count() <= 0 || !ReadByte(fd, &byte, static_cast<int>(left.count()))) {
            return false;
        }
        text += byte;
    }
    return true;
}

std::string ReadAvailable(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    std::string text;
    char buffer[256];
    ssize_t length;
    while ((length = read(fd, buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<std::size_t>(length));
    }
    fcntl(fd, F_SETFL, flags);
    return text;
}

int WaitForExit(pid_t pid, int timeoutMs) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        const pid_t result = waitpid(pid, &status, WNOHANG);
        if (result == pid) return status;
        if (result < 0 && errno != EINTR) return -1;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

void ResetSignalsToDefault() {
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGTSTP, SIGCONT, SIGTTOU}) {
        signal(signalNumber, SIG_DFL);
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
}

int ProgramResult::ExitStatus() const {
    return waitStatus != -1 && WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1;
}

std::vector<std::string> EnvironmentWith(const std::vector<std::string>& changes) {
    std::vector<std::string> result;
    auto nameOf = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string current = *entry;
        bool replaced = false;
        for (const std::string& change : changes) replaced |= nameOf(change) == nameOf(current);
        if (!replaced) result.push_back(current);
    }
    result.insert(result.end(), changes.begin(), changes.end());
    return result;
}

std::vector<char*> NullTerminated(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& text : strings) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

ProgramResult RunProgram(const std::vector<std::string>& arguments,
                         const std::vector<std::string>& environment, int timeoutMs) {
    ProgramResult result;
    int outPipe[2], errPipe[2];
    if (pipe(outPipe) != 0) return result;
    if (pipe(errPipe) != 0) {
        close(outPipe[0]);
        close(outPipe[1]);
        return result;
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
    for (int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) {
        posix_spawn_file_actions_addclose(&actions, fd);
    }
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults, none;
    sigemptyset(&defaults);
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGTSTP, SIGPIPE}) {
        sigaddset(&defaults, signalNumber);
    }
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    std::vector<std::string> argumentCopy = arguments;
    std::vector<std::string> environmentCopy = EnvironmentWith(environment);
    std::vector<char*> argv = NullTerminated(argumentCopy);
    std::vector<char*> envp = NullTerminated(environmentCopy);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(outPipe[1]);
    close(errPipe[1]);
    if (spawned != 0) {
        close(outPipe[0]);
        close(errPipe[0]);
        result.err = "posix_spawn failed";
        return result;
    }

    // Both pipes at once, so that a full one cannot hold the program up.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    pollfd pipes[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* texts[2] = {&result.out, &result.err};
    int open = 2;
    while (open > 0 && std::chrono::steady_clock::now() < deadline) {
        if (poll(pipes, 2, 100) < 0 && errno != EINTR) break;
        for (int i = 0; i < 2; ++i) {
            if (pipes[i].fd < 0 || pipes[i].revents == 0) continue;
            char buffer[4096];
            const ssize_t length = read(pipes[i].fd, buffer, sizeof buffer);
            if (length > 0) {
                texts[i]->append(buffer, static_cast<std::size_t>(length));
            } else if (length == 0 || errno != EINTR) {
                close(pipes[i].fd);
                pipes[i].fd = -1;
                --open;
            }
        }
    }
    for (pollfd& end : pipes) {
        if (end.fd >= 0) close(end.fd);
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    result.waitStatus = WaitForExit(pid, static_cast<int>(std::max<long long>(left.count(), 0)));
    if (RunsUnderWine(arguments)) {
        for (std::string* text : texts) *text = std::regex_replace(*text, std::regex("\r\n"), "\n");
    }
    return result;
}

namespace {

std::string WineLauncher() {
    const char* wine = std::getenv("FENK_TEST_WINE");
    return wine != nullptr && *wine != '\0' ? wine : "/usr/bin/wine";
}

}  // namespace

std::vector<std::string> ProgramCommand(const std::string& builtPath) {
    const char* windowsBin = std::getenv("FENK_TEST_WINDOWS_BIN");
    if (windowsBin == nullptr || *windowsBin == '\0') return {builtPath};
    const std::string name = std::filesystem::path(builtPath).filename().string() + ".exe";
    return {WineLauncher(), (std::filesystem::path(windowsBin) / name).string()};
}

std::string ScreenText(const std::string& raw, bool underWine) {
    if (!underWine) return raw;
    std::string shown;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '\x1B' || i + 1 >= raw.size() || raw[i + 1] != '[') {
            shown += raw[i];
            continue;
        }
        std::size_t end = i + 2;
        while (end < raw.size() && std::isalpha(static_cast<unsigned char>(raw[end])) == 0) ++end;
        if (end < raw.size() && raw[end] == 'C') {
            shown.append(std::strtoul(raw.c_str() + i + 2, nullptr, 10), ' ');
        }
        i = end;
    }
    return shown;
}

bool RunsUnderWine(const std::vector<std::string>& command) {
    return command.size() > 1 && command[0] == WineLauncher();
}

TerminalChild StartOnTerminal(const std::function<int(int reportFd)>& body) {
    TerminalChild child;
    int reportPipe[2];
    if (openpty(&child.master, &child.slave, nullptr, nullptr, nullptr) != 0) return child;
    if (pipe(reportPipe) != 0) {
        CloseTerminal(child);
        return child;
    }
    tcgetattr(child.slave, &child.initial);
    const pid_t pid = fork();
    if (pid == 0) {
        close(reportPipe[0]);
        close(child.master);
        setsid();
        ioctl(child.slave, TIOCSCTTY, 0);
        for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) dup2(child.slave, fd);
        if (child.slave > STDERR_FILENO) close(child.slave);
        ResetSignalsToDefault();
        _exit(body(reportPipe[1]));
    }
    close(reportPipe[1]);
    child.report = reportPipe[0];
    child.pid = pid;
    if (pid < 0) CloseTerminal(child);
    return child;
}

void CloseTerminal(TerminalChild& child) {
    for (int* fd : {&child.master, &child.slave, &child.report}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
}

}  // namespace child_process
