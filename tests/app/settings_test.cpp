// The switches and sample paths after the song path.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/app.h"

namespace {

playback::PlaybackSettings Parse(const std::vector<std::string>& arguments) {
    std::vector<const char*> pointers;
    for (const std::string& argument : arguments) pointers.push_back(argument.c_str());
    return playback::ParseSettings(static_cast<int>(pointers.size()), pointers.data());
}

struct Expected {
    bool stopNotesEachRow = true;
    bool stereoPanning = true;
    int mixRate = 32000;
    std::string samplePath = "square.wav";
};

void ExpectSettings(const std::vector<std::string>& arguments, const Expected& expected) {
    const playback::PlaybackSettings settings = Parse(arguments);
    std::string shown;
    for (const std::string& argument : arguments) shown += "[" + argument + "]";
    EXPECT_EQ(settings.stopNotesEachRow, expected.stopNotesEachRow) << shown;
    EXPECT_EQ(settings.stereoPanning, expected.stereoPanning) << shown;
    EXPECT_EQ(settings.mixRate, expected.mixRate) << shown;
    EXPECT_EQ(std::string(settings.samplePath), expected.samplePath) << shown;
}

TEST(SettingsTest, SwitchLettersInGroups) {
    ExpectSettings({}, {});
    ExpectSettings({"-x"}, {false, true, 32000});
    ExpectSettings({"-m"}, {true, false, 32000});
    ExpectSettings({"-l"}, {true, true, 8000});
    ExpectSettings({"-lx"}, {false, true, 8000});
    ExpectSettings({"-xml"}, {false, false, 8000});
    ExpectSettings({"-m", "-l"}, {true, false, 8000});
    ExpectSettings({"-xx", "-x"}, {false, true, 32000});
}

TEST(SettingsTest, UnknownLettersAndLoneDashChangeNothing) {
    ExpectSettings({"-Q"}, {});
    ExpectSettings({"-q"}, {});
    ExpectSettings({"-X", "-M", "-L"}, {});
    ExpectSettings({"-"}, {});
    ExpectSettings({"--"}, {});
    // The known letters of a group still count around unknown ones.
    ExpectSettings({"-qlz"}, {true, true, 8000});
}

TEST(SettingsTest, SamplePathsLastOneWins) {
    ExpectSettings({"voice.wav"}, {true, true, 32000, "voice.wav"});
    ExpectSettings({"-x", "voice.wav"}, {false, true, 32000, "voice.wav"});
    ExpectSettings({"first.wav", "-m", "second.wav"}, {true, false, 32000, "second.wav"});
    // Without the dash the letters are a file name.
    ExpectSettings({"x"}, {true, true, 32000, "x"});
    ExpectSettings({"lm.wav"}, {true, true, 32000, "lm.wav"});
    // An empty argument does not begin with "-": an empty sample path.
    ExpectSettings({"voice.wav", ""}, {true, true, 32000, ""});
}

TEST(SettingsTest, SamplePathKeepsItsFirst255Characters) {
    const std::string fits(255, 'a');
    ExpectSettings({fits}, {true, true, 32000, fits});
    ExpectSettings({std::string(256, 'b')}, {true, true, 32000, std::string(255, 'b')});
    const std::string longPath = std::string(299, 'c') + "d";
    ExpectSettings({longPath}, {true, true, 32000, longPath.substr(0, 255)});
    // A short path after a long one leaves nothing of the long one behind.
    ExpectSettings({longPath, "s.wav"}, {true, true, 32000, "s.wav"});
}

}  // namespace
