// The playback settings from the arguments after the song path: fenk's
// switch letters and sample path, which fenk-render takes as they are.
#include <cstring>
#include <string>

#include "playback/playback.h"

namespace playback {

const SwitchLetter kSwitchLetters[kSwitchLetterCount] = {
    {'x', "extended notes", [](PlaybackSettings& settings) { settings.stopNotesEachRow = false; }},
    {'m', "mono", [](PlaybackSettings& settings) { settings.stereoPanning = false; }},
    {'l', "low quality", [](PlaybackSettings& settings) { settings.mixRate = kLowQualityMixRate; }},
};

std::string SwitchLettersHelp() {
    std::string help;
    for (const SwitchLetter& known : kSwitchLetters) {
        if (!help.empty()) help += ", ";
        help += known.letter;
        help += ": ";
        help += known.help;
    }
    return help;
}

namespace {

constexpr std::size_t kMaxSamplePath = sizeof(PlaybackSettings{}.samplePath) - 1;

void ApplySwitchGroup(const char* group, PlaybackSettings& settings) {
    for (const char* letter = group + 1; *letter != '\0'; ++letter) {
        // Unknown letters are skipped without a word.
        for (const SwitchLetter& known : kSwitchLetters)
            if (known.letter == *letter) known.apply(settings);
    }
}

void SetSamplePath(const char* path, PlaybackSettings& settings) {
    std::size_t length = 0;
    while (length < kMaxSamplePath && path[length] != '\0') ++length;
    std::memcpy(settings.samplePath, path, length);
    settings.samplePath[length] = '\0';
}

}  // namespace

PlaybackSettings ParseSettings(int count, const char* const* arguments) {
    PlaybackSettings settings;
    for (int i = 0; i < count; ++i) {
        if (arguments[i][0] == '-') {
            ApplySwitchGroup(arguments[i], settings);
        } else {
            SetSamplePath(arguments[i], settings);
        }
    }
    return settings;
}

PlaybackSettings ParseSettings(const std::vector<std::string>& arguments) {
    std::vector<const char*> words;
    words.reserve(arguments.size());
    for (const std::string& argument : arguments) words.push_back(argument.c_str());
    return ParseSettings(static_cast<int>(words.size()), words.data());
}

}  // namespace playback
