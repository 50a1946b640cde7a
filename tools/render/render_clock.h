// fenk-render's clock: the player's waits turned into audio. SleepMs(ms)
// mixes, in the sound library's offline mode, exactly the frames that bring
// the total to (all ms so far) x rate / 1000, so no fraction of a frame is
// ever lost at any rate (44100 Hz included) and every tick starts on the
// frame it falls on. The frames are written to the audio file in blocks, by
// a thread of the clock's own while the next block is mixed.
// There is no keyboard: an interrupt signal, or a failed write, stops
// playback at the next tick.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/render/audio_file.h"
#include "playback/playback.h"

namespace render {

class RenderClock : public playback::Clock {
public:
    // Mixes at `rate` Hz into `audio`. `expectedMs` is how long the whole
    // render plays, for the progress bar on standard error (shown when
    // `progress`).
    RenderClock(AudioFile& audio, int rate, std::uint64_t expectedMs, bool progress);
    // Waits for the block being written.
    ~RenderClock() override;
    RenderClock(const RenderClock&) = delete;
    RenderClock& operator=(const RenderClock&) = delete;

    bool StopRequested() override;
    void SleepMs(unsigned milliseconds) override;

    // Writes what is buffered and waits until it is written; true when
    // nothing failed so far. The audio file is the caller's again then.
    bool Flush();
    // Clears the progress bar's line, if one was shown.
    void EndProgress();

    std::uint64_t Frames() const { return rendered_; }  // mixed so far
    const std::string& Error() const { return error_; }  // why it failed
    bool Failed() const { return failed_; }

private:
    void Fail(const std::string& error);
    void ShowProgress();
    // Hands the buffered frames to the writer once it is done with the
    // block before (taking up a failure of that block's write).
    void HandOver();
    void WriteBlocks();  // the writer thread

    AudioFile& audio_;
    int rate_;
    std::uint64_t expectedMs_;
    bool progress_;
    std::vector<float> buffer_;  // interleaved stereo, being mixed into
    std::size_t buffered_ = 0;   // frames in buffer_
    std::uint64_t elapsedMs_ = 0;
    std::uint64_t rendered_ = 0;
    int shownPercent_ = -1;
    bool failed_ = false;
    std::string error_;

    // Shared with the writer, under mutex_: the block it writes while
    // writingFrames_ > 0 (the mixing side touches writing_ only when 0).
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<float> writing_;
    std::size_t writingFrames_ = 0;
    std::string writeError_;  // the first failed write's reason
    bool quit_ = false;
    std::thread writer_;
};

}  // namespace render
