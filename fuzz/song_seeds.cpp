// Writes the seed inputs of the song fuzz target: valid songs of several
// shapes, and program files whose song blocks are malformed in the ways the
// bounded accessors must survive. Usage: fuzz_song_seeds FOLDER
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "songfile/songfile.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

songfile::SongRow Row(int p0, int p1, int p2, int p3, int duration) {
    songfile::SongRow row;
    row.periods[0] = static_cast<std::uint8_t>(p0);
    row.periods[1] = static_cast<std::uint8_t>(p1);
    row.periods[2] = static_cast<std::uint8_t>(p2);
    row.periods[3] = static_cast<std::uint8_t>(p3);
    row.duration = static_cast<std::uint16_t>(duration);
    return row;
}

Bytes ProgramFile(const Bytes& body, std::uint8_t type = 0x05) {
    songfile::TiProgramSpec spec;
    spec.name = "SEED";
    spec.comment = "fuzz seed";
    spec.type = type;
    spec.body = body;
    return songfile::BuildTiProgramFile(spec).value;
}

Bytes SongBody(const songfile::SongSource& source) {
    songfile::BuildSongResult built = songfile::BuildSong(source);
    if (!built.ok()) {
        std::fprintf(stderr, "seed song rejected: %s\n", built.reason.c_str());
        std::exit(1);
    }
    return built.value.body;
}

// A raw block: signature, three texts, then `rest` as it is.
Bytes RawBody(const Bytes& rest) {
    Bytes body = {'F', 'E', 'N', 'K', '1', 0, 'T', 0, 'A', 0, 'B', 0};
    body.insert(body.end(), rest.begin(), rest.end());
    return body;
}

std::vector<fuzz_support::Seed> SongSeeds() {
    std::vector<fuzz_support::Seed> seeds;

    songfile::SongSource empty;
    empty.title = "Empty";
    seeds.push_back({"empty-order", ProgramFile(SongBody(empty))});

    songfile::SongSource small;
    small.title = "Small";
    small.artist = "Fenk";
    small.album = "Seeds";
    small.sections = {{Row(100, 0, 0, 0, 20), Row(90, 80, 70, 60, 10)},
                      {Row(1, 255, 0, 128, 1)},
                      {}};
    small.order = {0, 1, 0, 2, 1};
    const Bytes smallBody = SongBody(small);
    seeds.push_back({"small", ProgramFile(smallBody)});
    seeds.push_back({"small-protected", ProgramFile(smallBody, 0x06)});

    songfile::SongSource extremes;
    extremes.title = std::string(60, 't');
    extremes.sections = {{Row(0, 0, 0, 0, 65535), Row(255, 255, 255, 255, 1),
                          Row(1, 1, 1, 1, 65535)}};
    extremes.order = {0, 0, 0};
    seeds.push_back({"extremes", ProgramFile(SongBody(extremes))});

    songfile::SongSource longSection;
    longSection.title = "Long";
    longSection.sections.resize(2);
    for (int i = 0; i < 200; ++i) {
        longSection.sections[0].push_back(Row(i % 256, (i * 7) % 256, 0, 50, 1 + i));
    }
    longSection.sections[1] = {Row(10, 20, 30, 40, 3)};
    for (int i = 0; i < 30; ++i) longSection.order.push_back(i % 2);
    seeds.push_back({"long-section", ProgramFile(SongBody(longSection))});

    // A whole file cut inside its block, and inside the header.
    Bytes cut = ProgramFile(smallBody);
    cut.resize(cut.size() - 20);
    seeds.push_back({"cut-in-block", cut});
    Bytes cutHeader = ProgramFile(smallBody);
    cutHeader.resize(71);
    seeds.push_back({"cut-in-length", cutHeader});

    // Order list without its 0 entry: it runs to the end of the block.
    seeds.push_back({"order-unended", ProgramFile(RawBody({0x0C, 0x00, 0x0E, 0x00}))});
    // Entries pointing outside the block, at its last bytes, at odd places.
    seeds.push_back({"order-outside",
                     ProgramFile(RawBody({0xFF, 0xFF, 0x20, 0x00, 0x13, 0x00, 0x01, 0x00,
                                          0x00, 0x00, 5, 6, 7, 8, 9}))});
    // A section whose rows run past the end of the block.
    seeds.push_back({"rows-past-end",
                     ProgramFile(RawBody({0x0E, 0x00, 0x00, 0x00, 10, 20, 30, 40, 5, 0,
                                          11, 22, 33, 44, 6}))});
    // Texts without their NULs, and a block that is not a song at all.
    seeds.push_back({"text-unended",
                     ProgramFile(Bytes{'F', 'E', 'N', 'K', '1', 0, 'T', 0, 'A'})});
    seeds.push_back({"not-a-song", ProgramFile(Bytes{0xBB, 0x6D, 0xC9})});

    return seeds;
}

}  // namespace

int main(int argc, char** argv) { return fuzz_support::WriteSeeds(argc, argv, ".8xp", SongSeeds); }
