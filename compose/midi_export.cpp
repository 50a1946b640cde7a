#include "compose/midi_export.h"

#include <algorithm>
#include <cmath>

#include "compose/notes.h"
#include "playback/song_engine.h"

namespace midiexport {
namespace {

constexpr std::uint32_t kMicrosecondsPerQuarter = 500000;  // 120 beats a minute
constexpr std::uint8_t kSquareLead = 80;                    // General MIDI's "Lead 1 (square)"
constexpr std::uint8_t kVelocity = 100;
constexpr int kBendMiddle = 8192;

// Events of one track, each at its absolute tick; written with delta times.
class Track {
public:
    void Meta(std::uint64_t tick, std::uint8_t type, const std::string& data) {
        At(tick);
        bytes_.push_back(0xFF);
        bytes_.push_back(type);
        Variable(data.size());
        bytes_.insert(bytes_.end(), data.begin(), data.end());
    }
    void Channel(std::uint64_t tick, std::uint8_t status, std::uint8_t first, int second = -1) {
        At(tick);
        bytes_.push_back(status);
        bytes_.push_back(first);
        if (second >= 0) bytes_.push_back(static_cast<std::uint8_t>(second));
    }
    // The MTrk chunk, ended by an end-of-track event at `end`.
    void AppendChunk(std::uint64_t end, std::vector<std::uint8_t>& out) {
        Meta(std::max(end, last_), 0x2F, "");
        const char* type = "MTrk";
        out.insert(out.end(), type, type + 4);
        for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(bytes_.size() >> shift));
        out.insert(out.end(), bytes_.begin(), bytes_.end());
    }

private:
    void At(std::uint64_t tick) {
        Variable(tick - last_);
        last_ = tick;
    }
    // A variable-length quantity: 7 bits a byte, most significant first.
    void Variable(std::uint64_t value) {
        std::uint8_t groups[10];
        int count = 0;
        do {
            groups[count++] = static_cast<std::uint8_t>(value & 0x7F);
            value >>= 7;
        } while (value != 0);
        while (count > 1) bytes_.push_back(static_cast<std::uint8_t>(groups[--count] | 0x80));
        bytes_.push_back(groups[0]);
    }

    std::vector<std::uint8_t> bytes_;
    std::uint64_t last_ = 0;
};

// The key and the bend that sound period `period`.
struct Pitch {
    std::uint8_t key = 0;
    double semitones = 0;  // the bend it needs; 0 where the key alone will do
};

Pitch PitchOf(std::uint8_t period) {
    const double exact = 69.0 + 12.0 * std::log2(notes::PeriodFrequency(period) / 440.0);
    Pitch pitch;
    const int key = std::clamp(static_cast<int>(std::lround(exact)), 0, 127);
    pitch.key = static_cast<std::uint8_t>(key);
    const bool exactKey = notes::NearestPeriod(notes::NoteFrequency(key)) == period;
    if (std::fabs(exact - key) * 100.0 > kBendCents || !exactKey) pitch.semitones = exact - key;
    return pitch;
}

// The bend in 14-bit units for `semitones` on a range of `range` semitones.
int BendUnits(double semitones, int range) {
    const long units = std::lround(semitones / range * kBendMiddle);
    return static_cast<int>(std::clamp<long>(kBendMiddle + units, 0, 16383));
}

}  // namespace

fenk::Result<Export> ExportMidi(const songfile::SongView& song) {
    const playback::SongTimeline timeline = playback::MeasureSong(song);
    if (timeline.rows > kMostRows) {
        return fenk::Failed<Export>(fenk::Failure::Failed,
                                    "the song plays " + std::to_string(timeline.rows) +
                                        " rows; a MIDI file is written of songs of at most " +
                                        std::to_string(kMostRows));
    }
    Export result;
    Track conductor;
    conductor.Meta(0, 0x03, songfile::TitleText(song));
    if (!songfile::ArtistText(song).empty()) conductor.Meta(0, 0x01, songfile::ArtistText(song));
    if (!songfile::AlbumText(song).empty()) conductor.Meta(0, 0x01, songfile::AlbumText(song));
    conductor.Meta(0, 0x51, std::string{static_cast<char>(kMicrosecondsPerQuarter >> 16),
                                        static_cast<char>((kMicrosecondsPerQuarter >> 8) & 0xFF),
                                        static_cast<char>(kMicrosecondsPerQuarter & 0xFF)});
    conductor.Meta(0, 0x58, std::string{4, 2, 24, 8});  // 4/4

    // The bend range: two semitones, or what the highest periods need
    // above the last MIDI key (period 1: 15.8 semitones).
    int range = kBendRangeSemitones;
    std::vector<bool> used(256, false);
    for (const playback::SectionTiming& section : timeline.sections) {  // each section once
        for (std::size_t row = 0; row < section.rows; ++row) {
            const songfile::SongRow played = songfile::RowAt(song, section.offset + row * songfile::kRowBytes);
            for (std::uint8_t period : played.periods) used[period] = true;
        }
    }
    for (int period = 1; period < 256; ++period) {
        if (!used[static_cast<std::size_t>(period)]) continue;
        const double needed = std::fabs(PitchOf(static_cast<std::uint8_t>(period)).semitones);
        range = std::max(range, static_cast<int>(std::ceil(needed)));
    }

    result.bendRange = range;

    Track voices[songfile::kVoices];
    std::uint8_t sounding[songfile::kVoices] = {};  // the period of the note on, 0 for none
    std::uint8_t keyOn[songfile::kVoices] = {};
    int bend[songfile::kVoices];
    for (int voice = 0; voice < songfile::kVoices; ++voice) {
        const auto channel = static_cast<std::uint8_t>(voice);
        Track& track = voices[voice];
        track.Meta(0, 0x03, "Voice " + std::to_string(voice));
        track.Channel(0, 0xC0 | channel, kSquareLead);
        track.Channel(0, 0xB0 | channel, 101, 0);  // RPN 0: pitch bend range
        track.Channel(0, 0xB0 | channel, 100, 0);
        track.Channel(0, 0xB0 | channel, 6, range);
        track.Channel(0, 0xB0 | channel, 38, 0);
        track.Channel(0, 0xB0 | channel, 101, 127);  // no RPN selected again
        track.Channel(0, 0xB0 | channel, 100, 127);
        track.Channel(0, 0xE0 | channel, 0, kBendMiddle >> 7);
        bend[voice] = kBendMiddle;
    }
    const auto stop = [&](int voice, std::uint64_t tick) {
        if (sounding[voice] == 0) return;
        voices[voice].Channel(tick, static_cast<std::uint8_t>(0x80 | voice), keyOn[voice], 64);
        sounding[voice] = 0;
    };
    for (const playback::TimelineEntry& entry : timeline.entries) {
        std::uint64_t tick = entry.startTick;
        for (std::size_t row = 0; row < entry.rows; ++row) {
            const songfile::SongRow played = songfile::RowAt(song, entry.sectionOffset + row * songfile::kRowBytes);
            for (int voice = 0; voice < songfile::kVoices; ++voice) {
                const std::uint8_t period = played.periods[voice];
                if (period == sounding[voice]) continue;  // held on, or a rest on
                stop(voice, tick);
                if (period == 0) continue;
                const Pitch pitch = PitchOf(period);
                const int units = BendUnits(pitch.semitones, range);
                const auto channel = static_cast<std::uint8_t>(voice);
                if (units != bend[voice]) {
                    voices[voice].Channel(tick, 0xE0 | channel, units & 0x7F, units >> 7);
                    bend[voice] = units;
                }
                if (pitch.semitones != 0.0) ++result.bent;
                voices[voice].Channel(tick, 0x90 | channel, pitch.key, kVelocity);
                sounding[voice] = period;
                keyOn[voice] = pitch.key;
                ++result.notes;
            }
            tick += played.duration;
        }
    }
    for (int voice = 0; voice < songfile::kVoices; ++voice) stop(voice, timeline.totalTicks);

    // Header: "MThd", 6, type 1, five tracks, the division.
    std::vector<std::uint8_t>& out = result.bytes;
    const std::uint8_t header[] = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 1 + songfile::kVoices,
                                   0, kTicksPerQuarter};
    out.assign(header, header + sizeof header);
    conductor.AppendChunk(timeline.totalTicks, out);
    for (Track& track : voices) track.AppendChunk(timeline.totalTicks, out);
    return fenk::Succeeded(std::move(result));
}

}  // namespace midiexport
