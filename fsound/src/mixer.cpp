#include "mixer.h"

#include <algorithm>
#include <cmath>

namespace fsound {
namespace {

constexpr double kQuarterPi = 0.78539816339744830962;

StereoGains TargetGains(const Voice& voice, float separation) {
    if (voice.paused) return StereoGains{};
    const StereoGains pan = PanGains(voice.pan, separation);
    return StereoGains{pan.left * voice.volume, pan.right * voice.volume};
}

// A voice that has not been heard yet takes its new gains at once (its first
// frame is the sample's own onset); one that has been heard ramps to them, so
// no change of pan, separation or pause steps the waveform.
void Retarget(Voice& voice, float separation, int rampFrames) {
    const StereoGains target = TargetGains(voice, separation);
    voice.leftTarget = target.left;
    voice.rightTarget = target.right;
    if (voice.sounded) {
        voice.rampFramesLeft = rampFrames;
    } else {
        voice.leftGain = target.left;
        voice.rightGain = target.right;
        voice.rampFramesLeft = 0;
    }
}

// Moves a channel's voice into a fading slot, so the channel is free for a
// new sound while the old one dies away over rampFrames. A voice that is
// silent already (paused out, or never heard) simply ends.
void Release(Mixer& mixer, Voice& voice) {
    if (!voice.active) return;
    const bool audible = voice.sounded && (voice.leftGain != 0.0f || voice.rightGain != 0.0f ||
                                           voice.rampFramesLeft > 0);
    if (audible) {
        Voice* slot = nullptr;
        for (Voice& candidate : mixer.releasing) {
            if (!candidate.active) {
                slot = &candidate;
                break;
            }
            // No free slot: take over the fade nearest its end.
            if (slot == nullptr || candidate.rampFramesLeft < slot->rampFramesLeft) slot = &candidate;
        }
        if (slot != nullptr) {
            *slot = voice;
            slot->paused = false;
            slot->leftTarget = 0.0f;
            slot->rightTarget = 0.0f;
            slot->rampFramesLeft = mixer.rampFrames;
        }
    }
    voice.active = false;
}

// Mixes up to `frames` frames of one voice; returns false once the voice has
// ended (a one-shot played out, or a fade reached silence).
bool MixOneVoice(Voice& voice, float* stereo, int frames, bool fadingOut) {
    int done = 0;
    while (done < frames) {
        if (voice.rampFramesLeft > 0) {
            const int count = std::min(frames - done, voice.rampFramesLeft);
            const float fraction = static_cast<float>(count) / static_cast<float>(voice.rampFramesLeft);
            float leftEnd = voice.leftGain + (voice.leftTarget - voice.leftGain) * fraction;
            float rightEnd = voice.rightGain + (voice.rightTarget - voice.rightGain) * fraction;
            voice.rampFramesLeft -= count;
            if (voice.rampFramesLeft == 0) {
                leftEnd = voice.leftTarget;
                rightEnd = voice.rightTarget;
            }
            MixVoice(*voice.sample, voice.cursor, voice.step, voice.leftGain, voice.rightGain, leftEnd,
                     rightEnd, stereo + 2 * done, count);
            voice.sounded = true;
            voice.leftGain = leftEnd;
            voice.rightGain = rightEnd;
            done += count;
        } else {
            if (fadingOut) return false;  // the fade has reached silence
            if (voice.paused) return true;  // faded out and holding its place
            MixVoice(*voice.sample, voice.cursor, voice.step, voice.leftGain, voice.rightGain,
                     voice.leftGain, voice.rightGain, stereo + 2 * done, frames - done);
            voice.sounded = true;
            done = frames;
        }
        if (voice.cursor.finished) return false;
    }
    return !(fadingOut && voice.rampFramesLeft == 0);
}

}  // namespace

StereoGains PanGains(int pan, float separation) {
    if (pan == kPanBothSides) return StereoGains{1.0f, 1.0f};
    pan = std::clamp(pan, 0, 255);
    const double position = pan >= 128 ? (pan - 128) / 127.0 : (pan - 128) / 128.0;
    const double scaled = position * std::clamp(static_cast<double>(separation), 0.0, 1.0);
    return StereoGains{static_cast<float>(std::sin((1.0 - scaled) * kQuarterPi)),
                       static_cast<float>(std::sin((1.0 + scaled) * kQuarterPi))};
}

void InitMixer(Mixer& mixer, int outputRate, int channelCount) {
    mixer.outputRate = outputRate;
    mixer.rampFrames = std::max(1, (outputRate + 500) / 1000);
    mixer.separation = 1.0f;
    mixer.channels.assign(static_cast<std::size_t>(channelCount), Voice{});
    mixer.releasing.assign(static_cast<std::size_t>(channelCount) * 2, Voice{});
    mixer.endedNotes = std::make_unique<std::atomic<std::uint32_t>[]>(static_cast<std::size_t>(channelCount));
    for (int channel = 0; channel < channelCount; ++channel) {
        mixer.endedNotes[static_cast<std::size_t>(channel)].store(0, std::memory_order_relaxed);
    }
}

void ApplyCommand(Mixer& mixer, const Command& command) {
    const int channelCount = static_cast<int>(mixer.channels.size());
    const bool oneChannel = command.channel >= 0 && command.channel < channelCount;
    switch (command.kind) {
        case CommandKind::Start: {
            if (!oneChannel || command.sample == nullptr || !(command.step > 0.0)) return;
            Voice& voice = mixer.channels[static_cast<std::size_t>(command.channel)];
            Release(mixer, voice);
            voice = Voice{};
            voice.active = true;
            voice.sample = command.sample;
            voice.step = command.step;
            voice.volume = command.volume;
            voice.pan = command.pan;
            voice.paused = command.paused;
            voice.noteId = command.noteId;
            Retarget(voice, mixer.separation, mixer.rampFrames);
            return;
        }
        case CommandKind::Stop:
            if (oneChannel) Release(mixer, mixer.channels[static_cast<std::size_t>(command.channel)]);
            return;
        case CommandKind::StopAll:
            for (Voice& voice : mixer.channels) Release(mixer, voice);
            return;
        case CommandKind::SetPan:
        case CommandKind::SetPanAll:
        case CommandKind::SetPaused:
        case CommandKind::SetPausedAll: {
            const bool all = command.kind == CommandKind::SetPanAll ||
                             command.kind == CommandKind::SetPausedAll;
            const bool pan = command.kind == CommandKind::SetPan || command.kind == CommandKind::SetPanAll;
            if (!all && !oneChannel) return;
            const int first = all ? 0 : command.channel;
            const int last = all ? channelCount - 1 : command.channel;
            for (int channel = first; channel <= last; ++channel) {
                Voice& voice = mixer.channels[static_cast<std::size_t>(channel)];
                if (!voice.active) continue;
                if (pan) {
                    voice.pan = command.pan;
                } else {
                    voice.paused = command.paused;
                }
                Retarget(voice, mixer.separation, mixer.rampFrames);
            }
            return;
        }
        case CommandKind::SetSeparation:
            mixer.separation = std::clamp(command.separation, 0.0f, 1.0f);
            for (Voice& voice : mixer.channels) {
                if (voice.active) Retarget(voice, mixer.separation, mixer.rampFrames);
            }
            return;
    }
}

void MixFrames(Mixer& mixer, float* stereo, int frames) {
    if (frames <= 0) return;
    for (std::size_t channel = 0; channel < mixer.channels.size(); ++channel) {
        Voice& voice = mixer.channels[channel];
        if (!voice.active) continue;
        if (!MixOneVoice(voice, stereo, frames, false)) {
            voice.active = false;
            // Release order: the main thread reads the flag and may reuse the
            // channel; nothing else is shared with it.
            mixer.endedNotes[channel].store(voice.noteId, std::memory_order_release);
        }
    }
    for (Voice& voice : mixer.releasing) {
        if (voice.active && !MixOneVoice(voice, stereo, frames, true)) voice.active = false;
    }
}

}  // namespace fsound
