#include "tests/hardening/hardening_helpers.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/support/test_support.h"

namespace hardening {
namespace {

// True when `path` names a program on PATH (or is a path to one).
bool OnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::stringstream folders(path != nullptr ? path : "/usr/bin:/bin");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        if (access((folder + "/" + program).c_str(), X_OK) == 0) return true;
    }
    return false;
}

bool SocketAccepts(const std::string& socketPath) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    const bool connected =
        connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return connected;
}

}  // namespace


std::string LoadedSongOutput(const std::string& name, const std::string& title,
                             const std::string& artist, const std::string& album) {
    return test_support::Banner() + "Loaded file " + name + " ()\n" + "Song title:  " + title + "\n" +
           "Song artist: " + artist + "\n" + "Song album:  " + album + "\n";
}

child_process::ProgramResult RunUnprivileged(const std::vector<std::string>& arguments,
                                             const std::vector<std::string>& environment,
                                             const std::string& folder, bool* dropped) {
    *dropped = geteuid() == 0;
    uid_t uid = 65534;
    gid_t gid = 65534;
    if (const passwd* nobody = getpwnam("nobody")) {
        uid = nobody->pw_uid;
        gid = nobody->pw_gid;
    }
    const std::string outPath = folder + "/unprivileged.out";
    const std::string errPath = folder + "/unprivileged.err";
    std::vector<std::string> argumentCopy = arguments;
    std::vector<std::string> environmentCopy = child_process::EnvironmentWith(environment);
    std::vector<char*> argv = child_process::NullTerminated(argumentCopy);
    std::vector<char*> envp = child_process::NullTerminated(environmentCopy);

    child_process::ProgramResult result;
    const pid_t pid = fork();
    if (pid < 0) return result;
    if (pid == 0) {
        // The output files are opened while still privileged; the program
        // then runs with the user's rights alone.
        const int in = open("/dev/null", O_RDONLY);
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || err < 0) _exit(126);
        dup2(in, STDIN_FILENO);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        child_process::ResetSignalsToDefault();
        if (*dropped && (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0)) {
            _exit(125);
        }
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    result.waitStatus = child_process::WaitForExit(pid, 30000);
    result.out = test_support::ReadText(outPath);
    result.err = test_support::ReadText(errPath);
    return result;
}

PrivatePulse::~PrivatePulse() { Kill(); }

bool PrivatePulse::Start(const std::string& folder, std::string* why) {
    if (!OnPath("pulseaudio")) {
        *why = "pulseaudio is not installed";
        return false;
    }
    const std::string socketPath = folder + "/native";
    const std::string home = folder + "/home";
    const std::string runtime = folder + "/runtime";
    mkdir(home.c_str(), 0700);
    mkdir(runtime.c_str(), 0700);
    std::vector<std::string> arguments = {
        "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disable-shm=yes",
        "--use-pid-file=no", "--log-target=file:" + folder + "/daemon.log",
        "-L", "module-null-sink sink_name=hardening_sink",
        "-L", "module-native-protocol-unix socket=" + socketPath + " auth-anonymous=1"};
    std::vector<std::string> environment = child_process::EnvironmentWith(
        {"HOME=" + home, "XDG_RUNTIME_DIR=" + runtime, "PULSE_RUNTIME_PATH=" + runtime + "/pulse"});
    std::vector<char*> argv = child_process::NullTerminated(arguments);
    std::vector<char*> envp = child_process::NullTerminated(environment);

    pid_ = fork();
    if (pid_ < 0) {
        *why = "fork failed";
        return false;
    }
    if (pid_ == 0) {
        const int null = open("/dev/null", O_RDWR);
        if (null >= 0) {
            dup2(null, STDIN_FILENO);
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
        }
        execvpe("pulseaudio", argv.data(), envp.data());
        _exit(127);
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (SocketAccepts(socketPath)) {
            server_ = "unix:" + socketPath;
            return true;
        }
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            *why = "pulseaudio ended at start (see " + folder + "/daemon.log)";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    Kill();
    *why = "pulseaudio did not take connections within 10 s";
    return false;
}

void PrivatePulse::Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

}  // namespace hardening
