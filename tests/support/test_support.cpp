#include "tests/support/test_support.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <system_error>

namespace test_support {

std::string Banner() {
    return std::string("Fenk ") + FENK_VERSION + " - four-voice TI-83 Plus song player\n\n";
}
namespace {

[[noreturn]] void Abort(const std::string& why) {
    std::fprintf(stderr, "test_support: %s\n", why.c_str());
    std::abort();
}

}  // namespace

TempDir::TempDir() {
    std::error_code error;
    std::filesystem::path base = std::filesystem::temp_directory_path(error);
    if (error) Abort("no temporary folder: " + error.message());
    // create_directory reports whether it made the folder, so a name that
    // another test program took meanwhile is simply tried again.
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::filesystem::path candidate =
            base / ("fenk-test-" + std::to_string(random() % 1000000000000ULL));
        if (std::filesystem::create_directory(candidate, error)) {
            path_ = candidate;
            return;
        }
        if (error) Abort("cannot create " + candidate.string() + ": " + error.message());
    }
    Abort("no free temporary folder name under " + base.string());
}

TempDir::~TempDir() {
    std::error_code error;
    // Tests may leave files without permissions; removal needs only the
    // folder's own.
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, error);
    std::filesystem::remove_all(path_, error);
}

std::string TempDir::File(const std::string& name) const {
    return (path_ / name).string();
}

std::string TempDir::Write(const std::string& name, const Bytes& bytes) const {
    std::string path = File(name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) Abort("cannot write " + path);
    return path;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes Word(std::uint16_t value) {
    return {static_cast<std::uint8_t>(value & 0xFF),
            static_cast<std::uint8_t>(value >> 8)};
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes joined;
    for (const Bytes& part : parts) joined.insert(joined.end(), part.begin(), part.end());
    return joined;
}

songfile::SongRow Row(std::uint8_t period0, std::uint8_t period1,
                      std::uint8_t period2, std::uint8_t period3,
                      std::uint16_t duration) {
    songfile::SongRow row;
    row.periods[0] = period0;
    row.periods[1] = period1;
    row.periods[2] = period2;
    row.periods[3] = period3;
    row.duration = duration;
    return row;
}

Bytes SongBody(const SongParts& song) {
    songfile::SongSource source;
    source.title = song.title;
    source.artist = song.artist;
    source.album = song.album;
    source.sections = song.sections;
    source.order = song.order;
    songfile::BuildSongResult built = songfile::BuildSong(source);
    if (!built.ok()) Abort("cannot build the song: " + built.reason);
    return built.value.body;
}

Bytes SongFile(const SongParts& song) {
    songfile::TiProgramSpec spec;
    spec.name = song.name;
    spec.comment = song.comment;
    spec.body = SongBody(song);
    fenk::Result<Bytes> file = songfile::BuildTiProgramFile(spec);
    if (!file.ok()) Abort("the song is too large for a program file");
    return file.value;
}

Bytes ProgramFile(const Bytes& body, const std::string& name,
                  const std::string& comment) {
    songfile::TiProgramSpec spec;
    spec.name = name;
    spec.comment = comment;
    spec.body = body;
    fenk::Result<Bytes> file = songfile::BuildTiProgramFile(spec);
    if (!file.ok()) Abort("the body is too large for a program file");
    return file.value;
}

std::vector<std::string> PlayedRows(const songfile::SongView& song) {
    std::vector<std::string> rows;
    for (std::size_t at = song.orderList;; at += songfile::kOrderEntryBytes) {
        const std::uint16_t offset = songfile::OrderEntryAt(song, at);
        if (offset == 0) break;
        rows.push_back("entry at " + std::to_string(at - song.orderList));
        for (std::size_t row = offset;; row += songfile::kRowBytes) {
            const songfile::SongRow played = songfile::RowAt(song, row);
            if (played.duration == 0) break;
            std::string line;
            for (std::uint8_t period : played.periods) line += std::to_string(period) + " ";
            rows.push_back(line + std::to_string(played.duration));
        }
    }
    return rows;
}

std::string PlayedSong(const std::string& path) {
    const songfile::ReadResult read = songfile::ReadTiProgramFile(path.c_str());
    if (!read.ok()) return "";
    const songfile::ParseResult song = songfile::ParseSong(read.value.data.data(), read.value.data.size());
    if (!song.ok()) return "";
    std::string played = "title '" + songfile::TitleText(song.value) + "' artist '" +
                         songfile::ArtistText(song.value) + "' album '" + songfile::AlbumText(song.value) +
                         "' name '" + songfile::NameText(read.value) + "' comment '" +
                         songfile::CommentText(read.value) + "'\n";
    for (const std::string& row : PlayedRows(song.value)) played += row + "\n";
    return played;
}

}  // namespace test_support
