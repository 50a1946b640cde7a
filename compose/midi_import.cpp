#include "compose/midi_import.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>

#include "compose/notes.h"
#include "songfile/songfile.h"

namespace midiimport {
namespace {

using songfile::kVoices;
constexpr int kPercussionChannel = 9;  // "channel 10"
constexpr double kTicksPerSecond = 200.0;  // 5 ms ticks
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
int PeriodOf(int pitch, double bend) {
    return notes::NearestPeriod(notes::NoteFrequency(pitch) * std::pow(2.0, bend / 12.0));
}

// A note on the song's ticks, as the reduction handles it.
struct Placed {
    std::int64_t start = 0;
    std::int64_t end = 0;  // > start
    int pitch = 0;         // MIDI number, transposed
    double bend = 0.0;     // semitones of pitch bend at its start
    int line = 0;          // the monophonic line it belongs to
    int rank = 0;          // its line's rank: 0 first
    bool keep = true;
};

struct Line {
    std::int64_t lastEnd = 0;
    std::string source;  // "channel 1" / "track 2"
    double pitchTicks = 0.0;
    std::int64_t ticks = 0;
};

// "bar 5 E4", for the summary.
std::string Where(const std::vector<std::int64_t>& barStarts, const Placed& note) {
    const auto bar = std::upper_bound(barStarts.begin(), barStarts.end(), note.start) - barStarts.begin();
    return "bar " + std::to_string(std::max<std::ptrdiff_t>(1, bar)) + " " + notes::NoteName(note.pitch);
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

fenk::Result<Import> ImportMidi(const midi::MidiFile& file, const ImportOptions& options) {
    const auto refuse = [](const std::string& reason) { return fenk::Failed<Import>(fenk::Failure::Failed, reason); };
    const bool chosen = !options.voices.empty();
    for (const VoiceSource& source : options.voices) {
        if (source.kind == VoiceSource::Kind::Track && static_cast<std::size_t>(source.number) > file.trackNames.size()) {
            return refuse("--voices names track " + std::to_string(source.number) + "; the file has " +
                          std::to_string(file.trackNames.size()));
        }
    }

    // The notes on ticks, each in its line.
    std::vector<Placed> placed;
    std::vector<Line> lines;
    std::size_t drums = 0, unused = 0, shorter = 0;
    std::map<int, std::vector<int>> channelLines;  // without a voice choice: a channel's lines
    for (const midi::Note& note : file.notes) {
        Placed one;
        one.start = TickOf(note.startSeconds);
        const std::int64_t end = TickOf(note.endSeconds);
        if (end <= one.start) ++shorter;
        one.end = std::max(end, one.start + 1);
        one.pitch = note.pitch + options.transpose;
        one.bend = note.bend;
        if (chosen) {
            // The line of a chosen source is its voice.
            one.line = -1;
            for (int voice = 0; voice < kVoices; ++voice) {
                const VoiceSource& source = options.voices[static_cast<std::size_t>(voice)];
                if ((source.kind == VoiceSource::Kind::Channel && source.number == note.channel + 1) ||
                    (source.kind == VoiceSource::Kind::Track && static_cast<std::size_t>(source.number) == note.track + 1)) {
                    one.line = voice;
                    break;
                }
            }
            if (one.line < 0) {
                ++unused;
                continue;
            }
        } else {
            if (note.channel == kPercussionChannel) {
                ++drums;
                continue;
            }
            std::vector<int>& mine = channelLines[note.channel];
            one.line = -1;
            for (int line : mine) {
                if (lines[static_cast<std::size_t>(line)].lastEnd <= one.start) {
                    one.line = line;
                    break;
                }
            }
            if (one.line < 0) {
                one.line = static_cast<int>(lines.size());
                mine.push_back(one.line);
                Line line;
                line.source = "channel " + std::to_string(note.channel + 1);
                lines.push_back(line);
            }
            lines[static_cast<std::size_t>(one.line)].lastEnd = one.end;
        }
        placed.push_back(one);
    }
    if (chosen) {
        lines.assign(kVoices, Line{});
        for (int voice = 0; voice < kVoices; ++voice) {
            const VoiceSource& source = options.voices[static_cast<std::size_t>(voice)];
            lines[static_cast<std::size_t>(voice)].source =
                source.kind == VoiceSource::Kind::None ? "nothing"
                : (source.kind == VoiceSource::Kind::Channel ? "channel " : "track ") + std::to_string(source.number);
        }
    }
    if (placed.empty()) return refuse("the file holds no notes to import" + std::string(drums ? " (only percussion, channel 10)" : ""));
    for (const Placed& note : placed) {
        Line& line = lines[static_cast<std::size_t>(note.line)];
        line.ticks += note.end - note.start;
        line.pitchTicks += static_cast<double>(note.pitch) * static_cast<double>(note.end - note.start);
    }

    // Ranks and the voice each rank prefers: the highest line, the lowest,
    // then the others by how long they sound.
    std::vector<int> order(lines.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
    std::vector<int> preferred(lines.size(), -1);
    if (chosen) {
        for (int voice = 0; voice < kVoices; ++voice) preferred[static_cast<std::size_t>(voice)] = voice;
    } else {
        const auto mean = [&](int i) {
            const Line& line = lines[static_cast<std::size_t>(i)];
            return line.ticks > 0 ? line.pitchTicks / static_cast<double>(line.ticks) : 0.0;
        };
        std::sort(order.begin(), order.end(), [&](int a, int b) { return mean(a) > mean(b); });
        if (order.size() > 2) {
            std::rotate(order.begin() + 1, order.end() - 1, order.end());  // the lowest second
            std::stable_sort(order.begin() + 2, order.end(), [&](int a, int b) {
                return lines[static_cast<std::size_t>(a)].ticks > lines[static_cast<std::size_t>(b)].ticks;
            });
        }
        const int voiceOfRank[kVoices] = {0, 3, 1, 2};
        for (std::size_t rank = 0; rank < order.size() && rank < kVoices; ++rank) {
            preferred[static_cast<std::size_t>(order[rank])] = voiceOfRank[rank];
        }
    }
    std::vector<int> rankOf(lines.size());
    for (std::size_t rank = 0; rank < order.size(); ++rank) rankOf[static_cast<std::size_t>(order[rank])] = static_cast<int>(rank);
    for (Placed& note : placed) note.rank = rankOf[static_cast<std::size_t>(note.line)];

    // Voices taken note by note, in order of start and rank; a note finding
    // every voice taken takes the one of the lowest-ranked note, if lower
    // than its own, and cuts that note where it begins.
    std::stable_sort(placed.begin(), placed.end(), [](const Placed& a, const Placed& b) {
        if (a.start != b.start) return a.start < b.start;
        if (a.rank != b.rank) return a.rank < b.rank;
        return a.pitch > b.pitch;
    });
    std::vector<std::vector<std::size_t>> voices(kVoices);  // indices into placed, in order
    const std::int64_t songEnd = std::max_element(placed.begin(), placed.end(), [](const Placed& a, const Placed& b) {
                                     return a.end < b.end;
                                 })->end;
    if (songEnd > kLongestSongTicks) {
        return refuse("the music lasts " + std::to_string(songEnd / 200 / 60) + " minutes, longer than a song may (2 hours)");
    }
    const std::vector<std::int64_t> barStarts = BarStarts(file, songEnd);
    std::vector<std::string> cutExamples, outExamples;
    std::size_t cut = 0, leftOut = 0;
    for (std::size_t index = 0; index < placed.size(); ++index) {
        Placed& note = placed[index];
        const auto freeAt = [&](int voice) {
            const std::vector<std::size_t>& taken = voices[static_cast<std::size_t>(voice)];
            return taken.empty() || placed[taken.back()].end <= note.start;
        };
        int voice = -1;
        const int wanted = preferred[static_cast<std::size_t>(note.line)];
        if (chosen) {
            voice = wanted;
            if (!freeAt(voice)) {
                // One note at a time: a note that begins cuts the one
                // sounding; of notes that begin together the highest holds.
                Placed& other = placed[voices[static_cast<std::size_t>(voice)].back()];
                if (other.start == note.start) {
                    note.keep = false;
                    Count(outExamples, leftOut, Where(barStarts, note));
                    continue;
                }
                other.end = note.start;
                Count(cutExamples, cut, Where(barStarts, other));
            }
        } else {
            if (wanted >= 0 && freeAt(wanted)) voice = wanted;
            for (int candidate = 0; candidate < kVoices && voice < 0; ++candidate) {
                if (freeAt(candidate)) voice = candidate;
            }
            if (voice < 0) {
                int worst = -1;
                for (int candidate = 0; candidate < kVoices; ++candidate) {
                    const Placed& other = placed[voices[static_cast<std::size_t>(candidate)].back()];
                    if (other.rank > note.rank &&
                        (worst < 0 || other.rank > placed[voices[static_cast<std::size_t>(worst)].back()].rank)) {
                        worst = candidate;
                    }
                }
                if (worst < 0) {
                    note.keep = false;
                    Count(outExamples, leftOut, Where(barStarts, note));
                    continue;
                }
                std::vector<std::size_t>& taken = voices[static_cast<std::size_t>(worst)];
                Placed& other = placed[taken.back()];
                if (other.start == note.start) {
                    other.keep = false;
                    taken.pop_back();
                    Count(outExamples, leftOut, Where(barStarts, other));
                } else {
                    other.end = note.start;
                    Count(cutExamples, cut, Where(barStarts, other));
                }
                voice = worst;
            }
        }
        voices[static_cast<std::size_t>(voice)].push_back(index);
    }

    // Pitches within the periods' reach, and equal notes parted.
    std::vector<std::string> movedExamples, offExamples;
    std::size_t moved = 0, farOff = 0, parted = 0, kept = 0;
    for (std::vector<std::size_t>& taken : voices) {
        taken.erase(std::remove_if(taken.begin(), taken.end(), [&](std::size_t i) { return !placed[i].keep; }),
                    taken.end());
        for (std::size_t k = 0; k < taken.size(); ++k) {
            Placed& note = placed[taken[k]];
            ++kept;
            // Into the note names' octaves (-1..9) and the periods' reach.
            int pitch = note.pitch;
            while (pitch > 127) pitch -= 12;
            while (PeriodOf(pitch, note.bend) > 255) pitch += 12;
            if (pitch != note.pitch) {
                Count(movedExamples, moved, Where(barStarts, note) + " to " + notes::NoteName(pitch));
                note.pitch = pitch;
            }
            const auto period = static_cast<std::uint8_t>(std::max(1, PeriodOf(pitch, note.bend)));
            if (std::fabs(notes::CentsOff(period, pitch) - note.bend * 100.0) > notes::kFarOffCents) {
                Count(offExamples, farOff, Where(barStarts, note));
            }
            if (k > 0) {
                Placed& before = placed[taken[k - 1]];
                if (before.end == note.start && before.pitch == note.pitch && before.bend == note.bend &&
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
        std::string text;
    };
    std::vector<Row> rows;
    for (std::size_t c = 0; c + 1 < cuts.size(); ++c) {
        const std::int64_t from = cuts[c], to = cuts[c + 1];
        std::string voicesText;
        for (int voice = 0; voice < kVoices; ++voice) {
            const std::vector<std::size_t>& taken = voices[static_cast<std::size_t>(voice)];
            std::size_t& at = next[static_cast<std::size_t>(voice)];
            while (at < taken.size() && placed[taken[at]].end <= from) ++at;
            const bool sounding = at < taken.size() && placed[taken[at]].start <= from;
            // A bent note is written as the period it sounds.
            std::string name = "-";
            if (sounding) {
                const Placed& note = placed[taken[at]];
                name = note.bend == 0.0 ? notes::NoteName(note.pitch)
                                        : std::to_string(std::clamp(PeriodOf(note.pitch, note.bend), 1, 255));
            }
            if (name.size() < 5) name.resize(5, ' ');
            voicesText += "  " + name;
        }
        for (std::int64_t start = from; start < to; start += kLongestRowTicks) {
            const std::int64_t length = std::min(kLongestRowTicks, to - start);
            rows.push_back(Row{start, voicesText + "  " + std::to_string(length) + "t"});
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
        std::string content;
        for (; row < rows.size() && rows[row].start < until; ++row) content += rows[row].text + "\n";
        if (content.empty()) continue;
        const std::size_t firstBar = s * kBarsPerSection + 1;
        auto found = written.find(content);
        if (found == written.end()) {
            const std::string name = "bars" + std::to_string(firstBar) + "-" + std::to_string(firstBar + kBarsPerSection - 1);
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
    result.text = "# Imported from a MIDI file by fenk-make: 5 ms ticks, four voices.\n"
                  "title " + Quoted(title) + "\nname " + options.programName + "\n" + body + "\n" + orderLine + "\n";

    std::string used;
    for (int voice = 0; voice < kVoices; ++voice) {
        std::string from;
        for (std::size_t line = 0; line < lines.size(); ++line) {
            bool here = false;
            for (std::size_t i : voices[static_cast<std::size_t>(voice)]) here = here || placed[i].line == static_cast<int>(line);
            if (here && from.find(lines[line].source) == std::string::npos) from += (from.empty() ? "" : "+") + lines[line].source;
        }
        used += (voice ? ", " : "") + std::to_string(voice) + " " + (from.empty() ? "silent" : from);
    }
    result.summary.push_back("voices: " + used);
    std::string noteLine = "notes: " + std::to_string(kept) + " kept, " + CountLine("cut short", cut, cutExamples) +
                           ", " + CountLine("left out", leftOut, outExamples);
    if (drums > 0) noteLine += ", " + std::to_string(drums) + " of percussion (channel 10) left out";
    if (unused > 0) noteLine += ", " + std::to_string(unused) + " of channels and tracks no voice takes left out";
    result.summary.push_back(noteLine);
    result.summary.push_back("timing: " + std::to_string(shorter) + " notes shorter than a tick given one, " +
                             std::to_string(parted) + " repeated notes parted by a 5 ms rest");
    result.summary.push_back("pitches: " + CountLine("moved by octaves", moved, movedExamples) + ", " +
                             CountLine("more than 30 cents off", farOff, offExamples));
    const std::int64_t tenths = songEnd / 20;
    char length[96];
    std::snprintf(length, sizeof length, "length: %lld:%02lld.%lld, %zu %s (%zu written), %zu rows",
                  static_cast<long long>(tenths / 600), static_cast<long long>(tenths / 10 % 60),
                  static_cast<long long>(tenths % 10), entries, entries == 1 ? "section" : "sections",
                  sectionsWritten, rows.size());
    result.summary.push_back(length);
    return fenk::Succeeded(std::move(result));
}

fenk::Result<Import> ImportMidiFile(const std::vector<std::uint8_t>& bytes, const ImportOptions& options) {
    const fenk::Result<midi::MidiFile> read = midi::ReadMidiFile(bytes);
    if (!read.ok()) return fenk::Failed<Import>(fenk::Failure::Failed, read.reason);
    return ImportMidi(read.value, options);
}

}  // namespace midiimport
