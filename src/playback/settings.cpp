// The playback settings from the arguments after the song path: fenk's
// switch letters and sample path, which fenk-render takes as they are.
#include <cstring>

#include "playback.h"

namespace playback {
namespace {

constexpr std::size_t kMaxSamplePath = sizeof(PlaybackSettings{}.samplePath) - 1;

void ApplySwitchGroup(const char* group, PlaybackSettings& settings) {
    for (const char* letter = group + 1; *letter != '\0'; ++letter) {
        switch (*letter) {
            case 'x': settings.stopNotesEachRow = false; break;
            case 'm': settings.stereoPanning = false; break;
            case 'l': settings.mixRate = 8000; break;
            default: break;  // unknown letters are skipped without a word
        }
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
