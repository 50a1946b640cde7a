// The FSOUND calls: the main thread's side of the library. It keeps the
// samples, its own view of which channel is busy, and sends every change to
// the mixer as a timestamped command.
#include <chrono>
#include <cmath>
#include <memory>
#include <vector>

#include "channel_allocator.h"
#include "engine.h"
#include "output_device.h"
#include "regular_file.h"
#include "sample_decode.h"

// The calls are the only symbols the shared library exports: FSOUND_API
// on each, everything else hidden.
#include "fsound.h"
#include "fsound_errors.h"
#include "fsound_offline.h"
#include "fsound_timing.h"
// For the library's own tests, which declare it themselves: not part of the
// published calls.
extern "C" FSOUND_API int FSOUND_Offline_DecodedFileCount(void);

struct FSOUND_SAMPLE {
    std::shared_ptr<const fsound::BandLimitedSample> prepared;
    bool looped = false;
    int rate = 0;        // Hz
    int volume = 255;    // 0..255
    int pan = 128;       // 0..255
    int priority = 128;  // 0..255
};

namespace {

constexpr int kMinMixRate = 4000;
constexpr int kMaxMixRate = 65535;
constexpr int kMaxChannels = 256;
constexpr int kSampleSlots = 1024;
constexpr int kMaxRate = 10000000;
// How long a call waits for the audio thread to drain a full command queue
// before it gives up (and fails, changing nothing).
constexpr auto kQueueWaitLimit = std::chrono::milliseconds(250);
// How far ahead of now a call may be meant for.
constexpr std::int64_t kLongestCallTimeAheadNs = 1000000000;

// How a load's loop flags shape the sample.
enum class LoopChoice {
    FromFile,     // the file's loop, or none
    Off,          // FSOUND_LOOP_OFF: never loops
    WholeIfNone,  // FSOUND_LOOP_NORMAL: the file's loop, or the whole sample
};

// One decoded and prepared file. Entries stay until Close: channels on the
// audio thread may still play a sample whose slot was reused.
struct CachedSample {
    fsound::FileIdentity identity;
    bool fromFile = true;  // false: bytes in memory, never reused
    LoopChoice choice = LoopChoice::FromFile;
    std::shared_ptr<const fsound::BandLimitedSample> prepared;
    int sampleRate = 0;
};

struct Library {
    int mixRate = 0;
    bool offline = false;
    fsound::Engine engine;
    fsound::OutputDevice device;
    std::vector<std::unique_ptr<FSOUND_SAMPLE>> slots;
    std::vector<CachedSample> cache;
    fsound::ChannelAllocator channels;
    int decodedFiles = 0;
    // The moment the calls are meant for (FSOUND_Timing_SetCallTime); 0:
    // the moment each is made.
    std::int64_t callTimeNs = 0;
};

// Created by Init, deleted by Close. A program that exits without Close
// leaves it (and the device thread that uses it) to the end of the process.
Library* g_library = nullptr;
bool g_offlineChosen = false;

// The moment of an API call, which places it on the device's clock.
// Offline no call is placed by the clock, so none is read: a long render
// makes hundreds of thousands of calls.
std::int64_t CallMoment() {
    const Library* library = g_library;
    return library != nullptr && library->offline ? 0 : fsound::MonotonicNowNs();
}

void RenderForDevice(void* user, float* stereo, int frames, std::int64_t nowNs) {
    fsound::RenderBlock(*static_cast<fsound::Engine*>(user), stereo, frames, nowNs);
}

bool IsOurSample(const Library& library, const FSOUND_SAMPLE* sample) {
    if (sample == nullptr) return false;
    for (const auto& slot : library.slots) {
        if (slot.get() == sample) return true;
    }
    return false;
}

// Makes sure one more command fits in the queue. Offline, the render that
// would apply the queued commands applies them at the current position
// anyway, so they are applied now. With a device, the audio thread drains
// the queue every block; wait for it, but not forever.
bool MakeRoom(Library& library) {
    if (fsound::FreeCommandSlots(library.engine.queue) > 0) return true;
    if (library.offline) {
        fsound::ApplyQueuedCommands(library.engine);
        return true;
    }
    const auto deadline = std::chrono::steady_clock::now() + kQueueWaitLimit;
    while (fsound::FreeCommandSlots(library.engine.queue) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        fsound::WaitForAudioThread(1);
    }
    return true;
}

// Queues `command` stamped `timeNs` (the call's moment), or the moment the
// calls are meant for when one is set; MakeRoom must have succeeded first.
void Send(Library& library, fsound::Command command, std::int64_t timeNs) {
    command.scheduled = library.callTimeNs != 0;
    command.timeNs = command.scheduled ? library.callTimeNs : timeNs;
    fsound::PushCommand(library.engine.queue, command);
}

// Calls are placed on the device's clock, which anchors in the first tenth
// of a second or so of callbacks; a call placed before that could land a few
// milliseconds off the ones after it. A device that does not call back in
// time (a stalled server) is waited for no longer: calls then go by the
// clock as it stands.
void WaitForDeviceClock(const fsound::Engine& engine) {
    constexpr std::int64_t kLongestWaitNs = 500000000;
    // The clock anchors on callbacks a block (32 ms) apart: looking every
    // 4 ms costs Init at most that, and wakes the program far less than
    // looking every millisecond.
    constexpr unsigned kLookEveryMs = 4;
    const std::int64_t start = fsound::MonotonicNowNs();
    while (!engine.clockAnchored.load(std::memory_order_acquire) &&
           fsound::MonotonicNowNs() - start < kLongestWaitNs) {
        fsound::WaitForAudioThread(kLookEveryMs);
    }
}

bool InRangeOrKeep(int value, int low, int high) { return value == -1 || (value >= low && value <= high); }

// Why the latest FSOUND_Init or FSOUND_Sample_Load failed (FSOUND_ERRORS).
int g_lastError = FSOUND_ERR_NONE;

// Notes `error` as the latest reason; returns `failed`, what the call returns.
template <typename Result>
Result Failing(int error, Result failed) {
    g_lastError = error;
    return failed;
}


int OpenError(fsound::OpenFailure failure) {
    switch (failure) {
        case fsound::OpenFailure::None: return FSOUND_ERR_NONE;
        case fsound::OpenFailure::NotFound: return FSOUND_ERR_FILE_NOTFOUND;
        case fsound::OpenFailure::CannotOpen: return FSOUND_ERR_FILE_UNREADABLE;
        case fsound::OpenFailure::NotRegularFile: return FSOUND_ERR_FILE_NOT_REGULAR;
        case fsound::OpenFailure::TooLarge: return FSOUND_ERR_FILE_TOO_LARGE;
    }
    return FSOUND_ERR_FILE_UNREADABLE;
}

int DecodeError(fsound::DecodeFailure failure) {
    switch (failure) {
        case fsound::DecodeFailure::None: return FSOUND_ERR_NONE;
        case fsound::DecodeFailure::NotAudio: return FSOUND_ERR_FILE_FORMAT;
        case fsound::DecodeFailure::TooLarge: return FSOUND_ERR_FILE_TOO_LARGE;
        case fsound::DecodeFailure::NoFrames: return FSOUND_ERR_FILE_NO_FRAMES;
        case fsound::DecodeFailure::TooLong: return FSOUND_ERR_FILE_TOO_LONG;
        case fsound::DecodeFailure::ReadError: return FSOUND_ERR_FILE_BAD;
    }
    return FSOUND_ERR_FILE_BAD;
}

}  // namespace

int FSOUND_GetError(void) { return g_lastError; }

const char* FSOUND_GetErrorText(int error) {
    switch (error) {
        case FSOUND_ERR_NONE: return "no error";
        case FSOUND_ERR_UNINITIALIZED: return "the sound library is not started";
        case FSOUND_ERR_BUSY: return "the sound library is already started";
        case FSOUND_ERR_INIT: return "no sound output device could be opened";
        case FSOUND_ERR_INVALID_PARAM: return "a value is out of its range";
        case FSOUND_ERR_NO_SLOT: return "every sample slot is taken";
        case FSOUND_ERR_FILE_NOTFOUND: return "no such file";
        case FSOUND_ERR_FILE_UNREADABLE: return "the file cannot be opened for reading";
        case FSOUND_ERR_FILE_NOT_REGULAR: return "not a regular file (a directory, a FIFO or a device)";
        case FSOUND_ERR_FILE_TOO_LARGE: return "the file is larger than 256 MiB";
        case FSOUND_ERR_FILE_FORMAT: return "not an audio file libsndfile can read";
        case FSOUND_ERR_FILE_NO_FRAMES: return "the audio file holds no frames";
        case FSOUND_ERR_FILE_TOO_LONG: return "the sample is longer than 4 Mi frames";
        case FSOUND_ERR_FILE_BAD: return "the audio frames cannot be read";
        case FSOUND_ERR_MEMORY: return "not enough memory";
        case FSOUND_ERR_CHANNEL_ALLOC: return "every channel is busy with a sound of higher priority";
        case FSOUND_ERR_OUTPUT_STALLED: return "the sound output has stalled";
        case FSOUND_ERR_NOT_OFFLINE: return "the sound library is not in offline mode";
        default: return "unknown error";
    }
}

signed char FSOUND_Init(int mixrate, int maxsoftwarechannels, unsigned int /*flags*/) {
    if (g_library != nullptr) return Failing(FSOUND_ERR_BUSY, 0);
    if (mixrate < kMinMixRate || mixrate > kMaxMixRate) return Failing(FSOUND_ERR_INVALID_PARAM, 0);
    if (maxsoftwarechannels < 1 || maxsoftwarechannels > kMaxChannels) {
        return Failing(FSOUND_ERR_INVALID_PARAM, 0);
    }
    auto library = std::make_unique<Library>();
    library->mixRate = mixrate;
    library->offline = g_offlineChosen;
    if (library->offline) {
        fsound::InitEngine(library->engine, mixrate, maxsoftwarechannels, fsound::Timing::Immediate);
    } else {
        // Each backend renders in blocks of its own length, which the
        // engine's clock and latency are made for before it starts.
        bool opened = false;
        for (const fsound::OutputBackend backend : fsound::OutputBackendsToTry()) {
            fsound::InitEngine(library->engine, mixrate, maxsoftwarechannels, fsound::Timing::DeviceClock,
                               fsound::BlockFramesFor(backend, mixrate));
            opened = fsound::OpenOutputDevice(library->device, backend, mixrate, RenderForDevice,
                                              &library->engine);
            if (opened) break;
        }
        if (!opened) return Failing(FSOUND_ERR_INIT, 0);
    }
    library->slots.resize(kSampleSlots);
    library->channels =
        fsound::MakeChannelAllocator(maxsoftwarechannels, library->engine.mixer.endedNotes.get());
    if (!library->offline) WaitForDeviceClock(library->engine);
    g_library = library.release();
    g_lastError = FSOUND_ERR_NONE;
    return 1;
}

namespace {

// Prepares a decoded sample and keeps it in the cache (a file's under its
// identity; bytes in memory under none, never found again). Returns
// FSOUND_ERR_NONE with `*cached` set, or the reason it failed.
int AddDecoded(Library& library, const fsound::DecodeResult& decoded, bool fromFile,
               const fsound::FileIdentity& identity, LoopChoice choice, const CachedSample** cached) {
    if (decoded.failure != fsound::DecodeFailure::None) return DecodeError(decoded.failure);
    fsound::SampleLoop loop = decoded.sample.loop;
    if (choice == LoopChoice::Off) loop = fsound::SampleLoop{};
    if (choice == LoopChoice::WholeIfNone && !loop.looped) {
        loop = fsound::SampleLoop{true, 0, decoded.sample.mono.size()};
    }
    auto prepared = fsound::PrepareSample(decoded.sample.mono, loop);
    if (!prepared) return FSOUND_ERR_MEMORY;
    ++library.decodedFiles;
    library.cache.push_back(
        CachedSample{identity, fromFile, choice, std::move(prepared), decoded.sample.sampleRate});
    *cached = &library.cache.back();
    return FSOUND_ERR_NONE;
}

}  // namespace

FSOUND_SAMPLE* FSOUND_Sample_Load(int index, const char* name_or_data, unsigned int mode, int /*offset*/,
                                  int length) {
    Library* library = g_library;
    FSOUND_SAMPLE* const none = nullptr;
    if (library == nullptr) return Failing(FSOUND_ERR_UNINITIALIZED, none);
    if (name_or_data == nullptr || index < FSOUND_FREE || index >= kSampleSlots) {
        return Failing(FSOUND_ERR_INVALID_PARAM, none);
    }
    int slot = index;
    if (slot == FSOUND_FREE) {
        for (int candidate = 0; candidate < kSampleSlots && slot == FSOUND_FREE; ++candidate) {
            if (!library->slots[static_cast<std::size_t>(candidate)]) slot = candidate;
        }
        if (slot == FSOUND_FREE) return Failing(FSOUND_ERR_NO_SLOT, none);
    }

    const LoopChoice choice = (mode & FSOUND_LOOP_OFF) != 0      ? LoopChoice::Off
                              : (mode & FSOUND_LOOP_NORMAL) != 0 ? LoopChoice::WholeIfNone
                                                                 : LoopChoice::FromFile;
    const CachedSample* cached = nullptr;
    if ((mode & FSOUND_LOADMEMORY) != 0) {
        // Bytes in memory have no identity to cache them by: decoded each time.
        if (length <= 0) return Failing(FSOUND_ERR_INVALID_PARAM, none);
        if (length > fsound::kMaxSampleFileBytes) return Failing(FSOUND_ERR_FILE_TOO_LARGE, none);
        const fsound::DecodeResult decoded = fsound::DecodeSampleBytes(
            reinterpret_cast<const unsigned char*>(name_or_data), static_cast<std::size_t>(length));
        const int error = AddDecoded(*library, decoded, false, fsound::FileIdentity{}, choice, &cached);
        if (error != FSOUND_ERR_NONE) return Failing(error, none);
    } else {
        const fsound::OpenedFile file = fsound::OpenRegularFile(name_or_data, fsound::kMaxSampleFileBytes);
        if (file.failure != fsound::OpenFailure::None) return Failing(OpenError(file.failure), none);
        for (const CachedSample& entry : library->cache) {
            if (entry.fromFile && entry.choice == choice && fsound::SameFile(entry.identity, file.identity))
                cached = &entry;
        }
        if (cached == nullptr) {
            const fsound::DecodeResult decoded = fsound::DecodeSampleDescriptor(file.descriptor);
            fsound::CloseFile(file.descriptor);
            const int error = AddDecoded(*library, decoded, true, file.identity, choice, &cached);
            if (error != FSOUND_ERR_NONE) return Failing(error, none);
        } else {
            fsound::CloseFile(file.descriptor);
        }
    }

    std::unique_ptr<FSOUND_SAMPLE>& holder = library->slots[static_cast<std::size_t>(slot)];
    if (!holder) holder = std::make_unique<FSOUND_SAMPLE>();
    *holder = FSOUND_SAMPLE{};
    holder->prepared = cached->prepared;
    holder->looped = fsound::IsLooped(*cached->prepared);
    holder->rate = std::min(cached->sampleRate, kMaxRate);
    g_lastError = FSOUND_ERR_NONE;
    return holder.get();
}

signed char FSOUND_Sample_SetDefaults(FSOUND_SAMPLE* sptr, int deffreq, int defvol, int defpan, int defpri) {
    Library* library = g_library;
    if (library == nullptr) return Failing(FSOUND_ERR_UNINITIALIZED, 0);
    if (!IsOurSample(*library, sptr)) return Failing(FSOUND_ERR_INVALID_PARAM, 0);
    if (!InRangeOrKeep(deffreq, 1, kMaxRate) || !InRangeOrKeep(defvol, 0, 255) ||
        !InRangeOrKeep(defpan, 0, 255) || !InRangeOrKeep(defpri, 0, 255)) {
        return Failing(FSOUND_ERR_INVALID_PARAM, 0);
    }
    if (deffreq != -1) sptr->rate = deffreq;
    if (defvol != -1) sptr->volume = defvol;
    if (defpan != -1) sptr->pan = defpan;
    if (defpri != -1) sptr->priority = defpri;
    return 1;
}

void FSOUND_SetPanSeperation(float pansep) {
    const std::int64_t now = CallMoment();
    Library* library = g_library;
    const int error = library == nullptr  ? FSOUND_ERR_UNINITIALIZED
                      : std::isnan(pansep) ? FSOUND_ERR_INVALID_PARAM
                      : !MakeRoom(*library) ? FSOUND_ERR_OUTPUT_STALLED
                                            : FSOUND_ERR_NONE;
    if (error != FSOUND_ERR_NONE) {
        g_lastError = error;
        return;
    }
    fsound::Command command;
    command.kind = fsound::CommandKind::SetSeparation;
    command.separation = std::fmin(std::fmax(pansep, 0.0f), 1.0f);
    Send(*library, command, now);
}

signed char FSOUND_StopSound(int channel) {
    const std::int64_t now = CallMoment();
    Library* library = g_library;
    if (library == nullptr) return Failing(FSOUND_ERR_UNINITIALIZED, 0);
    const int count = static_cast<int>(library->channels.channels.size());
    if (channel != FSOUND_ALL && (channel < 0 || channel >= count)) {
        return Failing(FSOUND_ERR_INVALID_PARAM, 0);
    }
    if (!MakeRoom(*library)) return Failing(FSOUND_ERR_OUTPUT_STALLED, 0);
    fsound::Command command;
    if (channel == FSOUND_ALL) {
        for (fsound::ChannelState& state : library->channels.channels) state.busy = false;
        command.kind = fsound::CommandKind::StopAll;
    } else {
        library->channels.channels[static_cast<std::size_t>(channel)].busy = false;
        command.kind = fsound::CommandKind::Stop;
        command.channel = channel;
    }
    Send(*library, command, now);
    // A stop meant for now (a pause, a seek, a mute; not a row's, which
    // is given its moment) is heard at once: what the device holds of the
    // sound that stops is dropped, and the stop and the calls right after
    // it are the next thing heard.
    if (library->callTimeNs == 0) fsound::FlushOutputDevice(library->device, &library->engine.outputDropped);
    return 1;
}

int FSOUND_PlaySoundEx(int channel, FSOUND_SAMPLE* sptr, FSOUND_DSPUNIT* /*dsp*/, signed char startpaused) {
    const std::int64_t now = CallMoment();
    Library* library = g_library;
    if (library == nullptr) return Failing(FSOUND_ERR_UNINITIALIZED, -1);
    if (!IsOurSample(*library, sptr)) return Failing(FSOUND_ERR_INVALID_PARAM, -1);
    const int count = static_cast<int>(library->channels.channels.size());
    int chosen = channel;
    if (channel == FSOUND_FREE) {
        chosen = fsound::ChooseChannel(library->channels, sptr->priority);
        if (chosen < 0) return Failing(FSOUND_ERR_CHANNEL_ALLOC, -1);
    } else if (channel < 0 || channel >= count) {
        return Failing(FSOUND_ERR_INVALID_PARAM, -1);
    }
    if (!MakeRoom(*library)) return Failing(FSOUND_ERR_OUTPUT_STALLED, -1);

    const std::uint32_t noteId =
        fsound::TakeChannel(library->channels, chosen, sptr->priority, !sptr->looped);

    fsound::Command command;
    command.kind = fsound::CommandKind::Start;
    command.channel = chosen;
    command.sample = sptr->prepared.get();
    command.step = static_cast<double>(sptr->rate) / library->mixRate;
    command.volume = static_cast<float>(sptr->volume) / 255.0f;
    command.pan = sptr->pan;
    command.paused = startpaused != 0;
    command.noteId = noteId;
    Send(*library, command, now);
    return chosen;
}

namespace {

// SetPan and SetPaused: one channel that holds a sound, or FSOUND_ALL.
signed char SendChannelChange(fsound::Command command, fsound::CommandKind allKind, std::int64_t now) {
    Library* library = g_library;
    if (library == nullptr) return Failing(FSOUND_ERR_UNINITIALIZED, 0);
    const int count = static_cast<int>(library->channels.channels.size());
    if (command.channel == FSOUND_ALL) {
        command.kind = allKind;
    } else if (command.channel < 0 || command.channel >= count ||
               fsound::ChannelIsFree(library->channels, command.channel)) {
        return Failing(FSOUND_ERR_INVALID_PARAM, 0);
    }
    if (!MakeRoom(*library)) return Failing(FSOUND_ERR_OUTPUT_STALLED, 0);
    Send(*library, command, now);
    return 1;
}

}  // namespace

signed char FSOUND_SetPan(int channel, int pan) {
    const std::int64_t now = CallMoment();
    if (pan != FSOUND_STEREOPAN && (pan < 0 || pan > 255)) return Failing(FSOUND_ERR_INVALID_PARAM, 0);
    fsound::Command command;
    command.kind = fsound::CommandKind::SetPan;
    command.channel = channel;
    command.pan = pan == FSOUND_STEREOPAN ? fsound::kPanBothSides : pan;
    return SendChannelChange(command, fsound::CommandKind::SetPanAll, now);
}

signed char FSOUND_SetPaused(int channel, signed char paused) {
    const std::int64_t now = CallMoment();
    fsound::Command command;
    command.kind = fsound::CommandKind::SetPaused;
    command.channel = channel;
    command.paused = paused != 0;
    return SendChannelChange(command, fsound::CommandKind::SetPausedAll, now);
}

float FSOUND_GetCPUUsage(void) {
    const Library* library = g_library;
    if (library == nullptr) return 0.0f;
    return library->engine.cpuPercent.load(std::memory_order_relaxed);
}

void FSOUND_Close(void) {
    Library* library = g_library;
    if (library == nullptr) return;
    // The device first: once it is closed no callback runs, so nothing
    // touches the samples and channels freed below.
    fsound::CloseOutputDevice(library->device);
    g_library = nullptr;
    delete library;
}

signed char FSOUND_Offline_Enable(signed char enable) {
    if (g_library != nullptr) return Failing(FSOUND_ERR_BUSY, 0);
    g_offlineChosen = enable != 0;
    return 1;
}

signed char FSOUND_Timing_SetCallTime(long long time_ns) {
    Library* library = g_library;
    if (library == nullptr) return Failing(FSOUND_ERR_UNINITIALIZED, 0);
    if (time_ns < 0 || time_ns > fsound::MonotonicNowNs() + kLongestCallTimeAheadNs) {
        return Failing(FSOUND_ERR_INVALID_PARAM, 0);
    }
    library->callTimeNs = time_ns;
    return 1;
}

int FSOUND_Offline_Render(float* stereo, int frames) {
    Library* library = g_library;
    if (library == nullptr) return Failing(FSOUND_ERR_UNINITIALIZED, 0);
    if (!library->offline) return Failing(FSOUND_ERR_NOT_OFFLINE, 0);
    if (stereo == nullptr || frames <= 0) return Failing(FSOUND_ERR_INVALID_PARAM, 0);
    fsound::RenderBlock(library->engine, stereo, frames, fsound::MonotonicNowNs());
    return frames;
}

int FSOUND_Offline_DecodedFileCount(void) {
    const Library* library = g_library;
    return library == nullptr ? 0 : library->decodedFiles;
}
