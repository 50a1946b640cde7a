#include "tests/link/large_song.h"

namespace link_test {

test_support::Bytes LargeSong() {
    test_support::SongParts song;
    song.title = "Large";
    song.artist = "The link tests";
    song.name = "LARGE";
    for (int section = 0; section < 8; ++section) {
        std::vector<songfile::SongRow> rows;
        for (int row = 0; row < 500; ++row) {
            rows.push_back(test_support::Row(static_cast<std::uint8_t>(1 + (row * 7 + section) % 255),
                                             static_cast<std::uint8_t>((row * 3) % 256), 0,
                                             static_cast<std::uint8_t>(1 + section),
                                             static_cast<std::uint16_t>(1 + row)));
        }
        song.sections.push_back(rows);
        song.order.push_back(static_cast<std::size_t>(section));
    }
    return test_support::SongFile(song);
}

}  // namespace link_test
