#include "tools/render/render_clock.h"

#include <cstdio>

#include "fsound_offline.h"
#include "tools/common/tool_support.h"

namespace render {

namespace {

// Frames buffered before each write (2 s at 32000 Hz, 512 KiB of floats
// in each of the two buffers): few hand-overs to the writer. Each wakes
// the other thread, which costs about as much as mixing a twentieth of a
// second; at 16384 frames that was a tenth of a long render's processor
// time.
constexpr std::size_t kChunkFrames = std::size_t{1} << 16;

}  // namespace

RenderClock::RenderClock(AudioFile& audio, int rate, std::uint64_t expectedMs, bool progress)
    : audio_(audio), rate_(rate), expectedMs_(expectedMs), progress_(progress),
      buffer_(2 * kChunkFrames), writing_(2 * kChunkFrames), writer_([this] { WriteBlocks(); }) {}

RenderClock::~RenderClock() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    changed_.notify_all();
    writer_.join();
}

void RenderClock::WriteBlocks() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return quit_ || writingFrames_ > 0; });
        if (writingFrames_ == 0) return;
        const std::size_t frames = writingFrames_;
        lock.unlock();
        const fenk::Status written = WriteAudioFrames(audio_, writing_.data(), frames);
        lock.lock();
        if (!written.ok() && writeError_.empty()) writeError_ = written.reason;
        writingFrames_ = 0;
        changed_.notify_all();
    }
}

void RenderClock::HandOver() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return writingFrames_ == 0; });
    if (!writeError_.empty() && !failed_) Fail(writeError_);
    if (!failed_ && buffered_ > 0) {
        std::swap(buffer_, writing_);
        writingFrames_ = buffered_;
        changed_.notify_all();
    }
    buffered_ = 0;
}

bool RenderClock::StopRequested() { return failed_ || tools::Interrupted(); }

void RenderClock::SleepMs(unsigned milliseconds) {
    if (failed_) return;
    elapsedMs_ += milliseconds;
    const std::uint64_t target = elapsedMs_ * static_cast<std::uint64_t>(rate_) / 1000;
    while (rendered_ < target && !failed_) {
        const std::size_t room = kChunkFrames - buffered_;
        const std::uint64_t due = target - rendered_;
        const int frames = static_cast<int>(due < room ? due : room);
        const int got = FSOUND_Offline_Render(buffer_.data() + 2 * buffered_, frames);
        if (got != frames) {
            Fail("the sound library stopped rendering");
            return;
        }
        buffered_ += static_cast<std::size_t>(frames);
        rendered_ += static_cast<std::uint64_t>(frames);
        if (buffered_ == kChunkFrames) HandOver();
    }
    ShowProgress();
}

bool RenderClock::Flush() {
    HandOver();
    HandOver();  // waits for that block, and takes up its failure
    return !failed_;
}

void RenderClock::EndProgress() {
    if (progress_ && shownPercent_ >= 0) std::fprintf(stderr, "\r%*s\r", 72, "");
}

void RenderClock::Fail(const std::string& error) {
    failed_ = true;
    error_ = error;
}

void RenderClock::ShowProgress() {
    if (!progress_ || expectedMs_ == 0) return;
    std::uint64_t percent = elapsedMs_ * 100 / expectedMs_;
    if (percent > 100) percent = 100;
    if (static_cast<int>(percent) == shownPercent_) return;
    shownPercent_ = static_cast<int>(percent);
    constexpr int kWidth = 40;
    const int filled = static_cast<int>(percent * kWidth / 100);
    std::fprintf(stderr, "\r[%.*s%*s] %3d%%  %.1f of %.1f s", filled,
                 "########################################", kWidth - filled, "",
                 shownPercent_, elapsedMs_ / 1000.0, expectedMs_ / 1000.0);
    std::fflush(stderr);
}

}  // namespace render
