// A song file written back as song text: the way from a .8xp to something a
// person edits.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <numeric>
#include <tuple>

#include "compose/notes.h"
#include "compose/song_text.h"

namespace songtext {
namespace {

// Beats a row may last when written in beats, as a fraction.
constexpr int kSlowestTempo = 40;
constexpr int kFastestTempo = 300;
constexpr int kUsualTempo = 120;
constexpr int kVoiceColumn = kVoiceColumnWidth;

// The text of `bytes` in double quotes: printable ASCII as it is, '"' and
// '\' escaped, every other byte as \xHH.
std::string Quoted(const std::string& bytes) {
    std::string out = "\"";
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte >= 0x20 && byte < 0x7F) {
            out += c;
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", byte);
            out += escape;
        }
    }
    return out + "\"";
}

// For each period, the note name that compiles to exactly it (the nearest
// in pitch of the notes that do), or "" when none does.
std::vector<std::string> NoteNamesByPeriod() {
    std::vector<std::string> names(256);
    std::vector<double> bestCents(256, 1e9);
    for (int key = 0; key < 128; ++key) {
        const int period = notes::NearestPeriod(notes::NoteFrequency(key));
        if (period < 1 || period > 255) continue;
        const double cents = std::fabs(notes::CentsOff(static_cast<std::uint8_t>(period), key));
        if (cents < bestCents[static_cast<std::size_t>(period)]) {
            bestCents[static_cast<std::size_t>(period)] = cents;
            names[static_cast<std::size_t>(period)] = notes::NoteName(key);
        }
    }
    return names;
}

// How well a tempo writes a section: rows in beats, then plainness.
struct TempoFit {
    int tempo = 0;
    std::size_t plainRows = 0;
    long cost = 0;
};

TempoFit FitTempo(const std::map<std::uint16_t, std::size_t>& durations, int tempo) {
    TempoFit fit;
    fit.tempo = tempo;
    for (const auto& [ticks, count] : durations) {
        const Beats beats = PlainBeats(ticks, tempo);
        if (!beats.found) continue;
        fit.plainRows += count;
        fit.cost += static_cast<long>(count) * beats.cost;
    }
    return fit;
}

// The tempo for a section: the current one where it writes as many rows in
// beats as the best one does, else the best (most rows, plainest, nearest
// 120); 0 for none (every row in ticks). The candidates are the tempos at
// which one of the section's three commonest durations is a plain number
// of beats, 120 and the current one: a duration that is plain nowhere near
// them rarely makes a section plain.
int ChooseTempo(const std::vector<songfile::SongRow>& rows, int current) {
    std::map<std::uint16_t, std::size_t> durations;
    for (const songfile::SongRow& row : rows) ++durations[row.duration];
    std::vector<std::pair<std::size_t, std::uint16_t>> commonest;
    commonest.reserve(durations.size());
    for (const auto& [ticks, count] : durations) commonest.emplace_back(count, ticks);
    const std::size_t looked = std::min<std::size_t>(3, commonest.size());
    std::partial_sort(commonest.begin(), commonest.begin() + static_cast<std::ptrdiff_t>(looked), commonest.end(),
                      std::greater<>());
    std::vector<int> candidates = {kUsualTempo};
    if (current != 0) candidates.push_back(current);
    for (std::size_t k = 0; k < looked; ++k) {
        for (const double beats : {0.25, 1.0 / 3, 0.5, 2.0 / 3, 0.75, 1.0, 1.5, 2.0, 3.0, 4.0}) {
            const long tempo = std::lround(12000.0 * beats / commonest[k].second);
            if (tempo >= kSlowestTempo && tempo <= kFastestTempo) candidates.push_back(static_cast<int>(tempo));
        }
    }
    TempoFit best;
    const auto key = [](const TempoFit& f) {
        return std::make_tuple(f.plainRows, -f.cost, -std::abs(f.tempo - kUsualTempo));
    };
    for (int tempo : candidates) {
        const TempoFit fit = FitTempo(durations, tempo);
        if (best.tempo == 0 || key(fit) > key(best)) best = fit;
    }
    if (best.plainRows == 0) return current;
    if (current != 0 && FitTempo(durations, current).plainRows == best.plainRows) return current;
    return best.tempo;
}

std::string Cell(const std::string& text) {
    std::string cell = text;
    if (cell.size() < kVoiceColumn) cell.resize(kVoiceColumn, ' ');
    else cell += ' ';
    return cell;
}

struct Section {
    std::uint16_t offset = 0;
    std::vector<songfile::SongRow> rows;
    std::string name;
};

}  // namespace

fenk::Result<WrittenText> WriteSongText(const songfile::TiProgramFile& file, const songfile::SongView& song,
                                        const WriteOptions& options) {
    WrittenText written;
    // The order list as it plays, and each offset it names read once.
    std::vector<std::uint16_t> order;
    for (std::size_t at = song.orderList;; at += songfile::kOrderEntryBytes) {
        const std::uint16_t offset = songfile::OrderEntryAt(song, at);
        if (offset == 0) break;
        order.push_back(offset);
    }
    std::vector<std::uint16_t> offsets = order;
    std::sort(offsets.begin(), offsets.end());
    offsets.erase(std::unique(offsets.begin(), offsets.end()), offsets.end());
    std::vector<Section> sections(offsets.size());
    std::map<std::uint16_t, std::size_t> sectionAt;
    // What the text compiles to, counted as it is read: sections that start
    // inside one another's rows are each written whole, and a file of many
    // could give a text far larger than any program (which bounds the work).
    std::size_t compiled = songfile::kSongSignatureBytes + 1 + songfile::TitleText(song).size() +
                           songfile::ArtistText(song).size() + songfile::AlbumText(song).size() + 3 +
                           songfile::kOrderEntryBytes * (order.size() + 1);
    for (std::size_t index = 0; index < offsets.size(); ++index) {
        Section& section = sections[index];
        section.offset = offsets[index];
        section.name = "s" + std::to_string(index + 1);
        for (std::size_t at = section.offset; compiled <= songfile::kMaxProgramBody; at += songfile::kRowBytes) {
            compiled += songfile::kRowBytes;
            const songfile::SongRow row = songfile::RowAt(song, at);
            if (row.duration == 0) break;
            section.rows.push_back(row);
        }
        if (compiled > songfile::kMaxProgramBody) {
            return fenk::Failed<WrittenText>(
                fenk::Failure::Failed, "its sections start inside one another's rows so often that the text, which "
                                       "writes each whole, would compile to more than a program holds (" +
                                           std::to_string(songfile::kMaxProgramBody) + " bytes)");
        }
        sectionAt[section.offset] = index;
    }
    // A section that starts inside the rows (or on the end row) of one
    // before it shares those bytes in the file; the text writes them again.
    for (std::size_t later = 0; later < sections.size(); ++later) {
        for (std::size_t earlier = 0; earlier < later; ++earlier) {
            const std::size_t end = sections[earlier].offset + songfile::kRowBytes * (sections[earlier].rows.size() + 1);
            if (sections[later].offset >= end) continue;
            const std::size_t rows = sections[later].rows.size();
            written.warnings.push_back(
                "section " + sections[later].name + " starts inside the rows of section " + sections[earlier].name +
                " (at byte " + std::to_string(sections[later].offset) + "): its " + std::to_string(rows) +
                (rows == 1 ? " row is" : " rows are") + " written again, " +
                std::to_string(songfile::kRowBytes * (rows + 1)) + " bytes more");
            break;
        }
    }

    std::string name = songfile::NameText(file);
    std::string nameText = IsPlainProgramName(name) ? name : Quoted(name);
    if (name.empty()) {
        nameText = options.fallbackName;
        written.warnings.push_back("the program has no name; the text names it " + options.fallbackName);
    }
    std::string& text = written.text;
    text += "# Written by fenk-make from " + options.sourceName + ": every section as it plays.\n\n";
    text += "title   " + Quoted(songfile::TitleText(song)) + "\n";
    text += "artist  " + Quoted(songfile::ArtistText(song)) + "\n";
    text += "album   " + Quoted(songfile::AlbumText(song)) + "\n";
    text += "name    " + nameText + "\n";
    text += "comment " + Quoted(songfile::CommentText(file)) + "\n";

    static const std::vector<std::string> noteNames = NoteNamesByPeriod();
    int tempo = 0;
    for (const Section& section : sections) {
        const int chosen = ChooseTempo(section.rows, tempo);
        text += "\n";
        if (chosen != tempo) {
            tempo = chosen;
            text += "tempo " + std::to_string(tempo) + "\n";
        }
        text += "section " + section.name + "\n";
        text += "# voice0 voice1 voice2 voice3 duration\n";
        for (const songfile::SongRow& row : section.rows) {
            std::string line = "  ";
            for (int voice = 0; voice < songfile::kVoices; ++voice) {
                const std::uint8_t period = row.periods[voice];
                const std::string& note = noteNames[period];
                line += Cell(period == 0 ? "-" : !note.empty() ? note : std::to_string(period));
            }
            const Beats beats = PlainBeats(row.duration, tempo);
            if (beats.found) {
                line += beats.text;
            } else {
                line += std::to_string(row.duration) + "t";
            }
            text += line + "\n";
        }
        text += "end\n";
    }

    text += "\n";
    if (order.empty()) text += "order\n";  // an order list that plays nothing
    for (std::size_t at = 0; at < order.size(); at += kOrderNamesPerLine) {
        text += "order";
        for (std::size_t k = at; k < order.size() && k < at + kOrderNamesPerLine; ++k) {
            text += " " + sections[sectionAt[order[k]]].name;
        }
        text += "\n";
    }
    return fenk::Succeeded(std::move(written));
}

}  // namespace songtext
