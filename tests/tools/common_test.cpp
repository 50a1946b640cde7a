// The shared pieces of the tools: note names and periods, and the option
// reader.
#include <gtest/gtest.h>

#include "compose/notes.h"
#include "tools/common/tool_support.h"

namespace {

TEST(NotesTest, ReadsNoteNames) {
    struct Case {
        const char* text;
        int midi;
    } cases[] = {{"A4", 69}, {"C4", 60}, {"c4", 60}, {"C#5", 73}, {"Bb3", 58}, {"bb3", 58},
                 {"Cb4", 59}, {"B#3", 60}, {"E#4", 65}, {"C-1", 0}, {"G9", 127}, {"B2", 47}};
    for (const Case& c : cases) {
        const fenk::Result<int> note = notes::ParseNoteName(c.text);
        EXPECT_TRUE(note.ok()) << c.text;
        EXPECT_EQ(note.value, c.midi) << c.text;
    }
    for (const char* bad : {"", "H4", "A", "A#", "A10", "A4#", "#A4", "Ab", "A-2", "Ax4", "A 4"}) {
        EXPECT_FALSE(notes::ParseNoteName(bad).ok()) << bad;
    }
}

TEST(NotesTest, MapsNotesToTheNearestPeriodOfTheSquareSample) {
    // Period p sounds floor(1e6 / p) / 32 Hz; these were worked out by hand.
    EXPECT_EQ(notes::NearestPeriod(440.0), 71);  // 440.125 Hz
    EXPECT_EQ(notes::NearestPeriod(notes::NoteFrequency(47)), 253);  // B2, the lowest
    EXPECT_EQ(notes::NearestPeriod(notes::NoteFrequency(73)), 56);   // C#5 +11 c, not 57 -19 c
    EXPECT_EQ(notes::NearestPeriod(notes::NoteFrequency(81)), 36);   // A5
    // Out of reach: the period the note would need.
    EXPECT_EQ(notes::NearestPeriod(notes::NoteFrequency(46)), 268);  // A#2
    EXPECT_EQ(notes::NearestPeriod(122.5), 255);
    EXPECT_EQ(notes::NearestPeriod(1000000.0), 0);

    EXPECT_EQ(notes::PeriodRate(1), 1000000);
    EXPECT_EQ(notes::PeriodRate(255), 3921);
    EXPECT_EQ(notes::PeriodRate(71), 14084);
}

TEST(NotesTest, NamesWhatAPeriodSounds) {
    notes::PeriodNote a4 = notes::NoteForPeriod(71);
    EXPECT_EQ(a4.name, "A4");
    EXPECT_NEAR(a4.cents, 0.49, 0.01);
    notes::PeriodNote a5 = notes::NoteForPeriod(36);  // 868.03 Hz
    EXPECT_EQ(a5.name, "A5");
    EXPECT_NEAR(a5.cents, -23.71, 0.01);
    EXPECT_EQ(notes::NoteForPeriod(255).name, "B2");  // 122.53 Hz, -13 c
    EXPECT_EQ(notes::NoteForPeriod(56).name, "C#5");
    EXPECT_EQ(notes::NoteName(0), "C-1");
    EXPECT_EQ(notes::NoteName(70), "A#4");
}

}  // namespace
