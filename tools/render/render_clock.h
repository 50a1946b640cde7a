// fenk-render's clock: the player's waits turned into audio. SleepMs(ms)
// mixes, in the sound library's offline mode, exactly the frames that bring
// the total to (all ms so far) x rate / 1000, so no fraction of a frame is
// ever lost at any rate (44100 Hz included) and every tick starts on the
// frame it falls on. The frames are written to the audio file in blocks.
// There is no keyboard: an interrupt signal, or a failed write, stops
// playback at the next tick.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "audio_file.h"
#include "playback.h"

namespace render {

class RenderClock : public playback::Clock {
public:
    // Mixes at `rate` Hz into `audio`. `expectedMs` is how long the whole
    // render plays, for the progress bar on standard error (shown when
    // `progress`).
    RenderClock(AudioFile& audio, int rate, std::uint64_t expectedMs, bool progress);

    bool StopRequested() override;
    void SleepMs(unsigned milliseconds) override;

    // Writes what is buffered; true when nothing failed so far.
    bool Flush();
    // Clears the progress bar's line, if one was shown.
    void EndProgress();

    std::uint64_t Frames() const { return rendered_; }  // mixed so far
    const std::string& Error() const { return error_; }  // why it failed
    bool Failed() const { return failed_; }

private:
    void Fail(const std::string& error);
    void ShowProgress();

    AudioFile& audio_;
    int rate_;
    std::uint64_t expectedMs_;
    bool progress_;
    std::vector<float> buffer_;  // interleaved stereo
    std::size_t buffered_ = 0;   // frames in buffer_
    std::uint64_t elapsedMs_ = 0;
    std::uint64_t rendered_ = 0;
    int shownPercent_ = -1;
    bool failed_ = false;
    std::string error_;
};

}  // namespace render
