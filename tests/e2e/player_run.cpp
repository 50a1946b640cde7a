#include "tests/e2e/player_run.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <thread>

namespace player_run {
namespace {

using Clock = std::chrono::steady_clock;

const std::regex kCpuFigure("CPU:([0-9]+\\.[0-9]{2})%\r");

std::vector<unsigned char> ReadWholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// Runs with the current folder set to `folder`, for paths typed relative
// (and so that no square.wav of the test's own folder is found).
class InFolder {
public:
    explicit InFolder(const std::string& folder) : previous_(std::filesystem::current_path()) {
        std::filesystem::current_path(folder);
    }
    ~InFolder() { std::filesystem::current_path(previous_); }

private:
    std::filesystem::path previous_;
};

std::vector<std::string> FenkCommand(const std::vector<std::string>& arguments) {
    std::vector<std::string> command = child_process::ProgramCommand(FENK_PROGRAM);
    command.insert(command.end(), arguments.begin(), arguments.end());
    return command;
}

// Reads the FIFO `descriptor` (non-blocking) at `rate` stereo float frames
// per second, timed from the first bytes written, until the writer closes
// it, or until `ended` is set while nothing is waiting.
void ReadAtPace(int descriptor, int rate, const std::atomic<bool>& ended, std::vector<unsigned char>& bytes) {
    const std::size_t chunkFrames = static_cast<std::size_t>(std::max(16, rate / 250));
    const std::size_t chunkBytes = chunkFrames * 2 * sizeof(float);
    const auto period = std::chrono::nanoseconds(1000000000LL * static_cast<long long>(chunkFrames) / rate);
    std::vector<unsigned char> buffer(chunkBytes);
    bool connected = false;
    Clock::time_point start;
    for (long chunk = 0;; ++chunk) {
        if (connected) std::this_thread::sleep_until(start + chunk * period);
        std::size_t got = 0;
        while (got < chunkBytes) {
            pollfd waiting = {descriptor, POLLIN, 0};
            poll(&waiting, 1, 10);
            const ssize_t count = read(descriptor, buffer.data(), chunkBytes - got);
            if (count > 0) {
                if (!connected) {
                    connected = true;
                    start = Clock::now();
                }
                bytes.insert(bytes.end(), buffer.data(), buffer.data() + count);
                got += static_cast<std::size_t>(count);
                continue;
            }
            if (count < 0 && errno != EAGAIN && errno != EINTR) return;
            // No writer: not yet there, or gone (end of the run).
            if (count == 0 && connected) return;
            if (ended) return;
            if (count == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
}

// Runs `command` with standard input from /dev/null, standard output on a
// pseudo-terminal in raw mode (so the player writes each piece at once and
// nothing is translated) and standard error into `errorFile`; notes the
// moment each "\r" arrives.
child_process::ProgramResult RunOnTerminal(std::vector<std::string> command,
                                           const std::vector<std::string>& environmentChanges,
                                           const std::string& errorFile, std::vector<double>& lineSeconds) {
    child_process::ProgramResult result;
    termios raw{};
    cfmakeraw(&raw);
    int master = -1, slave = -1;
    if (openpty(&master, &slave, nullptr, &raw, nullptr) != 0) {
        result.err = "openpty failed";
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, slave, STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addclose(&actions, master);
    posix_spawn_file_actions_addclose(&actions, slave);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults, none;
    sigemptyset(&defaults);
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGTSTP, SIGPIPE}) sigaddset(&defaults, signalNumber);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    std::vector<std::string> environment = child_process::EnvironmentWith(environmentChanges);
    std::vector<char*> argv = child_process::NullTerminated(command);
    std::vector<char*> envp = child_process::NullTerminated(environment);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(slave);  // so that the master reports the end when the player is gone
    if (spawned != 0) {
        close(master);
        result.err = "posix_spawn failed";
        return result;
    }
    const bool underWine = child_process::RunsUnderWine(command);
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::seconds(30);
    while (Clock::now() < deadline) {
        pollfd output = {master, POLLIN, 0};
        if (poll(&output, 1, 100) < 0 && errno != EINTR) break;
        if (output.revents == 0) continue;
        char buffer[4096];
        const ssize_t length = read(master, buffer, sizeof buffer);
        if (length <= 0) {
            if (length < 0 && errno == EINTR) continue;
            break;  // EIO: the terminal's other side is closed
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        for (ssize_t i = 0; i < length; ++i) {
            // Wine's console ends its lines with CR LF: that CR ends no
            // status line.
            const bool lineEnd = underWine && i + 1 < length && buffer[i + 1] == '\n';
            if (buffer[i] == '\r' && !lineEnd) lineSeconds.push_back(seconds);
        }
        result.out.append(buffer, static_cast<std::size_t>(length));
    }
    close(master);
    if (underWine) {
        // The terminal is raw here: Wine's console ends its lines with CR LF.
        result.out = std::regex_replace(child_process::ScreenText(result.out, true), std::regex("\r\n"), "\n");
    }
    result.waitStatus = child_process::WaitForExit(pid);
    const std::vector<unsigned char> error = ReadWholeFile(errorFile);
    result.err.assign(error.begin(), error.end());
    return result;
}

// Runs a tool on the sound server `server` with its output discarded; true
// when it exits with status 0.
bool RunQuietly(std::vector<std::string> command, const std::string& server) {
    const child_process::ProgramResult result =
        child_process::RunProgram(command, {"PULSE_SERVER=" + server}, 10000);
    return result.ExitStatus() == 0;
}

// With FENK_E2E_KEEP_SOUND naming a folder, the captured sound is kept
// there (interleaved float stereo, raw) for a look after the test.
void KeepSound(const audio_analysis::Stereo& sound, const std::string& name) {
    const char* folder = std::getenv("FENK_E2E_KEEP_SOUND");
    if (folder == nullptr || *folder == '\0') return;
    std::ofstream file(std::string(folder) + "/" + name + "-" + std::to_string(sound.rate) + "hz.raw",
                       std::ios::binary);
    for (std::size_t n = 0; n < sound.Frames(); ++n) {
        file.write(reinterpret_cast<const char*>(&sound.left[n]), sizeof(float));
        file.write(reinterpret_cast<const char*>(&sound.right[n]), sizeof(float));
    }
}

std::string SongName(const std::vector<std::string>& arguments) {
    return arguments.empty() ? "none" : std::filesystem::path(arguments[0]).stem().string();
}

}  // namespace


std::string WithoutCpuFigures(const std::string& text) { return std::regex_replace(text, kCpuFigure, "CPU:#\r"); }

std::vector<double> CpuFigures(const std::string& text) {
    std::vector<double> figures;
    for (auto match = std::sregex_iterator(text.begin(), text.end(), kCpuFigure); match != std::sregex_iterator();
         ++match) {
        figures.push_back(std::strtod((*match)[1].str().c_str(), nullptr));
    }
    return figures;
}

Run PlayOnDiskDriver(const std::vector<std::string>& arguments, int rate, const std::string& folder,
                     Pacing pacing) {
    Run run;
    run.sound.rate = rate;
    const std::string device = folder + "/device.raw";
    // Wine's files cannot be FIFOs: under it the driver writes a file.
    if (child_process::RunsUnderWine(FenkCommand(arguments))) pacing = Pacing::DriversOwn;
    if (pacing == Pacing::DriversOwn) {
        InFolder inside(folder);
        run.program = RunOnTerminal(FenkCommand(arguments),
                                    {"SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + device},
                                    folder + "/stderr.txt", run.statusLineSeconds);
        run.sound = audio_analysis::FromFloatFrames(ReadWholeFile(device), rate);
        KeepSound(run.sound, SongName(arguments));
        return run;
    }
    unlink(device.c_str());  // the FIFO of an earlier run in the same folder
    if (mkfifo(device.c_str(), 0600) != 0) {
        run.failure = "mkfifo failed";
        return run;
    }
    // Open before the player starts, so that its open for writing meets a
    // reader at once; close-on-exec so that the player does not hold it.
    const int descriptor = open(device.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) {
        run.failure = "cannot open the FIFO";
        return run;
    }
    // The smallest pipe, so that the driver runs as little ahead of the
    // reader as it can.
    fcntl(descriptor, F_SETPIPE_SZ, 4096);
    std::atomic<bool> ended{false};
    std::vector<unsigned char> bytes;
    std::thread reader([&] { ReadAtPace(descriptor, rate, ended, bytes); });
    {
        InFolder inside(folder);
        run.program = RunOnTerminal(FenkCommand(arguments),
                                    {"SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + device, "SDL_DISKAUDIODELAY=0"},
                                    folder + "/stderr.txt", run.statusLineSeconds);
    }
    ended = true;
    reader.join();
    close(descriptor);
    run.sound = audio_analysis::FromFloatFrames(bytes, rate);
    KeepSound(run.sound, SongName(arguments));
    return run;
}

PulseServer PulseServerFromEnvironment() {
    PulseServer pulse;
    if (const char* server = std::getenv("FENK_TEST_PULSE_SERVER")) pulse.server = server;
    if (const char* sink = std::getenv("FENK_TEST_PULSE_SINK")) pulse.sink = sink;
    if (pulse.sink.empty()) pulse.server.clear();
    return pulse;
}

Run RecordOnPulseAudio(const std::vector<std::string>& command, const std::vector<std::string>& environment,
                       const PulseServer& pulse, const std::string& folder, const std::string& soundName,
                       int timeoutMs) {
    Run run;
    const int rate = 32000;
    run.sound.rate = rate;
    const std::string recording = folder + "/recording.raw";

    std::vector<std::string> parec = {"/usr/bin/parec", "-d", pulse.sink + ".monitor", "--raw",
                                      "--format=s16le", "--rate=" + std::to_string(rate), "--channels=2",
                                      "--latency-msec=20"};
    std::vector<std::string> parecEnvironment = child_process::EnvironmentWith({"PULSE_SERVER=" + pulse.server});
    std::vector<char*> argv = child_process::NullTerminated(parec);
    std::vector<char*> envp = child_process::NullTerminated(parecEnvironment);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, recording.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t recorder = -1;
    const int spawned = posix_spawn(&recorder, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        run.failure = "cannot start parec";
        return run;
    }
    // A null sink renders ahead by as much latency as it was last asked for
    // (2 s while nothing asks for less) and renders nothing until the clock
    // catches up, which would hold the player's stream up at its start.
    // Suspending and resuming the sink restarts its clock at the low
    // latency that parec asks for; it then sends silence all the time, so
    // the first bytes in the file say that parec records.
    for (const char* state : {"1", "0"}) {
        if (!RunQuietly({"/usr/bin/pactl", "suspend-sink", pulse.sink, state}, pulse.server)) {
            run.failure = "pactl suspend-sink failed";
        }
    }
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    std::error_code error;
    while (std::filesystem::file_size(recording, error) == 0 && Clock::now() < deadline) {
        if (waitpid(recorder, nullptr, WNOHANG) == recorder) {
            run.failure = "parec ended before it recorded anything";
            return run;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (run.failure.empty() && std::filesystem::file_size(recording, error) == 0) {
        run.failure = "parec recorded nothing in 10 s";
    }

    if (run.failure.empty()) {
        InFolder inside(folder);
        std::vector<std::string> programEnvironment = environment;
        programEnvironment.push_back("PULSE_SERVER=" + pulse.server);
        run.program = child_process::RunProgram(command, programEnvironment, timeoutMs);
        // What the server still holds of the end.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    kill(recorder, SIGTERM);
    child_process::WaitForExit(recorder);
    run.sound = audio_analysis::FromS16Frames(ReadWholeFile(recording), rate);
    KeepSound(run.sound, soundName);
    return run;
}

Run PlayOnPulseAudio(const std::vector<std::string>& arguments, const PulseServer& pulse,
                     const std::string& folder, const std::vector<std::string>& environment) {
    // In a sanitizer build, libpulse's own leak at exit is not ours. A
    // Windows program under Wine plays through Windows' own sound output
    // (WASAPI), which Wine sends to the same server.
    const bool underWine = child_process::RunsUnderWine(FenkCommand(arguments));
    std::vector<std::string> added = {
        underWine ? "SDL_AUDIODRIVER=wasapi" : "SDL_AUDIODRIVER=pulseaudio",
        std::string("LSAN_OPTIONS=print_suppressions=0:suppressions=") + FENK_E2E_LSAN_SUPPRESSIONS};
    added.insert(added.end(), environment.begin(), environment.end());
    return RecordOnPulseAudio(FenkCommand(arguments), added, pulse, folder, SongName(arguments) + "-pulse");
}

}  // namespace player_run
