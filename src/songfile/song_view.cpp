// Checking a song block and reading it through bounded accessors.
#include "songfile/songfile.h"

#include <cassert>
#include <cstring>
#include <string>

#include "songfile/little_endian.h"

namespace songfile {
namespace {

constexpr std::size_t kTitleOffset = kSongSignatureBytes + 1;  // after byte 5

// The offset of the first NUL at or after `offset`, or `length` when the
// block has none there.
std::size_t FindNul(const std::uint8_t* data, std::size_t length,
                    std::size_t offset) {
    if (offset >= length) return length;
    const void* nul = std::memchr(data + offset, 0, length - offset);
    if (nul == nullptr) return length;
    return static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - data);
}

// The text at `offset` up to its NUL, never past the block's end, so a view
// that was not made by ParseSong still cannot read outside the block.
std::string TextAt(const SongView& song, std::size_t offset) {
    std::size_t end = FindNul(song.data, song.length, offset);
    if (end <= offset) return std::string();
    return std::string(reinterpret_cast<const char*>(song.data) + offset,
                       end - offset);
}

}  // namespace

ParseResult ParseSong(const std::uint8_t* data, std::size_t length) {
    assert(data != nullptr || length == 0);
    const std::string signature(kSongSignature);
    if (length < kSongSignatureBytes) {
        return fenk::Failed<SongView>(ParseFailure::TooShort,
                                      "the data block holds " + std::to_string(length) +
                                          " bytes, too few for the signature " + signature);
    }
    if (std::memcmp(data, kSongSignature, kSongSignatureBytes) != 0) {
        return fenk::Failed<SongView>(ParseFailure::NoSignature,
                                      "the data block does not start with the signature " + signature);
    }
    const auto notEnded = [] {
        return fenk::Failed<SongView>(ParseFailure::TextNotEnded,
                                      "the title, artist or album has no NUL before the end of the data block");
    };

    // Title, artist and album follow each other, each ended by its NUL;
    // a text whose NUL is missing would run off the block.
    SongView view;
    view.data = data;
    view.length = length;
    view.title = kTitleOffset;
    std::size_t end = FindNul(data, length, view.title);
    if (end == length) return notEnded();
    view.artist = end + 1;
    end = FindNul(data, length, view.artist);
    if (end == length) return notEnded();
    view.album = end + 1;
    end = FindNul(data, length, view.album);
    if (end == length) return notEnded();
    view.orderList = end + 1;  // may equal length: the list is then empty
    return fenk::Succeeded<SongView, ParseFailure>(view);
}

std::string TitleText(const SongView& song) { return TextAt(song, song.title); }
std::string ArtistText(const SongView& song) { return TextAt(song, song.artist); }
std::string AlbumText(const SongView& song) { return TextAt(song, song.album); }

std::uint16_t OrderEntryAt(const SongView& song, std::size_t position) {
    if (song.length < 2 || position > song.length - 2) return 0;
    return WordAt(song.data + position);
}

SongRow RowAt(const SongView& song, std::size_t offset) {
    SongRow row;
    if (song.length < kRowBytes || offset > song.length - kRowBytes) return row;
    const std::uint8_t* bytes = song.data + offset;
    for (int voice = 0; voice < kVoices; ++voice) row.periods[voice] = bytes[voice];
    row.duration = WordAt(bytes + 4);
    return row;
}

}  // namespace songfile
