#include "compose/song_text.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cmath>
#include <cstdint>
#include <map>
#include <numeric>
#include <utility>
#include <vector>

#include "compose/notes.h"

namespace songtext {

namespace {

constexpr std::size_t kMaxCommentBytes = 42;
constexpr std::size_t kMaxNameBytes = 8;
constexpr double kMillisecondsPerTick = 5.0;
constexpr int kKeysNamed = 128;  // C-1 (0) to G9 (127)

struct Token {
    std::string text;
    bool quoted = false;
    // A quoted text holds bytes outside printable ASCII as written (UTF-8,
    // say), not as \x escapes: the calculator would show other characters.
    bool unshowable = false;
};

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

using SectionState = SourceSection;

struct OrderName {
    std::string name;
    int line = 0;
};

// Everything gathered while reading; turned into a CompileResult at the end.
struct Compiler {
    std::vector<Message> errors;
    std::vector<Message> warnings;
    std::map<std::string, int> headerLines;  // directive -> line first given
    std::string title, artist, album, name, comment;
    double tempo = 0;  // beats per minute; 0 until a tempo line
    bool inSection = false;
    SectionState current;
    std::vector<SectionState> sections;
    std::map<std::string, std::size_t> sectionIndex;
    std::vector<OrderName> order;
    std::vector<int> orderLines;
    bool sawOrder = false;
    std::map<std::string, bool> warnedNotes;  // note names already warned about

    void Error(int line, const std::string& text) { errors.push_back({line, text}); }

    // Ends the section being read. A second section of a name already taken
    // has been reported and is dropped, so that it causes no more messages.
    void CloseSection() {
        inSection = false;
        if (sectionIndex.count(current.name) != 0) return;
        sectionIndex[current.name] = sections.size();
        sections.push_back(current);
    }
};

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

// Splits a line into words and quoted texts; a '#' that begins a word starts
// a comment. False with an error when a text is badly quoted.
fenk::Result<std::vector<Token>> Tokenize(const std::string& line) {
    const auto fail = [](const std::string& reason) {
        return fenk::Failed<std::vector<Token>>(fenk::Failure::Failed, reason);
    };
    std::vector<Token> tokens;
    std::size_t position = 0;
    while (position < line.size()) {
        const unsigned char c = static_cast<unsigned char>(line[position]);
        if (c == ' ' || c == '\t' || c == '\r') {
            ++position;
            continue;
        }
        if (c == '#') return fenk::Succeeded(std::move(tokens));
        Token token;
        if (c == '"') {
            token.quoted = true;
            ++position;
            bool closed = false;
            while (position < line.size()) {
                const unsigned char inside = static_cast<unsigned char>(line[position]);
                if (inside == '"') {
                    closed = true;
                    ++position;
                    break;
                }
                if (inside == '\\') {
                    const char next = position + 1 < line.size() ? line[position + 1] : '\0';
                    if (next == '"' || next == '\\') {
                        token.text += next;
                        position += 2;
                        continue;
                    }
                    // \xHH: one byte in hex, for the calculator's own characters.
                    const int high = next == 'x' && position + 3 < line.size() ? HexDigit(line[position + 2]) : -1;
                    const int low = high >= 0 ? HexDigit(line[position + 3]) : -1;
                    if (low < 0) {
                        return fail("a backslash in a text must be followed by '\"', '\\' or "
                                    "a byte in hex such as xE9");
                    }
                    if (high == 0 && low == 0) return fail("a text cannot hold \\x00 (a NUL byte would end it)");
                    token.text += static_cast<char>(high * 16 + low);
                    position += 4;
                    continue;
                }
                if (IsControl(inside)) {
                    return fail("a text may not hold control characters such as tabs");
                }
                if (inside >= 0x80) token.unshowable = true;
                token.text += static_cast<char>(inside);
                ++position;
            }
            if (!closed) {
                return fail("a text is missing its closing '\"'");
            }
            if (position < line.size() && line[position] != ' ' && line[position] != '\t' &&
                line[position] != '\r') {
                return fail("a text must be followed by a space or the end of the line");
            }
        } else {
            while (position < line.size() && line[position] != ' ' && line[position] != '\t' &&
                   line[position] != '\r') {
                token.text += line[position];
                ++position;
            }
        }
        tokens.push_back(token);
    }
    return fenk::Succeeded(std::move(tokens));
}

bool ParseWholeNumber(const std::string& text, long* value) {
    if (text.empty() || text.size() > 9) return false;
    long result = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        result = result * 10 + (c - '0');
    }
    *value = result;
    return true;
}

// Beats as "1", "0.5" or "3/2".
bool ParseBeats(const std::string& text, double* beats) {
    const std::size_t slash = text.find('/');
    if (slash == std::string::npos) return ParseDecimal(text, beats);
    long numerator = 0, denominator = 0;
    if (!ParseWholeNumber(text.substr(0, slash), &numerator) ||
        !ParseWholeNumber(text.substr(slash + 1), &denominator) || denominator == 0) {
        return false;
    }
    *beats = static_cast<double>(numerator) / static_cast<double>(denominator);
    return true;
}

std::string FormatTempo(double tempo) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", tempo);
    return buffer;
}

fenk::Result<std::uint8_t> ParseVoice(const std::string& text) {
    using Period = std::uint8_t;
    if (text == "-") return fenk::Succeeded<Period>(0);
    if (std::isdigit(static_cast<unsigned char>(text[0]))) {
        long value = 0;
        if (!ParseWholeNumber(text, &value) || value > 255) {
            return fenk::Failed<Period>(fenk::Failure::Failed,
                                        "period '" + text + "' is not a whole number from 0 to 255");
        }
        return fenk::Succeeded(static_cast<Period>(value));
    }
    const fenk::Result<int> note = notes::ParseNoteName(text);
    if (!note.ok()) {
        return fenk::Failed<Period>(fenk::Failure::Failed, "'" + text +
                                    "' is not a note (such as A4, C#5, Bb3), a period (0..255) or '-'");
    }
    // Note names come by the thousand in a long text (an import): their
    // periods from a table of every key a name can give.
    static const std::vector<int> periods = [] {
        std::vector<int> table(kKeysNamed);
        for (int key = 0; key < kKeysNamed; ++key) table[key] = notes::NearestPeriod(notes::NoteFrequency(key));
        return table;
    }();
    const int nearest = note.value >= 0 && note.value < kKeysNamed
                            ? periods[static_cast<std::size_t>(note.value)]
                            : notes::NearestPeriod(notes::NoteFrequency(note.value));
    if (nearest < 1 || nearest > 255) {
        return fenk::Failed<Period>(fenk::Failure::Failed,
                                    "note " + text + " needs period " + std::to_string(nearest) +
                                        ", outside 1..255 (the lowest note is B2)");
    }
    return fenk::Succeeded(static_cast<Period>(nearest));
}

fenk::Result<std::uint16_t> ParseDuration(const std::string& text, double tempo) {
    using Ticks = std::uint16_t;
    const auto fail = [](const std::string& reason) {
        return fenk::Failed<Ticks>(fenk::Failure::Failed, reason);
    };
    if (text.size() >= 2 && text.back() == 't') {
        long value = 0;
        if (!ParseWholeNumber(text.substr(0, text.size() - 1), &value) || value < 1 ||
            value > 65535) {
            return fail("duration '" + text + "' must be 1t to 65535t ticks");
        }
        return fenk::Succeeded(static_cast<Ticks>(value));
    }
    double beats = 0;
    if (!ParseBeats(text, &beats)) {
        return fail("duration '" + text + "' is neither beats (1, 0.5, 3/2) nor ticks (such as 20t)");
    }
    if (tempo == 0) {
        return fail("duration '" + text + "' is in beats, but no tempo line comes before it");
    }
    const double rounded = TicksForBeats(beats, tempo);
    if (rounded < 1 || rounded > 65535) {
        char ticksText[32];
        std::snprintf(ticksText, sizeof ticksText, "%.0f", rounded);
        return fail("duration '" + text + "' is " + ticksText + " ticks at tempo " +
                    FormatTempo(tempo) + "; a row lasts 1 to 65535 ticks");
    }
    return fenk::Succeeded(static_cast<Ticks>(rounded));
}


// A note whose nearest period still sounds far from it with the default
// sample (the high notes, where periods are coarse): said once per name.
void WarnWhenFarOff(Compiler& compiler, int line, const std::string& voice, std::uint8_t period) {
    const fenk::Result<int> note = notes::ParseNoteName(voice);
    if (!note.ok() || period == 0 || compiler.warnedNotes.count(voice) != 0) return;
    const double sounding = notes::PeriodFrequency(period);
    const double cents = notes::CentsOff(period, note.value);
    if (std::fabs(cents) <= notes::kFarOffCents) return;
    compiler.warnedNotes[voice] = true;
    char text[160];
    std::snprintf(text, sizeof text,
                  "note %s sounds %.0f cents %s with the default sample (period %u: %.1f Hz)",
                  voice.c_str(), std::fabs(cents), cents > 0 ? "sharp" : "flat",
                  static_cast<unsigned>(period), sounding);
    compiler.warnings.push_back({line, text});
}

// The calculator's font has the printable ASCII characters and its own
// above them; bytes written as they are (UTF-8 accents, other scripts) show
// as some other glyph there. \x escapes say which byte is meant.
void WarnWhenNotShowable(Compiler& compiler, int line, const std::string& what, const Token& text) {
    if (!text.unshowable) return;
    compiler.warnings.push_back({line, "the " + what + " holds characters other than printable ASCII, "
                                       "which the calculator cannot show"});
}

void HandleText(Compiler& compiler, int line, const std::vector<Token>& tokens,
                std::string* field) {
    const std::string& directive = tokens[0].text;
    if (tokens.size() != 2 || !tokens[1].quoted) {
        compiler.Error(line, "'" + directive + "' needs one text in double quotes");
        return;
    }
    if (directive == "comment" && tokens[1].text.size() > kMaxCommentBytes) {
        compiler.Error(line, "the comment is " + std::to_string(tokens[1].text.size()) +
                                 " bytes long; a program file holds at most 42");
        return;
    }
    *field = tokens[1].text;
    WarnWhenNotShowable(compiler, line, directive, tokens[1]);
}

void HandleHeader(Compiler& compiler, int line, const std::vector<Token>& tokens) {
    const std::string& directive = tokens[0].text;
    auto first = compiler.headerLines.find(directive);
    if (first != compiler.headerLines.end()) {
        compiler.Error(line, "'" + directive + "' is given twice (first on line " +
                                 std::to_string(first->second) + ")");
        return;
    }
    compiler.headerLines[directive] = line;
    if (directive == "title") return HandleText(compiler, line, tokens, &compiler.title);
    if (directive == "artist") return HandleText(compiler, line, tokens, &compiler.artist);
    if (directive == "album") return HandleText(compiler, line, tokens, &compiler.album);
    if (directive == "comment") return HandleText(compiler, line, tokens, &compiler.comment);
    // name: plain, or quoted for any other bytes the calculator allows
    // (written back so from files made elsewhere)
    if (tokens.size() == 2 && tokens[1].quoted && !tokens[1].text.empty() &&
        tokens[1].text.size() <= kMaxNameBytes) {
        compiler.name = tokens[1].text;
        return;
    }
    if (tokens.size() != 2 || tokens[1].quoted || !IsPlainProgramName(tokens[1].text)) {
        compiler.Error(line, "'name' needs a program name of 1 to 8 characters: "
                             "capital letters A-Z and digits, starting with a letter");
        return;
    }
    compiler.name = tokens[1].text;
}

void HandleTempo(Compiler& compiler, int line, const std::vector<Token>& tokens) {
    double tempo = 0;
    if (tokens.size() != 2 || tokens[1].quoted || !ParseDecimal(tokens[1].text, &tempo) ||
        tempo <= 0 || tempo > 1000000) {
        compiler.Error(line, "'tempo' needs one number of beats per minute, such as 120");
        return;
    }
    compiler.tempo = tempo;
    compiler.headerLines.emplace("tempo", line);
}

void HandleRow(Compiler& compiler, int line, const std::vector<Token>& tokens) {
    if (tokens.size() != 5) {
        compiler.Error(line, "a row needs four voices and a duration, found " +
                                 std::to_string(tokens.size()) + " fields");
        return;
    }
    songfile::SongRow row;
    for (int voice = 0; voice < songfile::kVoices; ++voice) {
        if (tokens[voice].quoted) {
            compiler.Error(line, "a voice cannot be a quoted text");
            return;
        }
        const fenk::Result<std::uint8_t> period = ParseVoice(tokens[voice].text);
        if (!period.ok()) {
            compiler.Error(line, period.reason);
            return;
        }
        row.periods[voice] = period.value;
        WarnWhenFarOff(compiler, line, tokens[voice].text, row.periods[voice]);
    }
    if (tokens[4].quoted) {
        compiler.Error(line, "a duration cannot be a quoted text");
        return;
    }
    const fenk::Result<std::uint16_t> duration = ParseDuration(tokens[4].text, compiler.tempo);
    if (!duration.ok()) {
        compiler.Error(line, duration.reason);
        return;
    }
    row.duration = duration.value;
    compiler.current.rows.push_back(row);
    compiler.current.rowLines.push_back(line);
}

void HandleLine(Compiler& compiler, int line, const std::vector<Token>& tokens) {
    const std::string directive = tokens[0].quoted ? std::string() : tokens[0].text;
    const bool header = directive == "title" || directive == "artist" || directive == "album" ||
                        directive == "comment" || directive == "name";
    if (directive == "tempo") return HandleTempo(compiler, line, tokens);
    if (compiler.inSection) {
        if (directive == "end") {
            if (tokens.size() != 1) compiler.Error(line, "'end' takes nothing after it");
            compiler.current.endLine = line;
            compiler.CloseSection();
            return;
        }
        if (!header && directive != "section" && directive != "order") {
            return HandleRow(compiler, line, tokens);
        }
        // Most likely a forgotten 'end': say so once, end the section here
        // and read the line as it stands, so that one slip gives one message.
        compiler.Error(line, "'end' is missing: section '" + compiler.current.name +
                                 "' (line " + std::to_string(compiler.current.line) +
                                 ") is still open at this '" + directive + "'");
        compiler.CloseSection();
    }
    if (header) return HandleHeader(compiler, line, tokens);
    if (directive == "section") {
        if (tokens.size() != 2 || tokens[1].quoted || !IsSectionName(tokens[1].text)) {
            compiler.Error(line, "'section' needs one name of letters, digits, '_' or '-'");
            return;
        }
        for (const SectionState& earlier : compiler.sections) {
            if (earlier.name == tokens[1].text) {
                compiler.Error(line, "section '" + tokens[1].text +
                                         "' is defined twice (first on line " +
                                         std::to_string(earlier.line) + ")");
                break;
            }
        }
        compiler.inSection = true;
        compiler.current = SectionState();
        compiler.current.name = tokens[1].text;
        compiler.current.line = line;
        return;
    }
    if (directive == "order") {
        // A bare 'order' line is an order list that plays nothing.
        compiler.sawOrder = true;
        compiler.orderLines.push_back(line);
        for (std::size_t index = 1; index < tokens.size(); ++index) {
            compiler.order.push_back({tokens[index].text, line});
        }
        return;
    }
    if (directive == "end") {
        compiler.Error(line, "'end' without a section to end");
        return;
    }
    if (tokens.size() == 5) {
        compiler.Error(line, "a row must stand inside a section");
        return;
    }
    compiler.Error(line, "unknown line starting with '" + tokens[0].text +
                             "' (expected title, artist, album, name, comment, tempo, "
                             "section or order)");
}

}  // namespace

bool IsSectionName(const std::string& text) {
    if (text.empty()) return false;
    for (char c : text) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-') return false;
    }
    return true;
}

bool IsPlainProgramName(const std::string& name) {
    if (name.empty() || name.size() > kMaxNameBytes) return false;
    if (name[0] < 'A' || name[0] > 'Z') return false;
    for (char c : name) {
        if (!(c >= 'A' && c <= 'Z') && !(c >= '0' && c <= '9')) return false;
    }
    return true;
}

double TicksForBeats(double beats, double tempo) {
    return std::floor(beats * 60000.0 / tempo / kMillisecondsPerTick + 0.5);
}

bool ParseDecimal(const std::string& text, double* value) {
    // The digits as one whole number and the places after the point, then
    // one division: both exact in a double (below 10^15, powers of ten up
    // to 10^22), so the quotient is the nearest double to the decimal, as
    // strtod's. Digits beyond the fifteenth count only for the magnitude.
    constexpr std::uint64_t kMostExactDigits = 100000000000000;  // 10^14: one more digit still fits
    std::uint64_t digits = 0;
    int places = 0, dropped = 0;
    bool point = false, anyDigit = false;
    for (char c : text) {
        if (c == '.') {
            if (point) return false;
            point = true;
            continue;
        }
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        anyDigit = true;
        if (digits < kMostExactDigits) {
            digits = digits * 10 + static_cast<std::uint64_t>(c - '0');
            if (point) ++places;
        } else if (!point) {
            ++dropped;
        }
    }
    if (!anyDigit) return false;
    double result = static_cast<double>(digits);
    for (int k = 0; k < dropped; ++k) result *= 10.0;
    double divisor = 1.0;
    for (int k = 0; k < places; ++k) divisor *= 10.0;
    *value = result / divisor;
    return true;
}

Beats PlainBeats(std::int64_t ticks, double tempo) {
    // Plainest first: halves and quarters before thirds.
    constexpr long kDivisions[] = {1, 2, 4, 3, 8, 6, 16, 12};
    constexpr long kMostBeats = 16;
    Beats beats;
    if (!(tempo > 0.0) || ticks < 1) return beats;
    const double exact = static_cast<double>(ticks) * tempo / (60000.0 / kMillisecondsPerTick);
    int cost = 0;
    for (const long division : kDivisions) {
        const double scaled = std::round(exact * static_cast<double>(division));
        // Within 1/16..16 beats, and compiled back as the compiler reads
        // "numerator/division": one division of the two whole numbers.
        if (scaled >= 1.0 && scaled <= static_cast<double>(kMostBeats * division) && scaled * 16.0 >= division) {
            const long numerator = static_cast<long>(scaled);
            if (TicksForBeats(static_cast<double>(numerator) / static_cast<double>(division), tempo) ==
                static_cast<double>(ticks)) {
                const long common = std::gcd(numerator, division);
                beats.found = true;
                beats.numerator = numerator / common;
                beats.division = division / common;
                beats.cost = cost;
                beats.text = std::to_string(beats.numerator);
                if (beats.division != 1) beats.text += "/" + std::to_string(beats.division);
                return beats;
            }
        }
        ++cost;
    }
    return beats;
}

CompileResult CompileSongText(const std::string& text) {
    Compiler compiler;
    int lineNumber = 0;
    // An editor's UTF-8 byte-order mark is not part of the first line.
    std::size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        ++lineNumber;
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        const fenk::Result<std::vector<Token>> tokens = Tokenize(line);
        if (!tokens.ok()) {
            compiler.Error(lineNumber, tokens.reason);
            continue;
        }
        if (!tokens.value.empty()) HandleLine(compiler, lineNumber, tokens.value);
    }
    if (compiler.inSection) {
        compiler.Error(compiler.current.line,
                       "section '" + compiler.current.name + "' has no 'end'");
        compiler.CloseSection();
    }

    // Only the sections the order names go into the song, in source order.
    std::vector<bool> played(compiler.sections.size(), false);
    for (const OrderName& entry : compiler.order) {
        auto found = compiler.sectionIndex.find(entry.name);
        if (found == compiler.sectionIndex.end()) {
            compiler.Error(entry.line, "the order names section '" + entry.name +
                                           "', which is not defined");
            continue;
        }
        played[found->second] = true;
    }
    const int lastLine = lineNumber == 0 ? 1 : lineNumber;
    if (compiler.sawOrder && compiler.order.empty()) {
        compiler.warnings.push_back({lastLine, "the order names no section: the song plays nothing"});
    }
    if (compiler.headerLines.count("name") == 0) {
        compiler.Error(lastLine, "the source has no 'name' line (the program's name, such as ODE)");
    }
    if (compiler.headerLines.count("title") == 0) {
        compiler.Error(lastLine, "the source has no 'title' line");
    }
    if (!compiler.sawOrder) {
        compiler.Error(lastLine, "the source has no 'order' line (the sections to play)");
    }

    CompileResult result;
    std::vector<std::size_t> songIndex(compiler.sections.size(), 0);
    for (std::size_t index = 0; index < compiler.sections.size(); ++index) {
        if (!played[index]) {
            // Without any order line every section is unplayed; the error
            // about the missing line says enough.
            if (compiler.sawOrder) compiler.warnings.push_back({compiler.sections[index].line,
                                         "section '" + compiler.sections[index].name +
                                             "' is never played (the order does not name it)"});
            continue;
        }
        songIndex[index] = result.song.sections.size();
        result.song.sections.push_back(compiler.sections[index].rows);
        result.sectionNames.push_back(compiler.sections[index].name);
    }
    for (const OrderName& entry : compiler.order) {
        auto found = compiler.sectionIndex.find(entry.name);
        if (found != compiler.sectionIndex.end()) result.song.order.push_back(songIndex[found->second]);
    }

    const auto byLine = [](const Message& a, const Message& b) { return a.line < b.line; };
    std::stable_sort(compiler.warnings.begin(), compiler.warnings.end(), byLine);
    result.warnings = compiler.warnings;
    if (!compiler.errors.empty()) {
        CompileResult failed;
        failed.errors = compiler.errors;
        // Errors found at the end (missing lines, unknown sections) sort in.
        std::stable_sort(failed.errors.begin(), failed.errors.end(), byLine);
        failed.warnings = compiler.warnings;
        return failed;
    }
    result.sourceSections = std::move(compiler.sections);
    result.orderLines = compiler.orderLines;
    result.headerLines = compiler.headerLines;
    result.program.name = compiler.name;
    result.program.comment = compiler.comment;
    result.song.title = compiler.title;
    result.song.artist = compiler.artist;
    result.song.album = compiler.album;
    result.ok = true;
    return result;
}

fenk::Result<ProgramFile> BuildProgramFile(const CompileResult& compiled) {
    const songfile::BuildSongResult song = songfile::BuildSong(compiled.song);
    if (!song.ok()) return fenk::Failed<ProgramFile>(fenk::Failure::Failed, song.reason);
    songfile::TiProgramSpec program = compiled.program;
    program.body = song.value.body;
    fenk::Result<std::vector<std::uint8_t>> built = songfile::BuildTiProgramFile(program);
    if (!built.ok()) {
        return fenk::Failed<ProgramFile>(
            fenk::Failure::Failed, "the song takes " + std::to_string(program.body.size()) +
                                       " bytes; a program holds at most " +
                                       std::to_string(songfile::kMaxProgramBody));
    }
    ProgramFile result;
    result.file = std::move(built.value);
    result.body = std::move(program.body);
    result.sectionOffsets = song.value.sectionOffsets;
    return fenk::Succeeded(std::move(result));
}

}  // namespace songtext
