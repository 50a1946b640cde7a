// The lines fenk prints about a song file as it reads it: fenk's own, and
// the tools' and the browser's when they open a song file.
#include <cstdarg>
#include <cstdio>

#include "songfile/songfile.h"

namespace songfile {
namespace {

// One piece of the report: appended to its text, and printed to `out`
// (when given) by a printf call of its own, as fenk has always printed it
// (a console shows a line's trailing blanks by how it was written).
__attribute__((format(printf, 3, 4)))
void Say(SongFileReport& report, std::FILE* out, const char* format, ...) {
    std::va_list values;
    va_start(values, format);
    if (out != nullptr) {
        std::va_list copy;
        va_copy(copy, values);
        std::vfprintf(out, format, copy);
        va_end(copy);
    }
    std::va_list measure;
    va_copy(measure, values);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length > 0) {
        std::string line(static_cast<std::size_t>(length) + 1, '\0');
        std::vsnprintf(&line[0], line.size(), format, values);
        line.pop_back();
        report.text += line;
    }
    va_end(values);
}

}  // namespace

SongFileReport ReportSongFile(const songfile::ReadResult& read, std::FILE* out) {
    SongFileReport report;
    if (read.failure == songfile::ReadFailure::OpenFailed) return report;
    if (read.failure == songfile::ReadFailure::NotTiProgram) {
        Say(report, out, "Not a valid TI-83 Plus program file!\n");
        return report;
    }
    const songfile::TiProgramFile& file = read.value;
    Say(report, out, "Loaded file %s (%s)\n", songfile::NameText(file).c_str(),
        songfile::CommentText(file).c_str());
    if (songfile::IsTruncated(file)) {
        Say(report, out, "Warning: the song data is truncated (%u of %u bytes)\n",
            static_cast<unsigned>(file.data.size()), static_cast<unsigned>(file.declaredLength));
    }
    const songfile::ParseResult song = songfile::ParseSong(file.data.data(), file.data.size());
    if (!song.ok()) {
        Say(report, out, "This is not a valid Fenk music file!\n");
        return report;
    }
    Say(report, out, "Song title:  %s\nSong artist: %s\nSong album:  %s\n",
        songfile::TitleText(song.value).c_str(), songfile::ArtistText(song.value).c_str(),
        songfile::AlbumText(song.value).c_str());
    report.ok = true;
    report.song = song.value;
    return report;
}

}  // namespace songfile
