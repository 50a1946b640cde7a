#include "compose/midi_file.h"

#include <algorithm>
#include <cstdio>

namespace midi {
namespace {

// Sounding notes are looked up by channel and pitch.
constexpr std::size_t kChannelPitches = 16 * 128;

std::uint32_t BigEndian(const std::uint8_t* bytes, int count) {
    std::uint32_t value = 0;
    for (int i = 0; i < count; ++i) value = (value << 8) | bytes[i];
    return value;
}

std::string Hex(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value & 0xFFu);
    return text;
}

struct Failure {
    bool failed = false;
    std::string reason;
};

// A channel event as read, heard with the others once every track is read
// (as a synthesizer hears the file): a note-off ends a note of its channel
// whatever track began it, and a channel's pitch bend and bend range hold
// for its notes from every track.
struct ChannelEvent {
    enum class Kind : std::uint8_t { NoteOn, NoteOff, Bend, Controller };
    std::uint64_t tick = 0;
    Kind kind = Kind::NoteOn;
    std::uint8_t channel = 0;
    std::uint8_t number = 0;  // NoteOn, NoteOff: the pitch; Controller: the controller
    int value = 0;            // Bend: 0..16383 (8192 the middle); Controller: 0..127
    std::size_t note = 0;     // NoteOn: its index in MidiFile::notes
};

// The notes of one channel and pitch that sound, earliest first: a queue
// whose front is taken in constant time, however many overlap.
struct Sounding {
    std::vector<std::size_t> notes;
    std::size_t first = 0;
    bool Empty() const { return first == notes.size(); }
    void Push(std::size_t note) { notes.push_back(note); }
    std::size_t Pop() {
        const std::size_t note = notes[first++];
        if (Empty()) {
            notes.clear();
            first = 0;
        }
        return note;
    }
};

// One MTrk chunk's events, read into `file` (notes with their start ticks
// only; their ends and bends come from HearChannelEvents, their seconds
// once every tempo is known) and `events`.
class TrackReader {
public:
    TrackReader(const std::uint8_t* data, std::size_t size, std::size_t track, MidiFile& file,
                std::vector<ChannelEvent>& events)
        : data_(data), size_(size), track_(track), file_(file), events_(events) {}

    // The tick of the track's last event, after Read.
    std::uint64_t EndTick() const { return tick_; }

    Failure Read() {
        std::uint8_t runningStatus = 0;
        while (at_ < size_) {
            std::uint32_t delta = 0;
            if (!ReadVariable(delta)) return failure_;
            tick_ += delta;
            if (!Has(1)) return CutShort();
            std::uint8_t status = data_[at_];
            if (status < 0x80) {
                // Running status: the data byte belongs to the last channel message.
                if (runningStatus == 0) return Fail("a data byte " + Hex(status) + " where an event's status belongs");
                status = runningStatus;
            } else {
                ++at_;
            }
            if (status == 0xFF) {
                runningStatus = 0;
                bool ended = false;
                if (!ReadMeta(ended)) return failure_;
                if (ended) break;
            } else if (status == 0xF0 || status == 0xF7) {
                runningStatus = 0;
                std::uint32_t length = 0;
                if (!ReadVariable(length)) return failure_;
                if (!Has(length)) return CutShort();
                at_ += length;
            } else if (status >= 0xF0) {
                return Fail("status byte " + Hex(status) + " is no event a MIDI file holds");
            } else {
                runningStatus = status;
                if (!ReadChannelMessage(status)) return failure_;
            }
        }
        file_.lastTick = std::max(file_.lastTick, tick_);
        return Failure{};
    }

private:
    bool Has(std::size_t count) const { return size_ - at_ >= count; }

    Failure Fail(const std::string& what) {
        failure_.failed = true;
        failure_.reason = "track " + std::to_string(track_ + 1) + ", byte " + std::to_string(at_) + ": " + what;
        return failure_;
    }
    Failure CutShort() { return Fail("the track is cut short (an event runs past its end)"); }

    // A variable-length quantity: 7 bits a byte, the high bit set on all but
    // the last, at most 4 bytes.
    bool ReadVariable(std::uint32_t& value) {
        value = 0;
        for (int count = 0; count < 4; ++count) {
            if (!Has(1)) {
                CutShort();
                return false;
            }
            const std::uint8_t byte = data_[at_++];
            value = (value << 7) | (byte & 0x7Fu);
            if ((byte & 0x80u) == 0) return true;
        }
        Fail("a number longer than 4 bytes");
        return false;
    }

    bool ReadData(std::uint8_t& value) {
        if (!Has(1)) {
            CutShort();
            return false;
        }
        value = data_[at_];
        if (value >= 0x80) {
            Fail("a status byte " + Hex(value) + " where a data byte belongs");
            return false;
        }
        ++at_;
        return true;
    }

    bool ReadChannelMessage(std::uint8_t status) {
        const std::uint8_t kind = status & 0xF0u;
        const std::uint8_t channel = status & 0x0Fu;
        std::uint8_t first = 0, second = 0;
        if (!ReadData(first)) return false;
        if (kind != 0xC0 && kind != 0xD0 && !ReadData(second)) return false;
        using Kind = ChannelEvent::Kind;
        if (kind == 0xE0) {
            events_.push_back({tick_, Kind::Bend, channel, 0, first | (second << 7), 0});  // 14 bits
        } else if (kind == 0xB0) {
            events_.push_back({tick_, Kind::Controller, channel, first, second, 0});
        } else if (kind == 0x90 && second > 0) {
            Note note;
            note.channel = channel;
            note.pitch = first;
            note.velocity = second;
            note.track = track_;
            note.startTick = note.endTick = tick_;
            events_.push_back({tick_, Kind::NoteOn, channel, first, 0, file_.notes.size()});
            file_.notes.push_back(note);
        } else if (kind == 0x80 || kind == 0x90) {
            events_.push_back({tick_, Kind::NoteOff, channel, first, 0, 0});
        }
        return true;
    }

    bool ReadMeta(bool& ended) {
        if (!Has(1)) {
            CutShort();
            return false;
        }
        const std::uint8_t type = data_[at_++];
        std::uint32_t length = 0;
        if (!ReadVariable(length)) return false;
        if (!Has(length)) {
            CutShort();
            return false;
        }
        const std::uint8_t* bytes = data_ + at_;
        switch (type) {
            case 0x2F:  // end of track
                ended = true;
                break;
            case 0x03:  // sequence or track name
                if (file_.trackNames[track_].empty()) {
                    file_.trackNames[track_].assign(reinterpret_cast<const char*>(bytes), length);
                }
                break;
            case 0x51: {  // tempo: 3 bytes of microseconds per quarter note
                if (length != 3) return FailMeta("a tempo event of " + std::to_string(length) + " bytes (3 belong)");
                TempoChange tempo;
                tempo.tick = tick_;
                tempo.microsecondsPerQuarter = BigEndian(bytes, 3);
                if (tempo.microsecondsPerQuarter == 0) return FailMeta("a tempo of 0 microseconds a quarter note");
                file_.tempos.push_back(tempo);
                break;
            }
            case 0x58: {  // time signature: numerator, power of two of the denominator, ...
                if (length < 2) return FailMeta("a time signature of " + std::to_string(length) + " bytes (4 belong)");
                if (bytes[0] == 0 || bytes[1] > 6) {
                    return FailMeta("a time signature of " + std::to_string(bytes[0]) + "/2^" + std::to_string(bytes[1]));
                }
                TimeSignature signature;
                signature.tick = tick_;
                signature.numerator = bytes[0];
                signature.denominator = 1 << bytes[1];
                file_.signatures.push_back(signature);
                break;
            }
            default:
                break;
        }
        at_ += length;
        return true;
    }

    bool FailMeta(const std::string& what) {
        Fail(what);
        return false;
    }

    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t track_;
    MidiFile& file_;
    std::vector<ChannelEvent>& events_;
    std::size_t at_ = 0;
    std::uint64_t tick_ = 0;
    Failure failure_;
};

// What a channel's controllers have set, as the file is heard.
struct ChannelState {
    int bend = 8192;
    // The parameter data entry sets: a registered one (controllers 101 and
    // 100 select it) or, after controllers 99 or 98, a non-registered one,
    // which this reader keeps no value of. Selecting either kind deselects
    // the other, as synthesizers do.
    bool registered = true;
    int rpn = 0x3FFF;  // none selected
    int rangeSemitones = 2;  // RPN 0, the bend range: data entry 6 and 38
    int rangeCents = 0;
};

void Control(ChannelState& state, int controller, int value) {
    switch (controller) {
        case 101: state.registered = true; state.rpn = (state.rpn & 0x7F) | (value << 7); break;
        case 100: state.registered = true; state.rpn = (state.rpn & 0x3F80) | value; break;
        case 99:
        case 98: state.registered = false; break;
        case 6: if (state.registered && state.rpn == 0) state.rangeSemitones = value; break;
        case 38: if (state.registered && state.rpn == 0) state.rangeCents = value; break;
        default: break;
    }
}

// Hears the tracks' channel events in time order (at one tick, in the
// order of the tracks, then as read), as a synthesizer playing the file
// does: each note-off ends the earliest sounding note of its channel and
// pitch, from any track, and each note takes its channel's bend. A note
// never ended lasts to its own track's end.
void HearChannelEvents(MidiFile& file, std::vector<ChannelEvent>& events,
                       const std::vector<std::uint64_t>& trackEnds) {
    std::stable_sort(events.begin(), events.end(),
                     [](const ChannelEvent& a, const ChannelEvent& b) { return a.tick < b.tick; });
    std::vector<Sounding> sounding(kChannelPitches);
    ChannelState channels[16];
    for (const ChannelEvent& event : events) {
        ChannelState& state = channels[event.channel];
        Sounding& open = sounding[event.channel * 128u + (event.number & 0x7Fu)];
        switch (event.kind) {
            case ChannelEvent::Kind::Bend: state.bend = event.value; break;
            case ChannelEvent::Kind::Controller: Control(state, event.number, event.value); break;
            case ChannelEvent::Kind::NoteOn:
                file.notes[event.note].bend =
                    (state.bend - 8192) / 8192.0 * (state.rangeSemitones + state.rangeCents / 100.0);
                open.Push(event.note);
                break;
            case ChannelEvent::Kind::NoteOff:
                if (!open.Empty()) file.notes[open.Pop()].endTick = event.tick;
                break;
        }
    }
    for (Sounding& open : sounding) {
        while (!open.Empty()) {
            Note& note = file.notes[open.Pop()];
            note.endTick = trackEnds[note.track];
        }
    }
}

fenk::Result<MidiFile> Refuse(const std::string& reason) {
    return fenk::Failed<MidiFile>(fenk::Failure::Failed, reason);
}

// Of several changes at one tick the last holds.
template <typename Change>
void KeepTheLastOfEachTick(std::vector<Change>& changes) {
    std::vector<Change> kept;
    for (const Change& change : changes) {
        if (!kept.empty() && kept.back().tick == change.tick) {
            kept.back() = change;
        } else {
            kept.push_back(change);
        }
    }
    changes = std::move(kept);
}

// Fills in the tempo map's moments, a tempo at tick 0 and a signature at
// tick 0 where the file gives none, and every note's seconds.
void PlaceOnTheTimeLine(MidiFile& file) {
    const auto byTick = [](const auto& a, const auto& b) { return a.tick < b.tick; };
    std::stable_sort(file.tempos.begin(), file.tempos.end(), byTick);
    std::stable_sort(file.signatures.begin(), file.signatures.end(), byTick);
    if (file.tempos.empty() || file.tempos.front().tick != 0) file.tempos.insert(file.tempos.begin(), TempoChange{});
    if (file.signatures.empty() || file.signatures.front().tick != 0) {
        file.signatures.insert(file.signatures.begin(), TimeSignature{});
    }
    KeepTheLastOfEachTick(file.tempos);
    KeepTheLastOfEachTick(file.signatures);
    if (file.ticksPerQuarter > 0) {
        for (std::size_t i = 1; i < file.tempos.size(); ++i) {
            const TempoChange& before = file.tempos[i - 1];
            file.tempos[i].seconds = before.seconds + static_cast<double>(file.tempos[i].tick - before.tick) *
                                                          before.microsecondsPerQuarter * 1e-6 / file.ticksPerQuarter;
        }
    }
    std::stable_sort(file.notes.begin(), file.notes.end(), [](const Note& a, const Note& b) {
        if (a.startTick != b.startTick) return a.startTick < b.startTick;
        if (a.channel != b.channel) return a.channel < b.channel;
        return a.pitch < b.pitch;
    });
    for (Note& note : file.notes) {
        note.startSeconds = SecondsAtTick(file, note.startTick);
        note.endSeconds = SecondsAtTick(file, note.endTick);
    }
    file.lengthSeconds = SecondsAtTick(file, file.lastTick);
}

}  // namespace

double SecondsAtTick(const MidiFile& file, std::uint64_t tick) {
    if (file.ticksPerQuarter <= 0) {
        const double ticksPerSecond = file.framesPerSecond * file.ticksPerFrame;
        return ticksPerSecond > 0.0 ? static_cast<double>(tick) / ticksPerSecond : 0.0;
    }
    // The last change at or before `tick`.
    auto after = std::upper_bound(file.tempos.begin(), file.tempos.end(), tick,
                                  [](std::uint64_t at, const TempoChange& tempo) { return at < tempo.tick; });
    if (after == file.tempos.begin()) return static_cast<double>(tick) * 0.5 / file.ticksPerQuarter;
    const TempoChange& tempo = *(after - 1);
    return tempo.seconds +
           static_cast<double>(tick - tempo.tick) * tempo.microsecondsPerQuarter * 1e-6 / file.ticksPerQuarter;
}

bool IsMidiFile(const std::vector<std::uint8_t>& bytes) {
    return bytes.size() >= 4 && std::equal(bytes.begin(), bytes.begin() + 4, "MThd");
}

fenk::Result<MidiFile> ReadMidiFile(const std::vector<std::uint8_t>& bytes) {
    const std::uint8_t* data = bytes.data();
    const std::size_t size = bytes.size();
    // Header chunk: "MThd", length (>= 6), format, tracks, division.
    if (size < 14 || !IsMidiFile(bytes)) {
        return Refuse("not a Standard MIDI File (it does not begin with an MThd header of 14 bytes)");
    }
    const std::uint32_t headerLength = BigEndian(data + 4, 4);
    if (headerLength < 6 || headerLength > size - 8) {
        return Refuse("the header claims " + std::to_string(headerLength) + " bytes (6 or more, within the file's " +
                      std::to_string(size) + ")");
    }
    MidiFile file;
    file.format = static_cast<int>(BigEndian(data + 8, 2));
    const std::uint32_t trackCount = BigEndian(data + 10, 2);
    const std::uint32_t division = BigEndian(data + 12, 2);
    if (file.format == 2) return Refuse("a type 2 file (separate songs) cannot be imported; types 0 and 1 can");
    if (file.format > 2) return Refuse("type " + std::to_string(file.format) + " is no MIDI file type (0, 1 or 2)");
    if ((division & 0x8000u) != 0) {
        // SMPTE: the high byte is minus the frames a second, the low byte
        // the ticks a frame.
        const int frames = 256 - static_cast<int>(division >> 8);
        file.ticksPerFrame = static_cast<int>(division & 0xFFu);
        if (frames != 24 && frames != 25 && frames != 29 && frames != 30) {
            return Refuse("SMPTE time of " + std::to_string(frames) + " frames a second (24, 25, 29.97 or 30 belong)");
        }
        if (file.ticksPerFrame == 0) return Refuse("SMPTE time of 0 ticks a frame");
        file.framesPerSecond = frames == 29 ? 29.97 : frames;
    } else {
        file.ticksPerQuarter = static_cast<int>(division);
        if (file.ticksPerQuarter == 0) return Refuse("a division of 0 ticks a quarter note");
    }

    std::size_t at = 8 + headerLength;
    std::size_t tracksRead = 0;
    std::vector<ChannelEvent> events;
    std::vector<std::uint64_t> trackEnds;
    while (tracksRead < trackCount) {
        if (size - at < 8) {
            return Refuse("the header promises " + std::to_string(trackCount) + " tracks, the file ends after " +
                          std::to_string(tracksRead));
        }
        const std::uint32_t length = BigEndian(data + at + 4, 4);
        if (length > size - at - 8) {
            return Refuse("a chunk at byte " + std::to_string(at) + " claims " + std::to_string(length) +
                          " bytes, but only " + std::to_string(size - at - 8) + " are left in the file");
        }
        const bool isTrack = BigEndian(data + at, 4) == BigEndian(reinterpret_cast<const std::uint8_t*>("MTrk"), 4);
        if (isTrack) {
            file.trackNames.emplace_back();
            TrackReader reader(data + at + 8, length, tracksRead, file, events);
            const Failure failure = reader.Read();
            if (failure.failed) return Refuse(failure.reason);
            trackEnds.push_back(reader.EndTick());
            ++tracksRead;
        }
        at += 8 + static_cast<std::size_t>(length);
    }
    HearChannelEvents(file, events, trackEnds);
    PlaceOnTheTimeLine(file);
    return fenk::Succeeded(std::move(file));
}

}  // namespace midi
