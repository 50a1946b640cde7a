// Fuzz target: bytes as a song file. They go through the program file
// reader, the song check, and a walk of the whole song through the bounded
// accessors in the order the sequencer plays it (every order entry until the
// 0 entry, every row of each listed section until its 0 duration). Besides
// the sanitizers, each step is checked against the input bytes themselves,
// so an accessor that hands back something other than the block's bytes
// fails as well as one that reads outside the block. Then the song is
// written as its song text and compiled again: the rows must come back.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "compose/song_text.h"
#include "fuzz/fuzz_support.h"
#include "playback/song_engine.h"
#include "songfile/songfile.h"

namespace {

// A walk visits rows in proportion to the order list times the section
// length (up to about 3e8 rows for a 64 KiB block); past this many rows the
// rest of the song is left unplayed, so that the fuzzer spends its time on
// new inputs rather than on long songs (the song's end is still checked).
constexpr std::size_t kMaxWalkedRows = 4096;


std::uint16_t WordAt(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

void CheckReadAgainstInput(const songfile::ReadResult& result,
                           const std::uint8_t* input, std::size_t size) {
    // Bytes in memory are never a file that cannot be opened.
    FUZZ_CHECK(result.failure != songfile::ReadFailure::OpenFailed);
    const bool signatureMatches =
        size >= songfile::kTiSignatureBytes &&
        std::memcmp(input, songfile::kTiSignature, songfile::kTiSignatureBytes) == 0;
    // Offsets 70 and 71 hold L: without both the file is not usable.
    const bool usable = signatureMatches && size >= 72;
    FUZZ_CHECK((result.failure == songfile::ReadFailure::None) == usable);
    if (!usable) {
        FUZZ_CHECK(result.value.data.empty());
        return;
    }
    const songfile::TiProgramFile& file = result.value;
    FUZZ_CHECK(std::memcmp(file.comment, input + 11, 42) == 0);
    FUZZ_CHECK(std::memcmp(file.name, input + 60, 8) == 0);
    FUZZ_CHECK(file.name[8] == '\0');
    FUZZ_CHECK(file.declaredLength == WordAt(input + 70));
    // The block is what follows offset 74, cut at L or at the file's end.
    const std::size_t available = size > 74 ? size - 74 : 0;
    const std::size_t expected =
        available < file.declaredLength ? available : file.declaredLength;
    FUZZ_CHECK(file.data.size() == expected);
    FUZZ_CHECK(expected == 0 || std::memcmp(file.data.data(), input + 74, expected) == 0);
    FUZZ_CHECK(songfile::IsTruncated(file) == (expected < file.declaredLength));
}

void CheckParse(const songfile::ParseResult& parsed, const std::uint8_t* block,
                std::size_t length) {
    // A song is "FENK1", one byte, then three NUL-ended texts in the block.
    std::size_t nuls = 0;
    for (std::size_t i = 6; i < length && nuls < 3; ++i) nuls += block[i] == 0;
    const bool song = length >= 5 && std::memcmp(block, songfile::kSongSignature, songfile::kSongSignatureBytes) == 0 && nuls == 3;
    FUZZ_CHECK(parsed.ok() == song);
    if (!parsed.ok()) return;
    const songfile::SongView& view = parsed.value;
    FUZZ_CHECK(view.data == block && view.length == length);
    FUZZ_CHECK(view.title == 6);
    FUZZ_CHECK(view.title < view.artist && view.artist < view.album &&
               view.album < view.orderList && view.orderList <= length);
    FUZZ_CHECK(block[view.artist - 1] == 0 && block[view.album - 1] == 0 &&
               block[view.orderList - 1] == 0);
    FUZZ_CHECK(songfile::TitleText(view).size() == view.artist - view.title - 1);
    FUZZ_CHECK(songfile::ArtistText(view).size() == view.album - view.artist - 1);
    FUZZ_CHECK(songfile::AlbumText(view).size() == view.orderList - view.album - 1);
}

// The entry at `position` is the block's word there, or 0 past the end.
std::uint16_t CheckedEntry(const songfile::SongView& song, std::size_t position) {
    const std::uint16_t entry = songfile::OrderEntryAt(song, position);
    if (song.length >= 2 && position <= song.length - 2) {
        FUZZ_CHECK(entry == WordAt(song.data + position));
    } else {
        FUZZ_CHECK(entry == 0);
    }
    return entry;
}

// The row at `offset` is the block's six bytes there, or an empty row with
// duration 0 when they do not all fit.
songfile::SongRow CheckedRow(const songfile::SongView& song, std::size_t offset) {
    const songfile::SongRow row = songfile::RowAt(song, offset);
    if (song.length >= songfile::kRowBytes && offset <= song.length - songfile::kRowBytes) {
        const std::uint8_t* bytes = song.data + offset;
        for (int voice = 0; voice < 4; ++voice) FUZZ_CHECK(row.periods[voice] == bytes[voice]);
        FUZZ_CHECK(row.duration == WordAt(bytes + 4));
    } else {
        FUZZ_CHECK(row.duration == 0);
        for (int voice = 0; voice < 4; ++voice) FUZZ_CHECK(row.periods[voice] == 0);
    }
    return row;
}

// Plays the song through the engine the player uses, checking each row
// against the block's bytes and the timeline against the ticks played; the
// checks keep the walk from being optimised away.
void CheckPlay(const songfile::SongView& song) {
    playback::SongPlayer player = playback::MakeSongPlayer(song);
    const playback::SongTimeline& timeline = player.timeline;
    for (const playback::TimelineEntry& entry : timeline.entries) {
        const std::size_t position = song.orderList + entry.orderIndex * songfile::kOrderEntryBytes;
        // The list ends at the block's end at the latest, so the walk of
        // the order list is bounded by the block itself.
        FUZZ_CHECK(position + songfile::kOrderEntryBytes <= song.length);
        FUZZ_CHECK(CheckedEntry(song, position) == entry.sectionOffset);
        FUZZ_CHECK(entry.rows >= 1 && entry.ticks >= entry.rows);
    }
    std::size_t rowsPlayed = 0;
    std::uint64_t ticksPlayed = 0;
    // Long rows are skipped over to their last tick.
    while (rowsPlayed < kMaxWalkedRows) {
        // The mapping both ways, at the first rows and then now and then:
        // a song of many rows is played to its end fast.
        if (rowsPlayed < 64 || rowsPlayed % 1024 == 0) {
            const std::uint64_t tick = playback::TickAtPosition(timeline, player.position);
            FUZZ_CHECK(tick == ticksPlayed);
            const playback::SongPosition at = playback::PositionAtTick(timeline, tick);
            FUZZ_CHECK(at.entry == player.position.entry && at.row == player.position.row &&
                       at.tick == player.position.tick);
        }
        const playback::PlayedTick played = playback::PlayTick(player);
        if (played.ended) break;
        FUZZ_CHECK(played.rowStarted);
        ++ticksPlayed;
        ++rowsPlayed;
        const playback::RowStart& row = played.row;
        const songfile::SongRow stored =
            CheckedRow(song, row.sectionOffset + row.rowIndex * songfile::kRowBytes);
        FUZZ_CHECK(stored.duration == row.duration && row.duration != 0);
        for (int voice = 0; voice < 4; ++voice) {
            FUZZ_CHECK(stored.periods[voice] == row.periods[voice]);
            const int rate = row.rates[voice];
            FUZZ_CHECK(rate == playback::RateForPeriod(row.periods[voice]));
            FUZZ_CHECK(rate == playback::kSilentRate || (rate >= 3921 && rate <= 1000000));
        }
        if (row.duration > 1) {
            // On to the row's last tick (a seek there now and then).
            if (rowsPlayed % 1024 == 1) {
                playback::SeekToTick(player, ticksPlayed + row.duration - 2);
            } else {
                player.position.tick = row.duration - 1u;
            }
            ticksPlayed += row.duration - 2;
            FUZZ_CHECK(!playback::PlayTick(player).rowStarted);
            ++ticksPlayed;
        }
    }
    if (rowsPlayed < kMaxWalkedRows) {
        FUZZ_CHECK(rowsPlayed == timeline.rows && ticksPlayed == timeline.totalTicks);
        return;
    }
    // The last tick of a long song, reached by seeking: its last row.
    playback::SeekToTick(player, timeline.totalTicks - 1);
    const playback::SongPosition last = player.position;
    FUZZ_CHECK(last.entry + 1 == timeline.entries.size());
    FUZZ_CHECK(last.row + 1 == timeline.entries.back().rows);
    FUZZ_CHECK(playback::TickAtPosition(timeline, last) == timeline.totalTicks - 1);
    playback::PlayTick(player);
    FUZZ_CHECK(playback::AtEnd(player));
}

// Each order entry's rows, up to kMaxWalkedRows of them in all.
std::vector<std::uint64_t> RowsAsPlayed(const songfile::SongView& song) {
    std::vector<std::uint64_t> rows;
    for (std::size_t at = song.orderList; rows.size() < kMaxWalkedRows; at += songfile::kOrderEntryBytes) {
        const std::uint16_t offset = songfile::OrderEntryAt(song, at);
        if (offset == 0) break;
        rows.push_back(UINT64_MAX);  // an entry starts
        for (std::size_t row = offset; rows.size() < kMaxWalkedRows; row += songfile::kRowBytes) {
            const songfile::SongRow played = songfile::RowAt(song, row);
            if (played.duration == 0) break;
            std::uint64_t packed = played.duration;
            for (std::uint8_t period : played.periods) packed = packed << 8 | period;
            rows.push_back(packed);
        }
    }
    return rows;
}

// The song's text compiles to a song that plays the same rows, with the
// same texts, name and comment.
void CheckText(const songfile::TiProgramFile& file, const songfile::SongView& song) {
    const fenk::Result<songtext::WrittenText> written = songtext::WriteSongText(file, song, {"fuzz.8xp", "FUZZ"});
    if (!written.ok()) return;  // it would not fit a program
    const songtext::CompileResult compiled = songtext::CompileSongText(written.value.text);
    FUZZ_CHECK(compiled.ok);
    const fenk::Result<songtext::ProgramFile> built = songtext::BuildProgramFile(compiled);
    FUZZ_CHECK(built.ok());
    const songfile::ReadResult back = songfile::ReadTiProgramBytes(built.value.file.data(), built.value.file.size());
    FUZZ_CHECK(back.ok());
    const songfile::ParseResult again = songfile::ParseSong(back.value.data.data(), back.value.data.size());
    FUZZ_CHECK(again.ok());
    FUZZ_CHECK(songfile::TitleText(again.value) == songfile::TitleText(song));
    FUZZ_CHECK(songfile::ArtistText(again.value) == songfile::ArtistText(song));
    FUZZ_CHECK(songfile::AlbumText(again.value) == songfile::AlbumText(song));
    FUZZ_CHECK(songfile::CommentText(back.value) == songfile::CommentText(file));
    FUZZ_CHECK(songfile::NameText(file).empty() || songfile::NameText(back.value) == songfile::NameText(file));
    FUZZ_CHECK(RowsAsPlayed(again.value) == RowsAsPlayed(song));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const songfile::ReadResult result = songfile::ReadTiProgramBytes(data, size);
    CheckReadAgainstInput(result, data, size);
    if (result.failure != songfile::ReadFailure::None) return 0;

    const std::vector<std::uint8_t>& block = result.value.data;
    const songfile::ParseResult parsed = songfile::ParseSong(block.data(), block.size());
    CheckParse(parsed, block.data(), block.size());
    if (!parsed.ok()) return 0;

    CheckPlay(parsed.value);
    CheckText(result.value, parsed.value);
    return 0;
}
