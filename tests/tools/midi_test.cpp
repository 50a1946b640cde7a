// fenk-make's MIDI import, run as a program on an arrangement that libsmf
// writes: what each voice plays, tick for tick, what the summary counts, and
// that our reader and libsmf read the same notes from the file.
#include <gtest/gtest.h>

extern "C" {
#include <smf.h>
}

#include <algorithm>
#include <cmath>
#include <array>
#include <filesystem>
#include <map>
#include <tuple>
#include <vector>

#include "compose/midi_file.h"
#include "compose/notes.h"
#include "songfile/songfile.h"
#include "tests/support/test_support.h"
#include "tests/tools/tool_runner.h"

namespace {

constexpr int kPpq = 480;

struct Part {
    int channel;  // 0-based
    std::vector<std::pair<int, int>> notes;  // (pitch, quarters) one after another; pitch 0: a rest
};

// The arrangement: 120 beats a minute for two bars, then 96; 4/4.
// - melody (channel 1): quarters C5..C6 and back, its last note held across
//   the bar line from bar 3 into bar 4;
// - a chord of three notes (channel 2) held a whole bar, four bars;
// - bass (channel 4): half notes;
// - drums (channel 10): a quarter beat.
std::string WriteArrangement(const test_support::TempDir& dir) {
    smf_t* smf = smf_new();
    EXPECT_EQ(smf_set_ppqn(smf, kPpq), 0);
    smf_track_t* conductor = smf_track_new();
    smf_add_track(smf, conductor);
    unsigned char name[] = {0xFF, 0x03, 5, 'M', 'i', 'd', 'i', 'A'};
    smf_track_add_event_pulses(conductor, smf_event_new_from_pointer(name, sizeof name), 0);
    unsigned char signature[] = {0xFF, 0x58, 4, 4, 2, 24, 8};
    smf_track_add_event_pulses(conductor, smf_event_new_from_pointer(signature, sizeof signature), 0);
    unsigned char fast[] = {0xFF, 0x51, 3, 0x07, 0xA1, 0x20};  // 500000 us a quarter
    smf_track_add_event_pulses(conductor, smf_event_new_from_pointer(fast, sizeof fast), 0);
    unsigned char slow[] = {0xFF, 0x51, 3, 0x09, 0x89, 0x68};  // 625000
    smf_track_add_event_pulses(conductor, smf_event_new_from_pointer(slow, sizeof slow), 8 * kPpq);

    const std::vector<Part> parts = {
        {0, {{72, 1}, {74, 1}, {76, 1}, {77, 1}, {79, 1}, {81, 1}, {83, 1}, {84, 1},
             {84, 1}, {83, 1}, {81, 1}, {79, 2}, {77, 1}, {76, 1}, {74, 1}}},
        {1, {{64, 4}, {65, 4}, {67, 4}, {64, 4}}},
        {1, {{67, 4}, {69, 4}, {71, 4}, {67, 4}}},
        {1, {{60, 4}, {60, 4}, {62, 4}, {60, 4}}},
        {3, {{48, 2}, {55, 2}, {53, 2}, {55, 2}, {52, 2}, {55, 2}, {48, 2}, {48, 2}}},
        {9, std::vector<std::pair<int, int>>(16, {36, 1})},
    };
    for (const Part& part : parts) {
        smf_track_t* track = smf_track_new();
        smf_add_track(smf, track);
        int at = 0;
        for (const auto& [pitch, quarters] : part.notes) {
            const int end = at + quarters * kPpq - (part.channel == 9 ? kPpq / 2 : 0);
            smf_track_add_event_pulses(track, smf_event_new_from_bytes(0x90 | part.channel, pitch, 100), at);
            smf_track_add_event_pulses(track, smf_event_new_from_bytes(0x80 | part.channel, pitch, 0), end);
            at += quarters * kPpq;
        }
    }
    std::string path = dir.File("arrangement.mid");
    EXPECT_EQ(smf_save(smf, path.c_str()), 0);
    smf_delete(smf);
    return path;
}

// Each voice's period at every tick of the song, from the program file.
std::vector<std::array<int, 4>> PeriodsByTick(const std::string& path) {
    std::vector<std::array<int, 4>> ticks;
    const songfile::ReadResult read = songfile::ReadTiProgramFile(path.c_str());
    EXPECT_EQ(read.failure, songfile::ReadFailure::None);
    const songfile::ParseResult parsed = songfile::ParseSong(read.value.data.data(), read.value.data.size());
    EXPECT_TRUE(parsed.ok());
    const songfile::SongView& song = parsed.value;
    for (std::size_t entry = 0;; ++entry) {
        std::size_t offset = songfile::OrderEntryAt(song, song.orderList + 2 * entry);
        if (offset == 0) break;
        for (songfile::SongRow row = songfile::RowAt(song, offset); row.duration != 0;
             offset += songfile::kRowBytes, row = songfile::RowAt(song, offset)) {
            for (int t = 0; t < row.duration; ++t) {
                ticks.push_back({row.periods[0], row.periods[1], row.periods[2], row.periods[3]});
            }
        }
    }
    return ticks;
}

int PeriodOf(int pitch) { return notes::NearestPeriod(notes::NoteFrequency(pitch)); }

TEST(MidiImportTest, FourVoicesOnTheTickWithTheChordReducedAndEveryChangeCounted) {
    test_support::TempDir dir;
    const std::string midiPath = WriteArrangement(dir);
    const std::string out = dir.File("out.8xp");
    const tool_tests::RunResult run = tool_tests::Run(FENK_MAKE_PATH, {midiPath, out});
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    // Melody, three chord lines and bass: five notes at once where four
    // voices are; the drums' 16 notes are left out.
    EXPECT_NE(run.out.find("16 of percussion (channel 10) left out"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("voices: 0 channel 1,"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("3 channel 4"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("4 left out (bar 1 "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("0 cut short"), std::string::npos) << run.out;

    const auto ticks = PeriodsByTick(out);
    // Quarters of 100 ticks for two bars, then of 125: the melody on voice 0,
    // each note from its exact tick, the one held over the bar line 250
    // ticks long, equal neighbours parted by a tick of rest.
    std::vector<std::pair<int, int>> melody = {{72, 100}, {74, 100}, {76, 100}, {77, 100}, {79, 100}, {81, 100},
                                               {83, 100}, {84, 100}, {84, 125}, {83, 125}, {81, 125}, {79, 250},
                                               {77, 125}, {76, 125}, {74, 125}};
    std::size_t at = 0;
    for (std::size_t n = 0; n < melody.size(); ++n) {
        SCOPED_TRACE("melody note " + std::to_string(n));
        const auto [pitch, length] = melody[n];
        const bool partedFromNext = n + 1 < melody.size() && melody[n + 1].first == pitch;
        ASSERT_LT(at + static_cast<std::size_t>(length) - 1, ticks.size());
        EXPECT_EQ(ticks[at][0], PeriodOf(pitch));
        EXPECT_EQ(ticks[at + static_cast<std::size_t>(length) - (partedFromNext ? 2 : 1)][0], PeriodOf(pitch));
        if (partedFromNext) {
            EXPECT_EQ(ticks[at + static_cast<std::size_t>(length) - 1][0], 0);
        }
        at += static_cast<std::size_t>(length);
    }
    EXPECT_EQ(ticks.size(), at) << "the song ends with the melody's last note";
    // The bass on voice 3: C3 for its first half note, G3 from tick 200.
    EXPECT_EQ(ticks[0][3], PeriodOf(48));
    EXPECT_EQ(ticks[199][3], PeriodOf(48));
    EXPECT_EQ(ticks[200][3], PeriodOf(55));
}

// Lines of notes one step after another, each line in a track of its own
// on its channel; pitch 0 is a rest. 120 beats a minute, 4/4.
struct Line {
    int channel;             // 0-based
    int stepPulses;          // pulses a step
    std::vector<int> steps;  // a pitch a step, 0 for a rest
    int late = 0;            // pulses every note starts late and ends early (a player's jitter)
};

std::string WriteLines(const std::string& path, const std::vector<Line>& lines) {
    smf_t* smf = smf_new();
    EXPECT_EQ(smf_set_ppqn(smf, kPpq), 0);
    smf_track_t* conductor = smf_track_new();
    smf_add_track(smf, conductor);
    unsigned char signature[] = {0xFF, 0x58, 4, 4, 2, 24, 8};
    smf_track_add_event_pulses(conductor, smf_event_new_from_pointer(signature, sizeof signature), 0);
    for (const Line& line : lines) {
        smf_track_t* track = smf_track_new();
        smf_add_track(smf, track);
        for (std::size_t step = 0; step < line.steps.size(); ++step) {
            if (line.steps[step] == 0) continue;
            const int at = static_cast<int>(step) * line.stepPulses;
            smf_track_add_event_pulses(track, smf_event_new_from_bytes(0x90 | line.channel, line.steps[step], 90),
                                       at + line.late);
            smf_track_add_event_pulses(track, smf_event_new_from_bytes(0x80 | line.channel, line.steps[step], 0),
                                       at + line.stepPulses - line.late);
        }
    }
    EXPECT_EQ(smf_save(smf, path.c_str()), 0);
    smf_delete(smf);
    return path;
}

// Six notes at once, the tune moving from the flute (bars 1-2) to the
// violin (bars 3-4), which played below it before; a chord of three held
// in between and a bass: at every quarter the highest and the lowest note
// of the arrangement sound in the song, on their ticks.
TEST(MidiImportTest, TheTopLineAndTheBassSoundWhereverMoreThanFourNotesDo) {
    test_support::TempDir dir;
    const std::vector<int> flute = {84, 86, 88, 89, 91, 89, 88, 86, 0, 0, 0, 0, 0, 0, 0, 0};
    const std::vector<int> violin = {67, 69, 71, 72, 71, 69, 67, 65, 76, 77, 79, 81, 79, 77, 76, 74};
    const std::vector<Line> lines = {
        {0, kPpq, flute},
        {1, kPpq, violin},
        {2, 4 * kPpq, {60, 60, 60, 60}},
        {2, 4 * kPpq, {64, 65, 64, 65}},
        {2, 4 * kPpq, {67, 69, 67, 69}},
        {3, 2 * kPpq, {48, 55, 53, 55, 48, 55, 53, 55}},
    };
    const std::string midiPath = WriteLines(dir.File("six.mid"), lines);
    const std::string out = dir.File("six.8xp");
    const tool_tests::RunResult run = tool_tests::Run(FENK_MAKE_PATH, {midiPath, out});
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_NE(run.out.find("tune: melody kept 100 % of the time, bass 100 %"), std::string::npos) << run.out;
    const auto ticks = PeriodsByTick(out);
    ASSERT_EQ(ticks.size(), 16u * 100u);
    for (std::size_t quarter = 0; quarter < 16; ++quarter) {
        SCOPED_TRACE("quarter " + std::to_string(quarter));
        const int top = flute[quarter] != 0 ? flute[quarter] : violin[quarter];
        const int bass = lines[5].steps[quarter / 2];
        for (const std::size_t tick : {quarter * 100, quarter * 100 + 97}) {
            const std::array<int, 4>& voices = ticks[tick];
            EXPECT_NE(std::find(voices.begin(), voices.end(), PeriodOf(top)), voices.end()) << "tick " << tick;
            EXPECT_NE(std::find(voices.begin(), voices.end(), PeriodOf(bass)), voices.end()) << "tick " << tick;
        }
    }
}

// The options that make an import smaller or say where it comes from,
// each once: a part by bars, the longest start that fits, a grid for a
// player's jitter, and the voices chosen.
TEST(MidiImportTest, PartsFitGridAndChosenVoices) {
    test_support::TempDir dir;
    // Twelve bars of quarters; the tune C5 D5 E5 F5 a bar, the bar's number
    // added to the first note.
    std::vector<int> tune, bass;
    for (int bar = 0; bar < 12; ++bar) {
        for (const int pitch : {72 + bar % 5, 74, 76, 77}) tune.push_back(pitch);
        bass.insert(bass.end(), {48, 48, 53, 53});
    }
    const std::string twelve = WriteLines(dir.File("twelve.mid"), {{0, kPpq, tune}, {1, kPpq, bass}});
    const tool_tests::RunResult part =
        tool_tests::Run(FENK_MAKE_PATH, {twelve, "--from", "3", "--to", "5", dir.File("part.8xp")});
    ASSERT_EQ(part.exitStatus, 0) << part.err;
    const auto partTicks = PeriodsByTick(dir.File("part.8xp"));
    ASSERT_EQ(partTicks.size(), 800u) << "bars 3 and 4";
    EXPECT_EQ(partTicks[0][0], PeriodOf(72 + 2)) << "bar 3's first note first";
    EXPECT_EQ(partTicks[400][0], PeriodOf(72 + 3));

    // A player's jitter: every note 7 pulses late and early on eighths.
    std::vector<int> eighths;
    for (int step = 0; step < 64; ++step) eighths.push_back(60 + (step * 5) % 12);
    const std::string jittered = WriteLines(dir.File("jitter.mid"), {{0, kPpq / 2, eighths, 7}});
    ASSERT_EQ(tool_tests::Run(FENK_MAKE_PATH, {jittered, dir.File("raw.txt")}).exitStatus, 0);
    const tool_tests::RunResult gridded =
        tool_tests::Run(FENK_MAKE_PATH, {jittered, "--grid", "1/8", dir.File("grid.txt")});
    ASSERT_EQ(gridded.exitStatus, 0) << gridded.err;
    const std::string raw = test_support::ReadText(dir.File("raw.txt"));
    const std::string grid = test_support::ReadText(dir.File("grid.txt"));
    EXPECT_LT(std::count(grid.begin(), grid.end(), '\n'), std::count(raw.begin(), raw.end(), '\n'));
    EXPECT_NE(grid.find("\ntempo 120\n"), std::string::npos) << grid;
    EXPECT_EQ(grid.find("t\n"), std::string::npos) << "every duration in beats:\n" << grid;
    EXPECT_NE(grid.find(" 1/2\n"), std::string::npos) << grid;

    // Far too long for a program: 12,800 sixteenths that never repeat.
    std::vector<int> many;
    unsigned seed = 1;
    for (int step = 0; step < 12800; ++step) {
        seed = seed * 1103515245u + 12345u;
        many.push_back(48 + static_cast<int>(seed >> 16) % 36);
    }
    const std::string huge = WriteLines(dir.File("huge.mid"), {{0, kPpq / 4, many}});
    const tool_tests::RunResult tooBig = tool_tests::Run(FENK_MAKE_PATH, {huge, dir.File("huge.8xp")});
    EXPECT_EQ(tooBig.exitStatus, 1);
    EXPECT_NE(tooBig.err.find("--fit"), std::string::npos) << tooBig.err;
    const tool_tests::RunResult fitted = tool_tests::Run(FENK_MAKE_PATH, {huge, "--fit", dir.File("fit.8xp")});
    ASSERT_EQ(fitted.exitStatus, 0) << fitted.err;
    const std::size_t cut = fitted.out.find("cut at bar ");
    ASSERT_NE(cut, std::string::npos) << fitted.out;
    const std::size_t rows = PeriodsByTick(dir.File("fit.8xp")).size() / 25;
    EXPECT_GT(rows, 10000u) << "most of what fits";
    EXPECT_LT(rows, 12800u);
    // The longest start: up to that bar line it is what --to makes, one bar
    // more does not fit.
    const int cutBar = std::stoi(fitted.out.substr(cut + 11));
    ASSERT_EQ(tool_tests::Run(FENK_MAKE_PATH, {huge, "--to", std::to_string(cutBar), dir.File("to.8xp")}).exitStatus, 0);
    EXPECT_EQ(PeriodsByTick(dir.File("to.8xp")), PeriodsByTick(dir.File("fit.8xp")));
    const tool_tests::RunResult longer =
        tool_tests::Run(FENK_MAKE_PATH, {huge, "--to", std::to_string(cutBar + 1), dir.File("longer.8xp")});
    EXPECT_EQ(longer.exitStatus, 1);
    EXPECT_NE(longer.err.find("more than the 65516 a program holds"), std::string::npos) << longer.err;

    // Places beyond any number's reach are one line that says so.
    const tool_tests::RunResult farBar = tool_tests::Run(FENK_MAKE_PATH, {twelve, "--from", "99999999999", dir.File("x.8xp")});
    EXPECT_EQ(farBar.exitStatus, 1);
    EXPECT_EQ(farBar.err, "fenk-make: --from: '99999999999' is no place in the file: bars are counted up to 100000\n");
    const tool_tests::RunResult farTime =
        tool_tests::Run(FENK_MAKE_PATH, {twelve, "--to", "99999999999:00", dir.File("x.8xp")});
    EXPECT_EQ(farTime.exitStatus, 1);
    EXPECT_EQ(farTime.err, "fenk-make: --to: '99999999999:00' is no place in the file: no file lasts that long\n");
    EXPECT_FALSE(std::filesystem::exists(dir.File("x.8xp")));

    // Voices chosen: the bass's channel on voice 0, the tune's on voice 2,
    // voices 1 and 3 silent.
    const tool_tests::RunResult chosen =
        tool_tests::Run(FENK_MAKE_PATH, {twelve, "--voices", "c2,-,c1,-", dir.File("chosen.8xp")});
    ASSERT_EQ(chosen.exitStatus, 0) << chosen.err;
    const auto chosenTicks = PeriodsByTick(dir.File("chosen.8xp"));
    ASSERT_EQ(chosenTicks.size(), 4800u);
    EXPECT_EQ(chosenTicks[0], (std::array<int, 4>{PeriodOf(48), 0, PeriodOf(72), 0}));
    EXPECT_EQ(chosenTicks[250], (std::array<int, 4>{PeriodOf(53), 0, PeriodOf(76), 0}));
}

// Tracks of raw events, (pulse, bytes) each, after a conductor track with
// `conductor`'s events.
using Events = std::vector<std::pair<int, std::vector<unsigned char>>>;
std::string WriteEvents(const std::string& path, const Events& conductor, const std::vector<Events>& tracks) {
    smf_t* smf = smf_new();
    EXPECT_EQ(smf_set_ppqn(smf, kPpq), 0);
    for (const Events* events : [&] {
             std::vector<const Events*> all = {&conductor};
             for (const Events& track : tracks) all.push_back(&track);
             return all;
         }()) {
        smf_track_t* track = smf_track_new();
        smf_add_track(smf, track);
        for (const auto& [pulse, bytes] : *events) {
            std::vector<unsigned char> copy = bytes;  // libsmf takes a pointer it does not write through
            smf_track_add_event_pulses(track, smf_event_new_from_pointer(copy.data(), static_cast<int>(copy.size())), pulse);
        }
    }
    EXPECT_EQ(smf_save(smf, path.c_str()), 0);
    smf_delete(smf);
    return path;
}

// The period of a key bent by `semitones`, as the import gives it.
int BentPeriod(int pitch, double semitones) {
    return notes::NearestPeriod(notes::NoteFrequency(pitch) * std::pow(2.0, semitones / 12.0));
}

// Voice 0's period at the first tick of each quarter note at 120 beats a minute.
std::vector<int> QuarterPeriods(const std::string& song, std::size_t quarters) {
    const auto ticks = PeriodsByTick(song);
    std::vector<int> periods;
    for (std::size_t q = 0; q < quarters; ++q) periods.push_back(q * 100 < ticks.size() ? ticks[q * 100][0] : -1);
    return periods;
}

// Data entry after an NRPN is selected (controllers 99 and 98) sets the
// NRPN, not the bend range RPN 0 set before; selecting RPN 0 again makes
// data entry the bend range again, as a synthesizer takes them.
TEST(MidiImportTest, DataEntryAfterAnNrpnSelectLeavesTheBendRange) {
    test_support::TempDir dir;
    const Events track = {
        {0, {0xB0, 101, 0}}, {0, {0xB0, 100, 0}}, {0, {0xB0, 6, 2}}, {0, {0xB0, 38, 0}},  // RPN 0: 2 semitones
        {0, {0xB0, 99, 1}}, {0, {0xB0, 98, 8}}, {0, {0xB0, 6, 64}},                        // an NRPN's value
        {0, {0xE0, 0x7F, 0x7F}},                                                           // bent all the way up
        {0, {0x90, 69, 100}}, {kPpq, {0x80, 69, 0}},
        {kPpq, {0xB0, 101, 0}}, {kPpq, {0xB0, 100, 0}}, {kPpq, {0xB0, 6, 12}},             // RPN 0 again: 12
        {kPpq, {0x90, 69, 100}}, {2 * kPpq, {0x80, 69, 0}},
    };
    const std::string midi = WriteEvents(dir.File("nrpn.mid"), {}, {track});
    ASSERT_EQ(tool_tests::Run(FENK_MAKE_PATH, {midi, dir.File("nrpn.8xp")}).exitStatus, 0);
    const double up = 8191.0 / 8192.0;
    EXPECT_EQ(BentPeriod(69, 2 * up), PeriodOf(71)) << "an A4 two semitones up is a B4";
    EXPECT_EQ(QuarterPeriods(dir.File("nrpn.8xp"), 2), (std::vector<int>{PeriodOf(71), BentPeriod(69, 12 * up)}));
}

// A channel's bend holds for its notes from every track, in the order the
// file is heard: a bend in one track moves the notes another track plays
// on that channel from then on, and no note of another channel.
TEST(MidiImportTest, AChannelsBendHoldsForEveryTrackAsTheFileIsHeard) {
    test_support::TempDir dir;
    const Events bends = {{0, {0xE0, 0x7F, 0x7F}}, {2 * kPpq, {0xE0, 0x00, 0x40}}};  // up, then the middle
    const Events notesOnChannel1 = {
        {0, {0x90, 69, 100}}, {kPpq, {0x80, 69, 0}},                  // bent: B4
        {2 * kPpq, {0x90, 69, 100}}, {3 * kPpq, {0x80, 69, 0}},       // after the bend's return: A4
    };
    const Events noteOnChannel2 = {{kPpq, {0x91, 76, 100}}, {2 * kPpq, {0x81, 76, 0}}};  // never bent: E5
    const std::string midi = WriteEvents(dir.File("bends.mid"), {}, {bends, notesOnChannel1, noteOnChannel2});
    ASSERT_EQ(tool_tests::Run(FENK_MAKE_PATH, {midi, "--voices", "c1,c2,-,-", dir.File("bends.8xp")}).exitStatus, 0);
    const auto ticks = PeriodsByTick(dir.File("bends.8xp"));
    ASSERT_EQ(ticks.size(), 300u);
    EXPECT_EQ(ticks[0][0], BentPeriod(69, 2 * 8191.0 / 8192.0));
    EXPECT_EQ(ticks[0][0], PeriodOf(71));
    EXPECT_EQ(ticks[100][1], PeriodOf(76));
    EXPECT_EQ(ticks[200][0], PeriodOf(69));
}

// Durations in beats compile back to the exact ticks of the notes at any
// tempo the file has: at 122.24 beats a minute (as written) a note of
// 1563 ticks is 191/12 beats, which rounds up from exactly half a tick;
// the other notes, of lengths stepping through the tick, likewise.
TEST(MidiImportTest, EveryDurationCompilesToTheTicksOfItsNote) {
    test_support::TempDir dir;
    const Events conductor = {
        {0, {0xFF, 0x58, 4, 16, 2, 24, 8}},             // 16/4: bars longer than the long note
        {0, {0xFF, 0x51, 3, 0x07, 0x7D, 0x56}},         // 490838 us a quarter: "122.24"
    };
    Events line;
    int at = 0;
    for (int n = 0; n < 60; ++n) {
        const int pulses = n == 0 ? 7642 : 97 + 53 * n;  // 7642 pulses: 1563 ticks
        const unsigned char key = n % 2 ? 71 : 69;
        line.push_back({at, {0x90, key, 100}});
        line.push_back({at + pulses, {0x80, key, 0}});
        at += pulses;
    }
    const std::string midi = WriteEvents(dir.File("tempo.mid"), conductor, {line});
    ASSERT_EQ(tool_tests::Run(FENK_MAKE_PATH, {midi, dir.File("tempo.txt")}).exitStatus, 0);
    const std::string text = test_support::ReadText(dir.File("tempo.txt"));
    EXPECT_NE(text.find("\ntempo 122.24\n"), std::string::npos) << text;
    EXPECT_NE(text.find(" 191/12\n"), std::string::npos) << text;
    ASSERT_EQ(tool_tests::Run(FENK_MAKE_PATH, {dir.File("tempo.txt"), dir.File("tempo.8xp")}).exitStatus, 0);

    const std::string bytes = test_support::ReadText(midi);
    const fenk::Result<midi::MidiFile> read = midi::ReadMidiFile(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    ASSERT_TRUE(read.ok()) << read.reason;
    const auto ticks = PeriodsByTick(dir.File("tempo.8xp"));
    std::size_t tick = 0;
    for (const midi::Note& note : read.value.notes) {
        SCOPED_TRACE("the note at pulse " + std::to_string(note.startTick));
        const std::size_t length = static_cast<std::size_t>(std::llround(note.endSeconds * 200.0) -
                                                            std::llround(note.startSeconds * 200.0));
        std::size_t run = 0;
        while (tick + run < ticks.size() && ticks[tick + run][0] == PeriodOf(note.pitch)) ++run;
        EXPECT_EQ(run, length);
        tick += run;
    }
    EXPECT_EQ(tick, ticks.size());
    EXPECT_EQ(std::llround(read.value.notes[0].endSeconds * 200.0), 1563);
}

TEST(MidiImportTest, OurReaderAndLibsmfReadTheSameNotes) {
    test_support::TempDir dir;
    const std::string midiPath = WriteArrangement(dir);
    const std::string bytes = test_support::ReadText(midiPath);
    const fenk::Result<midi::MidiFile> ours = midi::ReadMidiFile(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    ASSERT_TRUE(ours.ok()) << ours.reason;

    smf_t* smf = smf_load(midiPath.c_str());
    ASSERT_NE(smf, nullptr);
    std::vector<midi::Note> theirs;
    std::map<int, std::vector<std::size_t>> sounding;
    for (smf_event_t* event = smf_get_next_event(smf); event != nullptr; event = smf_get_next_event(smf)) {
        if (smf_event_is_metadata(event) || event->midi_buffer_length < 3) continue;
        const int kind = event->midi_buffer[0] & 0xF0, channel = event->midi_buffer[0] & 0x0F;
        const int pitch = event->midi_buffer[1], velocity = event->midi_buffer[2];
        std::vector<std::size_t>& open = sounding[channel * 128 + pitch];
        if (kind == 0x90 && velocity > 0) {
            midi::Note note;
            note.channel = static_cast<std::uint8_t>(channel);
            note.pitch = static_cast<std::uint8_t>(pitch);
            note.startSeconds = event->time_seconds;
            open.push_back(theirs.size());
            theirs.push_back(note);
        } else if ((kind == 0x80 || kind == 0x90) && !open.empty()) {
            theirs[open.front()].endSeconds = event->time_seconds;
            open.erase(open.begin());
        }
    }
    smf_delete(smf);
    const auto key = [](const midi::Note& n) { return std::make_tuple(n.startSeconds, n.channel, n.pitch); };
    std::sort(theirs.begin(), theirs.end(), [&](const midi::Note& a, const midi::Note& b) { return key(a) < key(b); });
    ASSERT_EQ(ours.value.notes.size(), theirs.size());
    for (std::size_t i = 0; i < theirs.size(); ++i) {
        SCOPED_TRACE("note " + std::to_string(i));
        const midi::Note& mine = ours.value.notes[i];
        EXPECT_EQ(mine.channel, theirs[i].channel);
        EXPECT_EQ(mine.pitch, theirs[i].pitch);
        EXPECT_NEAR(mine.startSeconds, theirs[i].startSeconds, 1e-6);
        EXPECT_NEAR(mine.endSeconds, theirs[i].endSeconds, 1e-6);
    }
    EXPECT_EQ(ours.value.trackNames.front(), "MidiA");
}

TEST(MidiImportTest, AFileThatIsNoMidiFileOrLiesAboutItsLengthIsOneLineAndStatusOne) {
    using test_support::Bytes;
    const Bytes header = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 1, 0x01, 0xE0};
    const auto track = [](Bytes length, Bytes events) {
        Bytes chunk = {'M', 'T', 'r', 'k'};
        chunk.insert(chunk.end(), length.begin(), length.end());
        chunk.insert(chunk.end(), events.begin(), events.end());
        return chunk;
    };
    const auto join = [](Bytes a, const Bytes& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const struct {
        const char* what;
        Bytes bytes;
        const char* says;
    } cases[] = {
        {"a song text", test_support::Text("title \"x\"\n"), "not a Standard MIDI File"},
        {"type 2", {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 2, 0, 1, 0x01, 0xE0}, "type 2"},
        {"a chunk longer than the file", join(header, track({0, 0, 0x10, 0}, {0, 0x90, 60, 100})), "claims 4096 bytes"},
        {"an event cut short", join(header, track({0, 0, 0, 3}, {0, 0x90, 60})), "cut short"},
        {"fewer tracks than promised", header, "promises 1 tracks"},
        {"a data byte without a status", join(header, track({0, 0, 0, 3}, {0, 60, 100})), "where an event's status"},
    };
    test_support::TempDir dir;
    for (const auto& bad : cases) {
        SCOPED_TRACE(bad.what);
        const std::string path = dir.Write("bad.mid", bad.bytes);
        const tool_tests::RunResult run = tool_tests::Run(FENK_MAKE_PATH, {path, dir.File("out.8xp")});
        EXPECT_EQ(run.exitStatus, 1);
        EXPECT_NE(run.err.find(bad.says), std::string::npos) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_FALSE(std::filesystem::exists(dir.File("out.8xp")));
    }
}

// A song out as MIDI: every period from 1 to 255 on voice 0, a note held
// over all rows on voice 1, notes and rests on voice 2, a raw period on
// voice 3. libsmf reads it as written; imported back on channels 1-4 it
// plays the same periods on every tick.
TEST(MidiExportTest, LibsmfReadsTheVoicesAndTheImportGivesEveryPeriodBack) {
    test_support::TempDir dir;
    std::string text = "title \"Walk\"\nartist \"Tests\"\nname WALK\nsection walk\n";
    for (int period = 1; period <= 255; ++period) {
        text += std::to_string(period) + " A4 " + (period % 2 ? "C4" : "-") + " 72 3t\n";
    }
    text += "end\norder walk\n";
    const std::string song = dir.File("walk.8xp"), mid = dir.File("walk.mid"), back = dir.File("back.8xp");
    ASSERT_EQ(tool_tests::Run(FENK_MAKE_PATH, {dir.Write("walk.txt", test_support::Text(text)), song}).exitStatus, 0);
    const tool_tests::RunResult exported = tool_tests::Run(FENK_MAKE_PATH, {song, mid});
    ASSERT_EQ(exported.exitStatus, 0) << exported.err;
    EXPECT_EQ(exported.err, "");

    smf_t* smf = smf_load(mid.c_str());
    ASSERT_NE(smf, nullptr);
    EXPECT_EQ(smf->format, 1);
    EXPECT_EQ(smf->ppqn, 100);
    ASSERT_EQ(smf->number_of_tracks, 5);
    EXPECT_EQ(smf_get_tempo_by_pulses(smf, 0)->microseconds_per_quarter_note, 500000);
    std::map<int, std::vector<std::pair<double, int>>> starts;  // channel -> (seconds, key)
    std::map<int, std::string> names;                          // track -> its name
    for (smf_event_t* event = smf_get_next_event(smf); event != nullptr; event = smf_get_next_event(smf)) {
        const int track = event->track->track_number;
        if (event->midi_buffer[0] == 0xFF && event->midi_buffer[1] == 0x03 && names.count(track) == 0) {
            char* name = smf_event_extract_text(event);
            names[track] = name;
            free(name);
        }
        if (smf_event_is_metadata(event) || (event->midi_buffer[0] & 0xF0) != 0x90) continue;
        const int channel = event->midi_buffer[0] & 0x0F;
        EXPECT_EQ(track, channel + 2) << "voice " << channel << " in its own track";
        starts[channel].emplace_back(event->time_seconds, event->midi_buffer[1]);
    }
    smf_delete(smf);
    EXPECT_EQ(names[1], "Walk");
    for (int voice = 0; voice < 4; ++voice) EXPECT_EQ(names[voice + 2], "Voice " + std::to_string(voice));
    ASSERT_EQ(starts[0].size(), 255u);
    for (std::size_t row = 0; row < starts[0].size(); ++row) {
        EXPECT_NEAR(starts[0][row].first, 0.015 * static_cast<double>(row), 1e-9) << "row " << row;
    }
    EXPECT_EQ(starts[0].back().second, 47) << "period 255 sounds nearest B2";
    EXPECT_EQ(starts[1], (std::vector<std::pair<double, int>>{{0.0, 69}})) << "A4 held over every row";
    EXPECT_EQ(starts[2].size(), 128u);
    EXPECT_EQ(starts[3].size(), 1u);

    const tool_tests::RunResult imported = tool_tests::Run(FENK_MAKE_PATH, {mid, "--voices", "c1,c2,c3,c4", back});
    ASSERT_EQ(imported.exitStatus, 0) << imported.err;
    EXPECT_EQ(PeriodsByTick(back), PeriodsByTick(song));
}

}  // namespace
