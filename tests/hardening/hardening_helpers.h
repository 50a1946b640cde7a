// What the hardening tests share: the real programs' fixed output, runs as
// an unprivileged user, a PulseAudio daemon of the test's own that it can
// kill, and rendered audio read back.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/platform/child_process.h"

namespace hardening {


// fenk's output from the banner to the song's album line, for a song in a
// program `name` with an empty comment and the given texts.
std::string LoadedSongOutput(const std::string& name, const std::string& title,
                             const std::string& artist = "", const std::string& album = "");

// Runs `arguments` (argv[0] the program) like child_process::RunProgram,
// but as the user "nobody" when the test runs as root, so that file
// permissions count. `*dropped` tells whether the user was changed. The
// program's standard output and error are captured through files in
// `folder`, which must exist.
child_process::ProgramResult RunUnprivileged(const std::vector<std::string>& arguments,
                                             const std::vector<std::string>& environment,
                                             const std::string& folder, bool* dropped);

// A PulseAudio daemon with a null sink, in a folder of its own, reachable
// at `server` ("unix:<folder>/native"). Stopped (SIGKILL) when destroyed.
class PrivatePulse {
public:
    PrivatePulse() = default;
    ~PrivatePulse();
    PrivatePulse(const PrivatePulse&) = delete;
    PrivatePulse& operator=(const PrivatePulse&) = delete;

    // Starts the daemon in `folder` and waits (up to 10 s) until its socket
    // takes connections. False, with `why` set, when pulseaudio is missing
    // or does not come up.
    bool Start(const std::string& folder, std::string* why);
    // Kills the daemon at once, as a crash would, and reaps it.
    void Kill();

    const std::string& Server() const { return server_; }
    pid_t Pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    std::string server_;
};

}  // namespace hardening
