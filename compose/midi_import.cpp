#include "compose/midi_import.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <queue>
#include <set>

#include "compose/notes.h"
#include "compose/song_text.h"
#include "songfile/songfile.h"

namespace midiimport {
namespace {

using songfile::kVoices;
constexpr int kPercussionChannel = 9;  // "channel 10"
constexpr double kTicksPerSecond = 200.0;  // 5 ms ticks
constexpr std::int64_t kTicksPerMoment = 2;  // the tune is looked at every 10 ms
constexpr int kBarsPerSection = 4;
constexpr double kSmpteBarSeconds = 2.0;
constexpr std::int64_t kLongestRowTicks = 65535;
constexpr std::size_t kExamples = 3;  // notes named in each summary line
// Longer music would not fit in a program file anyway; refusing it early
// bounds the rows and bars worked out.
constexpr std::int64_t kLongestSongTicks = 2 * 3600 * 200;
// Bar lines beyond this many are not looked for (sections grow longer).
constexpr std::size_t kMostBars = 100000;

std::int64_t TickOf(double seconds) { return std::llround(seconds * kTicksPerSecond); }

// The period nearest a key bent by `bend` semitones (may lie outside 1..255).
// Unbent keys from a table: the reduction and the tune's measure ask for
// them at every note and moment.
int PeriodOf(int pitch, double bend) {
    constexpr int kTableKeys = 256;  // keys -64..191: any MIDI key transposed by up to 64
    static const std::vector<int> unbent = [] {
        std::vector<int> periods(kTableKeys);
        for (int k = 0; k < kTableKeys; ++k) periods[k] = notes::NearestPeriod(notes::NoteFrequency(k - 64));
        return periods;
    }();
    const int key = pitch + 64;
    if (bend == 0.0 && key >= 0 && key < kTableKeys) return unbent[static_cast<std::size_t>(key)];
    return notes::NearestPeriod(notes::NoteFrequency(pitch) * std::pow(2.0, bend / 12.0));
}

// A key moved by octaves into the note names' octaves (-1..9) and the
// periods' reach, as the import plays it.
int InReach(int pitch, double bend) {
    while (pitch > 127) pitch -= 12;
    while (PeriodOf(pitch, bend) > 255) pitch += 12;
    return pitch;
}

// A note on the song's ticks, as the reduction handles it.
struct Placed {
    std::int64_t start = 0;
    std::int64_t end = 0;  // > start
    int pitch = 0;         // MIDI number, transposed
    double bend = 0.0;     // semitones of pitch bend at its start
    int velocity = 64;
    int source = 0;        // where it came from: an index into the import's sources
    bool keep = true;
};

// What a note is in the arrangement when it begins: the highest note
// sounding then (the tune a listener follows), the lowest (the bass), or
// one between them.
enum class Part { Top, Bottom, Inner };

// How well `voice` suits a note of `part`: 0 best. The tune goes to voice
// 0, the bass to voice 3, the notes between to voices 1 and 2.
int Tier(Part part, int voice) {
    switch (part) {
        case Part::Top: return voice == 0 ? 0 : voice == 3 ? 2 : 1;
        case Part::Bottom: return voice == 3 ? 0 : voice == 0 ? 2 : 1;
        case Part::Inner: break;
    }
    return voice == 1 || voice == 2 ? 0 : 1;
}

// The reduction to four voices, over the moments at which notes begin or
// end. At each, the arrangement's highest and lowest sounding notes are
// found (of the notes sounding then, whether kept or not); the notes that
// begin take voices in this order: the highest, the lowest, then those
// between, the longer and louder first. A note takes a free voice: the one
// its part suits best, then the one whose last note lies nearest in pitch
// (a voice keeps to one line). With none free, the highest or the lowest
// note cuts a note that is now between them where it begins (leaves it out
// when both begin together), the least worth keeping (the shortest left to
// sound, the softest); a note between them is left out. When the highest
// or the lowest note sounds in no voice (it was between others when it
// began, or cut), the rest of it takes a voice as it would have: the tune
// and the bass go on. `lost(note, wasCut)` hears of each note cut or left
// out; the rest of a note taken up again is added to `placed`.
template <typename Lost>
void Reduce(std::vector<Placed>& placed, std::vector<std::vector<std::size_t>>& voices, Lost lost) {
    std::stable_sort(placed.begin(), placed.end(), [](const Placed& a, const Placed& b) { return a.start < b.start; });
    const std::size_t originals = placed.size();
    std::vector<std::int64_t> originalEnd(originals);
    for (std::size_t i = 0; i < originals; ++i) originalEnd[i] = placed[i].end;
    std::multimap<int, std::size_t> sounding;  // the arrangement's notes sounding, by pitch
    using Ending = std::pair<std::int64_t, std::size_t>;  // end, note
    std::priority_queue<Ending, std::vector<Ending>, std::greater<Ending>> endings;
    int lastPitch[kVoices] = {-1, -1, -1, -1};
    std::vector<std::pair<Part, std::size_t>> group;
    std::int64_t at = 0;
    int top = 0, bottom = 0;
    const auto sounds = [&](int voice) {
        const std::vector<std::size_t>& taken = voices[static_cast<std::size_t>(voice)];
        return !taken.empty() && placed[taken.back()].end > at;
    };
    // Gives note `index` a voice as a note of `part`; false when it has none.
    const auto place = [&](std::size_t index, Part part) {
        int chosen = -1;
        int best = 0;
        for (int voice = 0; voice < kVoices; ++voice) {
            if (sounds(voice)) continue;
            const int score = Tier(part, voice) * 1000 +
                              (lastPitch[voice] < 0 ? 0 : std::abs(lastPitch[voice] - placed[index].pitch));
            if (chosen < 0 || score < best) {
                chosen = voice;
                best = score;
            }
        }
        if (chosen < 0 && part != Part::Inner) {
            double leastWorth = 0.0;
            for (int voice = 0; voice < kVoices; ++voice) {
                const Placed& other = placed[voices[static_cast<std::size_t>(voice)].back()];
                if (other.pitch == top || other.pitch == bottom) continue;
                const double worth = static_cast<double>(other.end - at) * other.velocity + Tier(part, voice) * 0.5;
                if (chosen < 0 || worth < leastWorth) {
                    chosen = voice;
                    leastWorth = worth;
                }
            }
            if (chosen >= 0) {
                std::vector<std::size_t>& taken = voices[static_cast<std::size_t>(chosen)];
                Placed& other = placed[taken.back()];
                if (other.start == at) {
                    other.keep = false;
                    taken.pop_back();
                    lost(other, false);
                } else {
                    other.end = at;
                    lost(other, true);
                }
            }
        }
        if (chosen < 0) return false;
        voices[static_cast<std::size_t>(chosen)].push_back(index);
        lastPitch[chosen] = placed[index].pitch;
        return true;
    };
    for (std::size_t first = 0; first < originals || !endings.empty();) {
        at = first < originals ? placed[first].start : endings.top().first;
        if (!endings.empty()) at = std::min(at, endings.top().first);
        while (!endings.empty() && endings.top().first <= at) {
            const std::size_t gone = endings.top().second;
            const auto [from, to] = sounding.equal_range(placed[gone].pitch);
            for (auto it = from; it != to; ++it) {
                if (it->second == gone) {
                    sounding.erase(it);
                    break;
                }
            }
            endings.pop();
        }
        std::size_t last = first;
        for (; last < originals && placed[last].start == at; ++last) {
            sounding.insert({placed[last].pitch, last});
            endings.push({originalEnd[last], last});
        }
        if (sounding.empty()) {
            first = last;
            continue;
        }
        top = sounding.rbegin()->first;
        bottom = sounding.begin()->first;
        group.clear();
        for (std::size_t i = first; i < last; ++i) {
            const int pitch = placed[i].pitch;
            group.push_back({pitch == top ? Part::Top : pitch == bottom ? Part::Bottom : Part::Inner, i});
        }
        std::stable_sort(group.begin(), group.end(), [&](const auto& a, const auto& b) {
            if (a.first != b.first) return a.first < b.first;
            const Placed& x = placed[a.second];
            const Placed& y = placed[b.second];
            const std::int64_t worthX = (x.end - x.start) * x.velocity, worthY = (y.end - y.start) * y.velocity;
            if (worthX != worthY) return worthX > worthY;
            return x.pitch > y.pitch;
        });
        for (const auto& [part, index] : group) {
            if (!place(index, part)) {
                placed[index].keep = false;
                lost(placed[index], false);
            }
        }
        first = last;
        // The tune and the bass go on where no voice sounds them.
        for (const Part part : {Part::Top, Part::Bottom}) {
            const int pitch = part == Part::Top ? top : bottom;
            bool heard = false;
            for (int voice = 0; voice < kVoices && !heard; ++voice) {
                heard = sounds(voice) && placed[voices[static_cast<std::size_t>(voice)].back()].pitch == pitch;
            }
            if (heard) continue;
            const std::size_t source = (part == Part::Top ? std::prev(sounding.end()) : sounding.begin())->second;
            Placed rest = placed[source];
            rest.start = at;
            rest.end = originalEnd[source];
            rest.keep = true;
            if (rest.end <= at) continue;
            placed.push_back(rest);
            if (!place(placed.size() - 1, part)) placed.pop_back();
        }
    }
}

// "bar 5 E4", for the summary.
// `barStarts` are the bars of the part imported, the first of them bar
// `firstBar` of the file.
std::string Where(const std::vector<std::int64_t>& barStarts, std::size_t firstBar, const Placed& note) {
    const auto bar = std::upper_bound(barStarts.begin(), barStarts.end(), note.start) - barStarts.begin();
    return "bar " + std::to_string(std::max<std::ptrdiff_t>(1, bar) + static_cast<std::ptrdiff_t>(firstBar) - 1) + " " +
           notes::NoteName(note.pitch);
}

void Count(std::vector<std::string>& examples, std::size_t& count, const std::string& example) {
    if (examples.size() < kExamples) examples.push_back(example);
    ++count;
}

std::string CountLine(const std::string& what, std::size_t count, const std::vector<std::string>& examples) {
    std::string line = std::to_string(count) + " " + what;
    if (count > 0) {
        line += " (";
        for (std::size_t i = 0; i < examples.size(); ++i) line += (i ? ", " : "") + examples[i];
        if (count > examples.size()) line += ", ...";
        line += ")";
    }
    return line;
}

std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7F) continue;  // the calculator shows printable ASCII only
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

// The bar lines on the song's ticks, from the time signatures, up to `end`.
std::vector<std::int64_t> BarStarts(const midi::MidiFile& file, std::int64_t end) {
    std::vector<std::int64_t> starts;
    if (file.ticksPerQuarter <= 0) {
        for (double at = 0; TickOf(at) <= end; at += kSmpteBarSeconds) starts.push_back(TickOf(at));
        return starts;
    }
    std::size_t looked = 0;
    for (std::size_t i = 0; i < file.signatures.size(); ++i) {
        const midi::TimeSignature& signature = file.signatures[i];
        const std::uint64_t barTicks = static_cast<std::uint64_t>(signature.numerator) * 4 *
                                       static_cast<std::uint64_t>(file.ticksPerQuarter) /
                                       static_cast<std::uint64_t>(signature.denominator);
        const std::uint64_t until = i + 1 < file.signatures.size() ? file.signatures[i + 1].tick : UINT64_MAX;
        for (std::uint64_t tick = signature.tick; tick < until && barTicks > 0 && looked++ < kMostBars;
             tick += barTicks) {
            const std::int64_t at = TickOf(midi::SecondsAtTick(file, tick));
            if (at > end) return starts;
            if (starts.empty() || at > starts.back()) starts.push_back(at);
        }
    }
    return starts;
}

}  // namespace

fenk::Result<Place> ParsePlace(const std::string& text) {
    Place place;
    const auto fail = [&](const std::string& why) {
        return fenk::Failed<Place>(fenk::Failure::Failed, "'" + text + "' is no place in the file: " + why);
    };
    const std::string what = "a bar number (57) or a time (4:31.2)";
    if (text.empty() || text.size() > 16) return fail(what);
    // Digits read as a number no larger than `most`; false when more.
    const auto whole = [](const std::string& digits, double most, double& value) {
        value = 0.0;
        for (char c : digits) value = value * 10.0 + (c - '0');
        return value <= most;
    };
    if (text.find_first_not_of("0123456789") == std::string::npos) {
        double bar = 0.0;
        if (!whole(text, static_cast<double>(kMostBars), bar)) {
            return fail("bars are counted up to " + std::to_string(kMostBars));
        }
        place.kind = Place::Kind::Bar;
        place.bar = static_cast<int>(bar);
        if (place.bar < 1) return fail(what);
        return fenk::Succeeded(place);
    }
    const std::size_t colon = text.find(':');
    const std::string minutes = colon == std::string::npos ? "0" : text.substr(0, colon);
    const std::string seconds = colon == std::string::npos ? text : text.substr(colon + 1);
    if (minutes.empty() || minutes.find_first_not_of("0123456789") != std::string::npos || seconds.empty() ||
        seconds.find_first_not_of("0123456789.") != std::string::npos || seconds.front() == '.' ||
        std::count(seconds.begin(), seconds.end(), '.') > 1 || (colon != std::string::npos && seconds.find('.') != 2 &&
                                                                  seconds.size() != 2)) {
        return fail(what);
    }
    // Later than this is later than any file plays (and than the song's
    // ticks can count).
    constexpr double kLatest = 1e8;
    double minuteCount = 0.0, secondCount = 0.0;
    if (!whole(minutes, kLatest / 60.0, minuteCount) || !songtext::ParseDecimal(seconds, &secondCount) ||
        minuteCount * 60.0 + secondCount > kLatest) {
        return fail("no file lasts that long");
    }
    place.kind = Place::Kind::Time;
    place.seconds = minuteCount * 60.0 + secondCount;
    return fenk::Succeeded(place);
}

fenk::Result<std::vector<VoiceSource>> ParseVoiceSources(const std::string& text) {
    std::vector<VoiceSource> sources;
    std::size_t from = 0;
    for (;;) {
        const std::size_t comma = text.find(',', from);
        const std::string item = text.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
        VoiceSource source;
        if (item != "-") {
            const bool known = item.size() >= 2 && (item[0] == 'c' || item[0] == 't') &&
                               item.find_first_not_of("0123456789", 1) == std::string::npos && item.size() <= 4;
            const int number = known ? std::stoi(item.substr(1)) : 0;
            if (!known || number < 1 || (item[0] == 'c' && number > 16)) {
                return fenk::Failed<std::vector<VoiceSource>>(
                    fenk::Failure::Failed, "--voices: '" + item + "' is no channel (c1..c16), track (t1, t2, ...) or '-'");
            }
            source.kind = item[0] == 'c' ? VoiceSource::Kind::Channel : VoiceSource::Kind::Track;
            source.number = number;
        }
        sources.push_back(source);
        if (comma == std::string::npos) break;
        from = comma + 1;
    }
    if (sources.size() != kVoices) {
        return fenk::Failed<std::vector<VoiceSource>>(
            fenk::Failure::Failed, "--voices names " + std::to_string(sources.size()) + " voices; it takes four, such as c1,c2,t3,-");
    }
    return fenk::Succeeded(std::move(sources));
}

namespace {

// "4:31.2" of song ticks.
std::string Clock(std::int64_t ticks) {
    const std::int64_t tenths = ticks / 20;
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld.%lld", static_cast<long long>(tenths / 600),
                  static_cast<long long>(tenths / 10 % 60), static_cast<long long>(tenths % 10));
    return text;
}

// "65,516".
std::string Thousands(std::size_t value) {
    std::string digits = std::to_string(value);
    for (std::ptrdiff_t at = static_cast<std::ptrdiff_t>(digits.size()) - 3; at > 0; at -= 3) digits.insert(static_cast<std::size_t>(at), ",");
    return digits;
}

// The song block's bytes when `text` is compiled, or SIZE_MAX when it does
// not compile or build (too big for a program).
std::size_t ProgramBytes(const std::string& text) {
    const songtext::CompileResult compiled = songtext::CompileSongText(text);
    if (!compiled.ok) return SIZE_MAX;
    const fenk::Result<songtext::ProgramFile> built = songtext::BuildProgramFile(compiled);
    return built.ok() ? built.value.body.size() : SIZE_MAX;
}

// The file's ticks of a --grid note value ("1/16": a sixteenth note; "" none: 0).
fenk::Result<std::uint64_t> GridTicks(const midi::MidiFile& file, const std::string& grid) {
    const auto fail = [&](const std::string& why) { return fenk::Failed<std::uint64_t>(fenk::Failure::Failed, why); };
    if (grid.empty()) return fenk::Succeeded<std::uint64_t>(0);
    const std::size_t slash = grid.find('/');
    const std::string top = grid.substr(0, slash), bottom = slash == std::string::npos ? "1" : grid.substr(slash + 1);
    const auto number = [](const std::string& text) {
        return !text.empty() && text.size() <= 4 && text.find_first_not_of("0123456789") == std::string::npos
                   ? std::stoi(text) : 0;
    };
    const int numerator = number(top), denominator = number(bottom);
    if (numerator < 1 || denominator < 1) return fail("--grid '" + grid + "' is no note value, such as 1/16 or 1/12");
    if (file.ticksPerQuarter <= 0) return fail("--grid needs a file that counts beats; this one counts SMPTE time");
    const long long ticks = std::llround(4.0 * file.ticksPerQuarter * numerator / denominator);
    if (ticks < 1) return fail("--grid " + grid + " is less than one of the file's ticks");
    return fenk::Succeeded(static_cast<std::uint64_t>(ticks));
}

// The file's tempo at each moment, as a song text writes it.
struct Tempo {
    std::int64_t from = 0;  // song ticks
    // As the compiler reads `text` (songtext::ParseDecimal); 0: durations
    // in ticks (SMPTE time, or a tempo no tempo line can say).
    double bpm = 0.0;
    std::string text;       // "120", "92.5"; "" with no tempo line
};

// The largest tempo a tempo line takes.
constexpr double kFastestTempoLine = 1000000.0;

class TempoMap {
public:
    explicit TempoMap(const midi::MidiFile& file) {
        if (file.ticksPerQuarter <= 0) {
            tempos_.push_back(Tempo{});
            return;
        }
        for (const midi::TempoChange& change : file.tempos) {
            char text[32];
            std::snprintf(text, sizeof text, "%.6g", 60e6 / change.microsecondsPerQuarter);
            Tempo tempo{TickOf(change.seconds), 0.0, text};
            // Beats are checked at the tempo the compiler will read; one
            // beyond a tempo line's reach (an exponent in the text) keeps
            // the tempo line before it and writes its rows in ticks.
            if (!songtext::ParseDecimal(tempo.text, &tempo.bpm) || tempo.bpm > kFastestTempoLine) {
                tempo.bpm = 0.0;
                tempo.text = tempos_.empty() ? "" : tempos_.back().text;
            }
            // Of several changes on one song tick the last holds.
            if (!tempos_.empty() && tempos_.back().from == tempo.from) {
                tempos_.back() = tempo;
            } else {
                tempos_.push_back(tempo);
            }
        }
        if (tempos_.empty()) tempos_.push_back(Tempo{0, 120.0, "120"});
    }
    // The tempo at song tick `tick` of the whole file: the last change at or
    // before it (the first before any).
    const Tempo& At(std::int64_t tick) const {
        const auto after = std::upper_bound(tempos_.begin(), tempos_.end(), tick,
                                            [](std::int64_t at, const Tempo& tempo) { return at < tempo.from; });
        return after == tempos_.begin() ? tempos_.front() : *(after - 1);
    }

private:
    std::vector<Tempo> tempos_;  // in order of `from`, each `from` once
};

// A row's duration as the song text writes it: the plainest beats at `bpm`
// that compile to exactly `ticks` (songtext::PlainBeats), else "85t".
std::string Duration(std::int64_t ticks, double bpm) {
    const songtext::Beats beats = songtext::PlainBeats(ticks, bpm);
    return beats.found ? beats.text : std::to_string(ticks) + "t";
}

// The import of the file's notes from song tick `from` to `to` (the whole:
// 0 and INT64_MAX), the song starting at `from`; without `summarise` only
// its text (for --fit's trials: the summary costs as much again).
fenk::Result<Import> ImportPart(const midi::MidiFile& file, const ImportOptions& options, std::int64_t from,
                                std::int64_t to, bool summarise = true) {
    const auto refuse = [](const std::string& reason) { return fenk::Failed<Import>(fenk::Failure::Failed, reason); };
    const bool chosen = !options.voices.empty();
    for (const VoiceSource& source : options.voices) {
        if (source.kind == VoiceSource::Kind::Track && static_cast<std::size_t>(source.number) > file.trackNames.size()) {
            return refuse("--voices names track " + std::to_string(source.number) + "; the file has " +
                          std::to_string(file.trackNames.size()));
        }
    }

    // The notes on ticks, each with where it came from.
    std::vector<Placed> placed;
    std::vector<std::string> sources;  // "channel 1", "track 2": Placed::source
    std::size_t drums = 0, unused = 0, shorter = 0;
    if (chosen) {
        for (const VoiceSource& source : options.voices) {
            sources.push_back(source.kind == VoiceSource::Kind::None ? "nothing"
                              : (source.kind == VoiceSource::Kind::Channel ? "channel " : "track ") +
                                    std::to_string(source.number));
        }
    } else {
        for (int channel = 1; channel <= 16; ++channel) sources.push_back("channel " + std::to_string(channel));
    }
    const fenk::Result<std::uint64_t> grid = GridTicks(file, options.grid);
    if (!grid.ok()) return refuse(grid.reason);
    for (const midi::Note& note : file.notes) {
        Placed one;
        if (grid.value > 0) {
            // On the grid of the file's own beats: a note keeps a step at least.
            const std::uint64_t step = grid.value;
            const std::uint64_t start = (note.startTick + step / 2) / step * step;
            const std::uint64_t end = std::max((note.endTick + step / 2) / step * step, start + step);
            one.start = TickOf(midi::SecondsAtTick(file, start));
            one.end = TickOf(midi::SecondsAtTick(file, end));
        } else {
            one.start = TickOf(note.startSeconds);
            one.end = TickOf(note.endSeconds);
        }
        if (one.end <= one.start) ++shorter;
        one.end = std::max(one.end, one.start + 1);
        // A part of the file: its notes cut to the part, the song starting
        // where it starts.
        if (one.end <= from || one.start >= to) continue;
        one.start = std::max(one.start, from) - from;
        one.end = std::min(one.end, to) - from;
        one.pitch = note.pitch + options.transpose;
        one.bend = note.bend;
        one.velocity = note.velocity;
        if (chosen) {
            // A chosen source's notes go to its voice.
            one.source = -1;
            for (int voice = 0; voice < kVoices; ++voice) {
                const VoiceSource& source = options.voices[static_cast<std::size_t>(voice)];
                if ((source.kind == VoiceSource::Kind::Channel && source.number == note.channel + 1) ||
                    (source.kind == VoiceSource::Kind::Track && static_cast<std::size_t>(source.number) == note.track + 1)) {
                    one.source = voice;
                    break;
                }
            }
            if (one.source < 0) {
                ++unused;
                continue;
            }
        } else {
            if (note.channel == kPercussionChannel) {
                ++drums;
                continue;
            }
            one.source = note.channel;
        }
        placed.push_back(one);
    }
    if (placed.empty()) {
        if (from > 0 || to < INT64_MAX) return refuse("the part chosen with --from and --to holds no notes");
        return refuse("the file holds no notes to import" + std::string(drums ? " (only percussion, channel 10)" : ""));
    }
    const std::int64_t songEnd = std::max_element(placed.begin(), placed.end(), [](const Placed& a, const Placed& b) {
                                     return a.end < b.end;
                                 })->end;
    if (songEnd > kLongestSongTicks) {
        return refuse("the music lasts " + std::to_string(songEnd / 200 / 60) + " minutes, longer than a song may (2 hours)");
    }
    // The part's bars, counted as the file counts them.
    std::vector<std::int64_t> barStarts;
    std::size_t firstBar = 1;
    for (const std::int64_t start : BarStarts(file, from + songEnd)) {
        if (start < from) ++firstBar;
        else barStarts.push_back(start - from);
    }

    std::vector<std::vector<std::size_t>> voices(kVoices);  // indices into placed, in order
    std::vector<std::string> cutExamples, outExamples;
    std::size_t cut = 0, leftOut = 0;
    if (chosen) {
        std::stable_sort(placed.begin(), placed.end(), [](const Placed& a, const Placed& b) {
            if (a.start != b.start) return a.start < b.start;
            return a.pitch > b.pitch;
        });
        // One note at a time in a voice: a note that begins cuts the one
        // sounding; of notes that begin together the highest holds.
        for (std::size_t index = 0; index < placed.size(); ++index) {
            Placed& note = placed[index];
            std::vector<std::size_t>& taken = voices[static_cast<std::size_t>(note.source)];
            if (!taken.empty() && placed[taken.back()].end > note.start) {
                Placed& other = placed[taken.back()];
                if (other.start == note.start) {
                    note.keep = false;
                    Count(outExamples, leftOut, Where(barStarts, firstBar, note));
                    continue;
                }
                other.end = note.start;
                Count(cutExamples, cut, Where(barStarts, firstBar, other));
            }
            taken.push_back(index);
        }
    } else {
        Reduce(placed, voices, [&](const Placed& note, bool wasCut) {
            if (wasCut) Count(cutExamples, cut, Where(barStarts, firstBar, note));
            else Count(outExamples, leftOut, Where(barStarts, firstBar, note));
        });
    }

    // Pitches within the periods' reach, and equal notes parted.
    std::vector<std::string> movedExamples, offExamples;
    std::size_t moved = 0, farOff = 0, parted = 0, kept = 0, melodyNotes = 0, melodyFarOff = 0;
    for (std::vector<std::size_t>& taken : voices) {
        taken.erase(std::remove_if(taken.begin(), taken.end(), [&](std::size_t i) { return !placed[i].keep; }),
                    taken.end());
        for (std::size_t k = 0; k < taken.size(); ++k) {
            Placed& note = placed[taken[k]];
            ++kept;
            const int pitch = InReach(note.pitch, note.bend);
            if (pitch != note.pitch) {
                Count(movedExamples, moved, Where(barStarts, firstBar, note) + " to " + notes::NoteName(pitch));
                note.pitch = pitch;
            }
            const auto period = static_cast<std::uint8_t>(std::max(1, PeriodOf(pitch, note.bend)));
            const bool off = std::fabs(notes::CentsOff(period, pitch) - note.bend * 100.0) > notes::kFarOffCents;
            if (off) Count(offExamples, farOff, Where(barStarts, firstBar, note));
            if (&taken == &voices[0]) {
                ++melodyNotes;
                if (off) ++melodyFarOff;
            }
            // The player runs equal periods together: C8, C#8 and D8 are
            // all period 7, so neighbours are parted by period, not by key.
            if (k > 0) {
                Placed& before = placed[taken[k - 1]];
                if (before.end == note.start && PeriodOf(before.pitch, before.bend) == PeriodOf(note.pitch, note.bend) &&
                    before.end - before.start > 1) {
                    --before.end;
                    ++parted;
                }
            }
        }
    }

    // Rows: a new one wherever a voice changes or a bar begins.
    std::vector<std::int64_t> cuts(barStarts.begin(), barStarts.end());
    cuts.push_back(0);
    cuts.push_back(songEnd);
    for (const std::vector<std::size_t>& taken : voices) {
        for (std::size_t i : taken) {
            cuts.push_back(placed[i].start);
            cuts.push_back(placed[i].end);
        }
    }
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    std::vector<std::size_t> next(kVoices, 0);
    struct Row {
        std::int64_t start;
        std::string tempo;  // the tempo its duration is written in
        std::string text;
    };
    std::vector<Row> rows;
    std::vector<PlayedRow> played;
    const TempoMap tempos(file);
    for (std::size_t c = 0; c + 1 < cuts.size(); ++c) {
        const std::int64_t rowStart = cuts[c], rowEnd = cuts[c + 1];
        std::string voicesText;
        PlayedRow heard{rowStart, rowEnd - rowStart, {}};
        for (int voice = 0; voice < kVoices; ++voice) {
            const std::vector<std::size_t>& taken = voices[static_cast<std::size_t>(voice)];
            std::size_t& at = next[static_cast<std::size_t>(voice)];
            while (at < taken.size() && placed[taken[at]].end <= rowStart) ++at;
            const bool sounding = at < taken.size() && placed[taken[at]].start <= rowStart;
            // A bent note is written as the period it sounds.
            std::string name = "-";
            if (sounding) {
                const Placed& note = placed[taken[at]];
                const int period = std::clamp(PeriodOf(note.pitch, note.bend), 1, 255);
                name = note.bend == 0.0 ? notes::NoteName(note.pitch) : std::to_string(period);
                heard.periods[voice] = static_cast<std::uint8_t>(period);
            }
            if (name.size() < 5) name.resize(5, ' ');
            voicesText += "  " + name;
        }
        played.push_back(heard);
        const Tempo& tempo = tempos.At(rowStart + from);
        for (std::int64_t start = rowStart; start < rowEnd; start += kLongestRowTicks) {
            const std::int64_t length = std::min(kLongestRowTicks, rowEnd - start);
            rows.push_back(Row{start, tempo.text, voicesText + "  " + Duration(length, tempo.bpm)});
        }
    }

    // Sections of kBarsPerSection bars, each written once.
    std::vector<std::int64_t> sectionStarts;
    for (std::size_t bar = 0; bar < barStarts.size(); bar += kBarsPerSection) sectionStarts.push_back(barStarts[bar]);
    if (sectionStarts.empty() || sectionStarts.front() != 0) sectionStarts.insert(sectionStarts.begin(), 0);
    std::string body, orderLine = "order";
    std::map<std::string, std::string> written;  // a section's rows -> its name
    std::size_t row = 0, sectionsWritten = 0, entries = 0;
    for (std::size_t s = 0; s < sectionStarts.size() && row < rows.size(); ++s) {
        const std::int64_t until = s + 1 < sectionStarts.size() ? sectionStarts[s + 1] : INT64_MAX;
        // A section says its tempo, and each change in it: its durations
        // read the same wherever the order plays it.
        std::string content, tempo;
        for (; row < rows.size() && rows[row].start < until; ++row) {
            if (!rows[row].tempo.empty() && rows[row].tempo != tempo) {
                tempo = rows[row].tempo;
                content += "tempo " + tempo + "\n";
            }
            content += rows[row].text + "\n";
        }
        if (content.empty()) continue;
        const std::size_t sectionBar = firstBar + s * kBarsPerSection;
        auto found = written.find(content);
        if (found == written.end()) {
            const std::string name = "bars" + std::to_string(sectionBar) + "-" + std::to_string(sectionBar + kBarsPerSection - 1);
            found = written.emplace(content, name).first;
            body += "\nsection " + name + "\n# voice0 voice1 voice2 voice3 duration\n";
            body += content;
            body += "end\n";
            ++sectionsWritten;
        }
        orderLine += " " + found->second;
        ++entries;
    }

    Import result;
    result.format = file.format;
    result.tracks = file.trackNames.size();
    std::string title = options.title;
    for (const std::string& name : file.trackNames) {
        if (Quoted(name).size() > 2) {  // something printable besides the quotes
            title = name;
            break;
        }
    }
    result.text = "# Imported from a MIDI file by fenk-make: four voices; durations in beats at the file's\n"
                  "# tempo where they come out exact, else in 5 ms ticks.\n"
                  "title " + Quoted(title) + "\nname " + options.programName + "\n" + body + "\n" + orderLine + "\n";

    std::string used;
    for (int voice = 0; voice < kVoices; ++voice) {
        std::vector<bool> here(sources.size(), false);
        for (std::size_t i : voices[static_cast<std::size_t>(voice)]) here[static_cast<std::size_t>(placed[i].source)] = true;
        std::string from;
        for (std::size_t source = 0; source < sources.size(); ++source) {
            if (here[source]) from += (from.empty() ? "" : "+") + sources[source];
        }
        used += (voice ? ", " : "") + std::to_string(voice) + " " + (from.empty() ? "silent" : from);
    }
    if (!summarise) return fenk::Succeeded(std::move(result));
    result.summary.push_back("voices: " + used);
    const TuneKept tune = MeasureTuneKept(file, options.transpose, played, from, to);
    char keptLine[96];
    std::snprintf(keptLine, sizeof keptLine, "tune: melody kept %.0f %% of the time, bass %.0f %%", 100.0 * tune.melody,
                  100.0 * tune.bass);
    result.summary.push_back(keptLine);
    std::string noteLine = "notes: " + std::to_string(kept) + " kept, " + CountLine("cut short", cut, cutExamples) +
                           ", " + CountLine("left out", leftOut, outExamples);
    if (drums > 0) noteLine += ", " + std::to_string(drums) + " of percussion (channel 10) left out";
    if (unused > 0) noteLine += ", " + std::to_string(unused) + " of channels and tracks no voice takes left out";
    result.summary.push_back(noteLine);
    result.summary.push_back("timing: " + std::to_string(shorter) + " notes shorter than a tick given one, " +
                             std::to_string(parted) + " repeated notes parted by a 5 ms rest");
    std::string pitchLine = "pitches: " + CountLine("moved by octaves", moved, movedExamples) + ", " +
                            CountLine("more than 30 cents off", farOff, offExamples);
    // The periods round high notes coarsely: a tune mostly up there sounds
    // truer an octave lower.
    if (melodyNotes > 0 && 2 * melodyFarOff > melodyNotes) {
        pitchLine += "; most of the melody lies where periods are coarse: --transpose -12 sounds truer";
    }
    result.summary.push_back(pitchLine);
    result.summary.push_back("length: " + Clock(songEnd) + ", " + std::to_string(entries) +
                             (entries == 1 ? " section" : " sections") + " (" + std::to_string(sectionsWritten) +
                             " written), " + std::to_string(rows.size()) + " rows");
    return fenk::Succeeded(std::move(result));
}

}  // namespace

fenk::Result<Import> ImportMidi(const midi::MidiFile& file, const ImportOptions& options) {
    // The places --from and --to name, on the song's ticks.
    const std::vector<std::int64_t> bars = BarStarts(file, TickOf(file.lengthSeconds));
    const auto tickOf = [&](const Place& place, std::int64_t unset, std::int64_t& tick) -> std::string {
        switch (place.kind) {
            case Place::Kind::None: tick = unset; return "";
            case Place::Kind::Time: tick = TickOf(place.seconds); return "";
            case Place::Kind::Bar: break;
        }
        if (place.bar < 1 || static_cast<std::size_t>(place.bar) > bars.size()) {
            return "the file has " + std::to_string(bars.size()) + " bars; there is no bar " + std::to_string(place.bar);
        }
        tick = bars[static_cast<std::size_t>(place.bar - 1)];
        return "";
    };
    std::int64_t from = 0, to = INT64_MAX;
    std::string wrong = tickOf(options.from, 0, from);
    if (wrong.empty()) wrong = tickOf(options.to, INT64_MAX, to);
    if (!wrong.empty()) return fenk::Failed<Import>(fenk::Failure::Failed, wrong);
    if (to <= from) return fenk::Failed<Import>(fenk::Failure::Failed, "--to names a place that is not after --from");
    fenk::Result<Import> whole = ImportPart(file, options, from, to);
    // With --fit a start is looked for also when the whole is refused (a
    // file longer than a song may be); without one that fits, the whole's
    // reason stands.
    if (!options.fit) return whole;
    const std::size_t wholeBytes = whole.ok() ? ProgramBytes(whole.value.text) : SIZE_MAX;
    if (wholeBytes <= songfile::kMaxProgramBody) return whole;

    // The longest start that fits: the most bars from `from` on. A part's
    // size grows with its bars, nearly in proportion, so each trial goes
    // where the sizes known on either side of the range put the limit (the
    // whole's size standing for the end), or halves the range when the
    // guess before took off less than a quarter of it: a few imports of a
    // long file, not one for each halving. The trials leave out the summary.
    std::vector<std::int64_t> ends;
    for (const std::int64_t bar : bars) {
        if (bar > from && bar < to) ends.push_back(bar);
    }
    const double limit = static_cast<double>(songfile::kMaxProgramBody);
    std::size_t low = 0, high = ends.size();  // ends[..low) fit; ends[high..) do not
    // The sizes just below the range (0 before the first bar) and at its
    // top (high == ends.size(): the whole).
    // A part that was refused (SIZE_MAX) gives no size to go by.
    double lowBytes = 0.0, highBytes = static_cast<double>(wholeBytes);
    const double refused = static_cast<double>(SIZE_MAX);
    bool halve = highBytes >= refused;
    while (low < high) {
        std::size_t middle = low + (high - low) / 2;
        if (!halve) {
            const double share = (limit - lowBytes) / (highBytes - lowBytes);
            const double at = static_cast<double>(low) - 1.0 + share * static_cast<double>(high - low + 1);
            middle = static_cast<std::size_t>(
                std::clamp(std::floor(at), static_cast<double>(low), static_cast<double>(high - 1)));
        }
        const std::size_t range = high - low;
        const fenk::Result<Import> part = ImportPart(file, options, from, ends[middle], false);
        const std::size_t bytes = part.ok() ? ProgramBytes(part.value.text) : SIZE_MAX;
        if (bytes <= songfile::kMaxProgramBody) {
            low = middle + 1;
            lowBytes = static_cast<double>(bytes);
        } else {
            high = middle;
            highBytes = static_cast<double>(bytes);
        }
        halve = highBytes >= refused || 4 * (high - low) > 3 * range;
    }
    if (low == 0) {
        if (!whole.ok()) return whole;
        return fenk::Failed<Import>(fenk::Failure::Failed, "--fit: not even its first bar fits a program");
    }
    fenk::Result<Import> best = ImportPart(file, options, from, ends[low - 1]);
    const std::int64_t cutAt = ends[low - 1];
    const std::size_t bar = static_cast<std::size_t>(std::lower_bound(bars.begin(), bars.end(), cutAt) - bars.begin()) + 1;
    best.value.summary.push_back("cut at bar " + std::to_string(bar) + ", " + Clock(cutAt) + ", to fit " +
                                 Thousands(songfile::kMaxProgramBody) + " bytes");
    return best;
}

std::vector<PlayedRow> PlayedRows(const songfile::SongView& song) {
    std::vector<PlayedRow> rows;
    std::int64_t tick = 0;
    for (std::size_t position = song.orderList;; position += 2) {
        const std::uint16_t section = songfile::OrderEntryAt(song, position);
        if (section == 0 || tick > kLongestSongTicks) break;
        for (std::size_t offset = section;; offset += songfile::kRowBytes) {
            const songfile::SongRow row = songfile::RowAt(song, offset);
            if (row.duration == 0) break;
            PlayedRow played{tick, row.duration, {}};
            std::copy(std::begin(row.periods), std::end(row.periods), played.periods);
            rows.push_back(played);
            tick += row.duration;
        }
    }
    return rows;
}

TuneKept MeasureTuneKept(const midi::MidiFile& file, int transpose, const std::vector<PlayedRow>& rows,
                         std::int64_t from, std::int64_t to) {
    struct Span {
        std::int64_t start, end;
        int pitch;
        double bend;
    };
    std::vector<Span> spans;
    for (const midi::Note& note : file.notes) {
        if (note.channel == kPercussionChannel) continue;
        const std::int64_t start = TickOf(note.startSeconds);
        const std::int64_t end = std::max(TickOf(note.endSeconds), start + 1);
        if (end <= from || start >= to) continue;
        spans.push_back({std::max(start, from) - from, std::min(end, to) - from, note.pitch + transpose, note.bend});
    }
    std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.start < b.start; });
    // The period a pitch is heard as, moved by octaves into the periods'
    // reach as the import moves it.
    const auto heardAs = [](int pitch, double bend) { return std::clamp(PeriodOf(InReach(pitch, bend), bend), 1, 255); };
    std::multiset<std::pair<int, double>> sounding;  // pitch, bend
    using Ending = std::pair<std::int64_t, std::size_t>;
    std::priority_queue<Ending, std::vector<Ending>, std::greater<Ending>> endings;
    std::size_t next = 0, row = 0, moments = 0, melody = 0, bass = 0;
    const std::int64_t end = spans.empty() ? 0 : std::max_element(spans.begin(), spans.end(), [](const Span& a, const Span& b) {
                                                     return a.end < b.end;
                                                 })->end;
    for (std::int64_t at = 0; at < end; at += kTicksPerMoment) {
        for (; next < spans.size() && spans[next].start <= at; ++next) {
            sounding.insert({spans[next].pitch, spans[next].bend});
            endings.push({spans[next].end, next});
        }
        while (!endings.empty() && endings.top().first <= at) {
            const Span& gone = spans[endings.top().second];
            sounding.erase(sounding.find({gone.pitch, gone.bend}));
            endings.pop();
        }
        if (sounding.empty()) continue;
        while (row < rows.size() && rows[row].start + rows[row].ticks <= at) ++row;
        const bool inRow = row < rows.size() && rows[row].start <= at;
        const auto heard = [&](const std::pair<int, double>& note) {
            const int period = heardAs(note.first, note.second);
            if (!inRow) return false;
            return std::find(std::begin(rows[row].periods), std::end(rows[row].periods), period) != std::end(rows[row].periods);
        };
        ++moments;
        if (heard(*sounding.rbegin())) ++melody;
        if (heard(*sounding.begin())) ++bass;
    }
    TuneKept kept;
    kept.moments = moments;
    if (moments > 0) {
        kept.melody = static_cast<double>(melody) / static_cast<double>(moments);
        kept.bass = static_cast<double>(bass) / static_cast<double>(moments);
    }
    return kept;
}

fenk::Result<Import> ImportMidiFile(const std::vector<std::uint8_t>& bytes, const ImportOptions& options) {
    const fenk::Result<midi::MidiFile> read = midi::ReadMidiFile(bytes);
    if (!read.ok()) return fenk::Failed<Import>(fenk::Failure::Failed, read.reason);
    return ImportMidi(read.value, options);
}

}  // namespace midiimport
