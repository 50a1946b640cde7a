// The four voices over the sound library: one sample per voice, each row's
// rate given as the sample's default rate before the voice is started.
#include <cassert>

#include "playback/playback.h"

namespace playback {
namespace {

constexpr int kSoftwareChannels = 32;
constexpr unsigned kInitFlags = 0;

// 16-bit signed mono; a WAV carries its own format, so only the loop bits
// matter in practice.
constexpr unsigned kSampleMode = FSOUND_16BITS | FSOUND_MONO | FSOUND_SIGNED;

constexpr int kVoiceVolume = 63;  // library scale 0..255
// Centre. A channel whose pan is never set (mono) plays at this pan, so it
// must be the centre, not 0, which is full left.
constexpr int kDefaultPan = 128;
constexpr int kKeepPriority = -1;
constexpr float kFullPanSeparation = 1.0f;
constexpr int kLeftPan = 0;
constexpr int kRightPan = 255;

}  // namespace

ToneOutput MakeToneOutput(const playback::SoundLibrary& library,
                          const PlaybackSettings& settings) {
    ToneOutput output;
    output.library = &library;
    output.stopNotesEachRow = settings.stopNotesEachRow;
    output.stereoPanning = settings.stereoPanning;
    return output;
}

bool Start(ToneOutput& output, int mixRate) {
    assert(output.library != nullptr);
    return output.library->Init(mixRate, kSoftwareChannels, kInitFlags) != 0;
}

namespace {

// The four loads, all made before any result is looked at; samples that
// did load on a failure are freed by the library's Close.
bool LoadFourTimes(ToneOutput& output, const char* nameOrData, unsigned mode, int length) {
    assert(output.library != nullptr);
    FSOUND_SAMPLE* loaded[songfile::kVoices];
    for (FSOUND_SAMPLE*& sample : loaded)
        sample = output.library->SampleLoad(FSOUND_FREE, nameOrData, mode, 0, length);
    for (FSOUND_SAMPLE* sample : loaded)
        if (sample == nullptr) return false;
    for (int voice = 0; voice < songfile::kVoices; ++voice) output.samples[voice] = loaded[voice];
    return true;
}

}  // namespace

bool LoadVoiceSamples(ToneOutput& output, const char* path) {
    return LoadFourTimes(output, path, kSampleMode, 0);
}

bool LoadVoiceSamplesFromMemory(ToneOutput& output, const std::uint8_t* bytes, int size) {
    return LoadFourTimes(output, reinterpret_cast<const char*>(bytes),
                         kSampleMode | FSOUND_LOADMEMORY, size);
}

namespace {

void SoundRow(ToneOutput& output, const int rates[songfile::kVoices], std::int64_t startNs, bool stopFirst) {
    const playback::SoundLibrary& library = *output.library;
    // The row's calls take effect at the moment it was meant to start, not
    // at the moment the main thread woke to make them.
    const bool timed = startNs != 0 && library.SetCallTime != nullptr &&
                       library.SetCallTime(startNs) != 0;
    // The library's results are ignored on purpose: a voice that cannot be
    // started is simply not heard.
    if (stopFirst) library.StopSound(FSOUND_ALL);
    for (int voice = 0; voice < songfile::kVoices; ++voice)
        library.SampleSetDefaults(output.samples[voice], rates[voice],
                                  kVoiceVolume, kDefaultPan, kKeepPriority);
    library.SetPanSeperation(kFullPanSeparation);
    for (int voice = 0; voice < songfile::kVoices; ++voice) {
        if (rates[voice] == kSilentRate) continue;
        // Started paused so that the pan is in place before it sounds.
        const int channel =
            library.PlaySoundEx(FSOUND_FREE, output.samples[voice], nullptr, 1);
        if (output.stereoPanning)
            library.SetPan(channel, voice < 2 ? kLeftPan : kRightPan);
        library.SetPaused(channel, 0);
    }
    if (timed) library.SetCallTime(0);
}

}  // namespace

void SetVoices(ToneOutput& output, const int rates[songfile::kVoices], std::int64_t startNs) {
    SoundRow(output, rates, startNs, output.stopNotesEachRow);
}

void RestartVoices(ToneOutput& output, const int rates[songfile::kVoices]) {
    SoundRow(output, rates, 0, true);
}

float CpuUsage(const ToneOutput& output) {
    assert(output.library != nullptr);
    return output.library->GetCPUUsage();
}

void Shutdown(ToneOutput& output) {
    assert(output.library != nullptr);
    output.library->Close();
    // The handles died with the library.
    for (FSOUND_SAMPLE*& sample : output.samples) sample = nullptr;
}

}  // namespace playback
