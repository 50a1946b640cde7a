// The browser's module: the player's own song reader, compiler, engine,
// tone output and sound library (offline), behind the calls of
// web_module.h. Each call's failure comes back as a value and a text;
// nothing here throws (the module is built without exceptions).
#include "web/engine/web_module.h"

#include <sndfile.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "fsound_errors.h"
#include "fsound_offline.h"
#include "compose/live_session.h"
#include "compose/live_song.h"
#include "compose/midi_export.h"
#include "compose/midi_file.h"
#include "compose/midi_import.h"
#include "compose/notes.h"
#include "playback/playback.h"
#include "compose/song_text.h"
#include "songfile/songfile.h"

namespace {

using nlohmann::json;

constexpr int kMixRate = 32000;
constexpr int kMaxStreamFrames = 4096;
constexpr std::size_t kMaxEventsPerRender = kMaxStreamFrames;  // one per tick at most
// A roll's rows stop here whatever budget is asked: a song whose order list
// names long sections thousands of times would otherwise fill the memory.
constexpr int kMaxRollRows = 200000;
constexpr int kRollRowInts = 6;
// Frames mixed per call while rendering a WAV, as fenk-render's clock does.
constexpr int kWavChunkFrames = 4096;
// A note typed while the song is not playing sounds this long (300 ms).
constexpr int kPreviewTicks = 60;
// The stream's song is only ever a program file; the name is for messages.
const std::string kStreamSongName = "song.8xp";

// A song opened on a handle: the .8xp it is, and for a text what the
// tracker asks of its lines. Never moved once made (the view points into
// read's bytes).
struct OpenSong {
    bool fromText = false;
    std::vector<std::uint8_t> program;  // the .8xp
    songfile::ReadResult read;          // program read; its data block is the song
    songfile::SongView song;            // over read.value.data
    // The text's section names by the offset the compiler gave each.
    std::vector<std::string> sectionNames;
    std::vector<std::uint16_t> sectionOffsets;
    // Where the text's parts stand (empty for a program file).
    std::vector<songtext::SourceSection> sourceSections;
    std::vector<int> orderLines;
    std::map<std::string, int> headerLines;
};

struct Module {
    std::vector<std::uint8_t> input;
    std::string result;
    std::vector<std::uint8_t> output;
    std::vector<std::uint8_t> sample;  // the voice sample file's bytes
    std::map<int, std::unique_ptr<OpenSong>> songs;
    int nextHandle = 1;

    // The stream: its own live session over the sound library, offline.
    bool streaming = false;
    int streamRate = kMixRate;
    std::uint64_t streamTicks = 0;   // ticks played since the stream started
    std::uint64_t streamFrames = 0;  // frames mixed since then
    live::Session session;
    playback::ToneOutput output_;
    std::vector<float> audio = std::vector<float>(2 * kMaxStreamFrames);
    std::vector<web::RowEvent> events = std::vector<web::RowEvent>(kMaxEventsPerRender);
    web::StreamState state{};
};

Module& TheModule() {
    static Module module;
    return module;
}

// The first `size` bytes of the input buffer (no more than it holds).
std::vector<std::uint8_t> InputBytes(std::size_t size) {
    const std::vector<std::uint8_t>& input = TheModule().input;
    return std::vector<std::uint8_t>(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(
                                                        std::min(size, input.size())));
}

int Answer(const json& value, bool ok) {
    TheModule().result = value.dump(-1, ' ', false, json::error_handler_t::replace);
    return ok ? 1 : 0;
}

int Refuse(const std::string& error) { return Answer({{"ok", false}, {"error", error}}, false); }

// The answer of the calls that only take something: the reason as plain
// text (the stream's calls run on the audio thread, which writes no JSON).
int Fail(const std::string& reason) {
    TheModule().result = reason;
    return 0;
}

OpenSong* SongOf(int handle) {
    Module& module = TheModule();
    const auto found = module.songs.find(handle);
    return found == module.songs.end() ? nullptr : found->second.get();
}

int RateFor(int flags) {
    return (flags & web::kFlagLowQuality) != 0 ? playback::kLowQualityMixRate : kMixRate;
}

playback::PlaybackSettings SettingsFor(int flags) {
    playback::PlaybackSettings settings;
    settings.stopNotesEachRow = (flags & web::kFlagExtended) == 0;
    settings.stereoPanning = (flags & web::kFlagMono) == 0;
    settings.mixRate = RateFor(flags);
    return settings;
}

// The sound library started offline with the sample loaded four times.
bool StartOffline(playback::ToneOutput& output, int rate, const std::vector<std::uint8_t>& sample,
                  std::string& error) {
    if (!FSOUND_Offline_Enable(1) || !playback::Start(output, rate)) {
        error = std::string("cannot start the sound library: ") +
                FSOUND_GetErrorText(FSOUND_GetError());
        return false;
    }
    if (sample.empty() ||
        !playback::LoadVoiceSamplesFromMemory(output, sample.data(), static_cast<int>(sample.size()))) {
        error = std::string("the sample did not load: ") +
                (sample.empty() ? "there is none" : FSOUND_GetErrorText(FSOUND_GetError()));
        playback::Shutdown(output);
        return false;
    }
    return true;
}

// The order entries that play, each with its section's name in the text.
json Entries(const OpenSong& song, const playback::SongTimeline& timeline) {
    json entries = json::array();
    for (const playback::TimelineEntry& played : timeline.entries) {
        std::string name;
        for (std::size_t k = 0; k < song.sectionOffsets.size() && k < song.sectionNames.size(); ++k)
            if (song.sectionOffsets[k] == played.sectionOffset) name = song.sectionNames[k];
        entries.push_back({{"order", played.orderIndex}, {"section", played.sectionOffset},
                           {"name", name}, {"start", played.startTick},
                           {"ticks", played.ticks}, {"rows", played.rows}});
    }
    return entries;
}

// Where the text's sections, rows, order and header lines stand, for the
// page's tracker, which edits the text line by line.
json SourceLayout(const std::vector<songtext::SourceSection>& sourceSections,
                  const std::vector<int>& orderLines, const std::map<std::string, int>& headerLines) {
    json sections = json::array();
    for (const songtext::SourceSection& section : sourceSections) {
        json rows = json::array();
        for (const songfile::SongRow& row : section.rows)
            rows.push_back({row.periods[0], row.periods[1], row.periods[2], row.periods[3], row.duration});
        sections.push_back({{"name", section.name}, {"line", section.line}, {"endLine", section.endLine},
                            {"rowLines", section.rowLines}, {"rows", std::move(rows)}});
    }
    return {{"sections", std::move(sections)}, {"orderLines", orderLines}, {"headerLines", headerLines}};
}

// fenk-render's clock, into a WAV in memory: each wait mixes exactly the
// frames that bring the total to (all ms so far) x rate / 1000.
class WavClock : public playback::Clock {
public:
    WavClock(SNDFILE* file, int rate) : file_(file), rate_(rate), buffer_(2 * kWavChunkFrames) {}
    bool StopRequested() override { return failed_; }
    void SleepMs(unsigned milliseconds) override {
        elapsedMs_ += milliseconds;
        const std::uint64_t target = elapsedMs_ * static_cast<std::uint64_t>(rate_) / 1000;
        while (rendered_ < target && !failed_) {
            const std::uint64_t due = target - rendered_;
            const int frames = static_cast<int>(std::min<std::uint64_t>(due, kWavChunkFrames));
            failed_ = FSOUND_Offline_Render(buffer_.data(), frames) != frames ||
                      sf_writef_float(file_, buffer_.data(), frames) != frames;
            rendered_ += static_cast<std::uint64_t>(frames);
        }
    }
    bool Failed() const { return failed_; }

private:
    SNDFILE* file_;
    int rate_;
    std::vector<float> buffer_;
    std::uint64_t elapsedMs_ = 0;
    std::uint64_t rendered_ = 0;
    bool failed_ = false;
};

// A growing file in memory for libsndfile's virtual I/O (the header is
// written again at the end, so it seeks).
struct MemoryFile {
    std::vector<std::uint8_t> bytes;
    sf_count_t position = 0;
};

sf_count_t MemoryLength(void* user) {
    return static_cast<sf_count_t>(static_cast<MemoryFile*>(user)->bytes.size());
}
sf_count_t MemorySeek(sf_count_t offset, int whence, void* user) {
    MemoryFile& file = *static_cast<MemoryFile*>(user);
    const sf_count_t base = whence == SEEK_CUR   ? file.position
                            : whence == SEEK_END ? static_cast<sf_count_t>(file.bytes.size())
                                                 : 0;
    if (base + offset < 0) return -1;
    file.position = base + offset;
    return file.position;
}
sf_count_t MemoryRead(void* destination, sf_count_t count, void* user) {
    MemoryFile& file = *static_cast<MemoryFile*>(user);
    const sf_count_t size = static_cast<sf_count_t>(file.bytes.size());
    const sf_count_t taken = std::max<sf_count_t>(0, std::min(count, size - file.position));
    if (taken > 0) std::memcpy(destination, file.bytes.data() + file.position, static_cast<std::size_t>(taken));
    file.position += taken;
    return taken;
}
sf_count_t MemoryWrite(const void* source, sf_count_t count, void* user) {
    MemoryFile& file = *static_cast<MemoryFile*>(user);
    const std::size_t end = static_cast<std::size_t>(file.position + count);
    if (end > file.bytes.size()) file.bytes.resize(end);
    std::memcpy(file.bytes.data() + file.position, source, static_cast<std::size_t>(count));
    file.position += count;
    return count;
}
sf_count_t MemoryTell(void* user) { return static_cast<MemoryFile*>(user)->position; }


std::int32_t MutedMask(const playback::SongPlayer& player) {
    std::int32_t mask = 0;
    for (int voice = 0; voice < songfile::kVoices; ++voice)
        if (player.muted[voice]) mask |= 1 << voice;
    return mask;
}

void UpdateStreamState(Module& module) {
    const playback::SongPlayer& player = module.session.player;
    web::StreamState& state = module.state;
    switch (live::StateOf(module.session)) {
        case live::State::Playing: state.state = 0; break;
        case live::State::Paused: state.state = 1; break;
        case live::State::AtEnd: state.state = 2; break;
    }
    state.entry = static_cast<std::int32_t>(player.position.entry);
    state.songTick = static_cast<std::int32_t>(playback::TickAtPosition(player.timeline, player.position));
    state.loopEntry = player.loopEntry ? 1 : 0;
    state.mutedMask = MutedMask(player);
    state.rate = module.streamRate;
}

// The stream's clock: calls take effect at the render position, which is
// the tick's first frame.
class StreamClock : public playback::Clock {
public:
    bool StopRequested() override { return false; }
    void SleepMs(unsigned) override {}
};

// The stream's song: a program file's bytes, read (never compiled).
live::LoadResult StreamSong(std::size_t size) {
    const std::vector<std::uint8_t> program = InputBytes(size);
    if (!songfile::HasTiSignature(program)) return fenk::Failed<live::Song>(fenk::Failure::Failed, "the stream plays only program files");
    return live::LoadSongBytes(kStreamSongName, program);
}

}  // namespace

extern "C" {

std::uint8_t* fenk_input(std::size_t size) {
    std::vector<std::uint8_t>& input = TheModule().input;
    input.assign(size, 0);
    return input.data();
}

const char* fenk_result() { return TheModule().result.c_str(); }
std::size_t fenk_result_length() { return TheModule().result.size(); }
const std::uint8_t* fenk_output() { return TheModule().output.data(); }
std::size_t fenk_output_length() { return TheModule().output.size(); }

int fenk_song_open(std::size_t size, int asProgram) {
    Module& module = TheModule();
    std::vector<std::uint8_t> source = InputBytes(size);
    auto opened = std::make_unique<OpenSong>();
    json answer;
    json warnings = json::array();
    // A MIDI file is imported as fenk-make imports it; the page then edits
    // the song text the import wrote.
    if (asProgram == 0 && midi::IsMidiFile(source)) {
        const fenk::Result<midiimport::Import> imported = midiimport::ImportMidiFile(source, {});
        if (!imported.ok()) {
            return Answer({{"ok", false}, {"kind", "text"}, {"lines", ""},
                           {"errors", json::array({imported.reason})}, {"warnings", warnings}}, false);
        }
        source.assign(imported.value.text.begin(), imported.value.text.end());
        answer["text"] = imported.value.text;
        answer["summary"] = imported.value.summary;
    }
    if (asProgram != 0 || songfile::HasTiSignature(source)) {
        answer["kind"] = "program";
        opened->program = std::move(source);
    } else {
        answer["kind"] = "text";
        songtext::CompileResult compiled = songtext::CompileSongText(std::string(source.begin(), source.end()));
        for (const songtext::Message& warning : compiled.warnings)
            warnings.push_back(std::to_string(warning.line) + ": warning: " + warning.text);
        json errors = json::array();
        for (const songtext::Message& mistake : compiled.errors)
            errors.push_back(std::to_string(mistake.line) + ": " + mistake.text);
        if (!compiled.ok) {
            return Answer({{"ok", false}, {"kind", "text"}, {"lines", ""}, {"errors", errors},
                           {"warnings", warnings}}, false);
        }
        fenk::Result<songtext::ProgramFile> built = songtext::BuildProgramFile(compiled);
        if (!built.ok()) {
            return Answer({{"ok", false}, {"kind", "text"}, {"lines", ""},
                           {"errors", json::array({built.reason})}, {"warnings", warnings}}, false);
        }
        opened->fromText = true;
        opened->program = std::move(built.value.file);
        opened->sectionNames = std::move(compiled.sectionNames);
        opened->sectionOffsets = std::move(built.value.sectionOffsets);
        opened->sourceSections = std::move(compiled.sourceSections);
        opened->orderLines = std::move(compiled.orderLines);
        opened->headerLines = std::move(compiled.headerLines);
    }
    opened->read = songfile::ReadTiProgramBytes(opened->program.data(), opened->program.size());
    const songfile::SongFileReport report = songfile::ReportSongFile(opened->read);
    if (!report.ok) {
        return Answer({{"ok", false}, {"kind", answer["kind"]}, {"lines", report.text},
                       {"errors", json::array()}, {"warnings", warnings}}, false);
    }
    // The report's view is over opened->read's bytes, which stay where they are.
    opened->song = report.song;
    const playback::SongTimeline timeline = playback::MeasureSong(opened->song);
    std::size_t rows = 0;
    for (const playback::TimelineEntry& entry : timeline.entries) rows += entry.rows;
    const int handle = module.nextHandle++;
    answer["ok"] = true;
    answer["handle"] = handle;
    answer["lines"] = report.text;
    answer["title"] = songfile::TitleText(opened->song);
    answer["artist"] = songfile::ArtistText(opened->song);
    answer["album"] = songfile::AlbumText(opened->song);
    answer["warnings"] = warnings;
    answer["orderCount"] = timeline.orderCount;
    answer["totalTicks"] = timeline.totalTicks;
    answer["rowCount"] = rows;
    answer["bodyBytes"] = opened->read.value.data.size();
    answer["maxBodyBytes"] = songfile::kMaxProgramBody;
    answer["entries"] = Entries(*opened, timeline);
    module.songs[handle] = std::move(opened);
    return Answer(answer, true);
}

int fenk_song_close(int handle) {
    Module& module = TheModule();
    if (module.songs.erase(handle) == 0) return Fail("no song is open on that handle");
    return 1;
}

int fenk_song_program(int handle) {
    const OpenSong* song = SongOf(handle);
    if (song == nullptr) return Fail("no song is open on that handle");
    TheModule().output = song->program;
    return 1;
}

int fenk_song_layout(int handle) {
    const OpenSong* song = SongOf(handle);
    if (song == nullptr) return Refuse("no song is open on that handle");
    if (!song->fromText) return Refuse("a program file has no text: ask for its song text");
    return Answer({{"ok", true}, {"layout", SourceLayout(song->sourceSections, song->orderLines, song->headerLines)}},
                  true);
}

int fenk_song_roll(int handle, int maxRows) {
    const OpenSong* song = SongOf(handle);
    if (song == nullptr) return Refuse("no song is open on that handle");
    const std::size_t budget = static_cast<std::size_t>(std::clamp(maxRows, 0, kMaxRollRows));
    playback::SongPlayer player = playback::MakeSongPlayer(song->song);
    const playback::SongTimeline& timeline = player.timeline;
    std::vector<std::int32_t> rows;
    bool cut = false;
    for (std::size_t entry = 0; entry < timeline.entries.size() && !cut; ++entry) {
        const playback::TimelineEntry& played = timeline.entries[entry];
        std::uint64_t tick = played.startTick;
        for (std::size_t row = 0; row < played.rows; ++row) {
            // An int32 tick reaches 124 days of song: a roll stops there too.
            if (rows.size() >= budget * kRollRowInts || tick > static_cast<std::uint64_t>(INT32_MAX)) {
                cut = true;
                break;
            }
            playback::SeekTo(player, entry, row);
            const playback::RowStart start = playback::CurrentRow(player);
            rows.insert(rows.end(), {static_cast<std::int32_t>(tick), static_cast<std::int32_t>(entry),
                                     start.periods[0], start.periods[1], start.periods[2], start.periods[3]});
            tick += start.duration;
        }
    }
    std::vector<std::uint8_t>& output = TheModule().output;
    output.resize(rows.size() * sizeof(std::int32_t));
    if (!rows.empty()) std::memcpy(output.data(), rows.data(), output.size());
    return Answer({{"ok", true}, {"rows", rows.size() / kRollRowInts}, {"rowsCut", cut}}, true);
}

int fenk_song_text(int handle) {
    const OpenSong* song = SongOf(handle);
    if (song == nullptr) return Refuse("no song is open on that handle");
    fenk::Result<songtext::WrittenText> written =
        songtext::WriteSongText(song->read.value, song->song, {"a song file", "SONG"});
    if (!written.ok()) return Refuse(written.reason);
    json answer = {{"ok", true}, {"text", written.value.text}, {"warnings", written.value.warnings}};
    // The writer's text always compiles; its layout is for the tracker.
    const songtext::CompileResult compiled = songtext::CompileSongText(written.value.text);
    if (compiled.ok) answer["layout"] = SourceLayout(compiled.sourceSections, compiled.orderLines, compiled.headerLines);
    return Answer(answer, true);
}

int fenk_song_midi(int handle) {
    const OpenSong* song = SongOf(handle);
    if (song == nullptr) return Refuse("no song is open on that handle");
    fenk::Result<midiexport::Export> exported = midiexport::ExportMidi(song->song);
    if (!exported.ok()) return Refuse(exported.reason);
    TheModule().output = std::move(exported.value.bytes);
    return Answer({{"ok", true}, {"notes", exported.value.notes}}, true);
}

int fenk_set_sample(std::size_t size) {
    Module& module = TheModule();
    std::vector<std::uint8_t> sample = InputBytes(size);
    // The sound library is one: it is tried while no stream uses it.
    if (module.streaming) return Fail("the stream is playing: stop it first");
    playback::ToneOutput output = playback::MakeToneOutput(playback::FsoundLibrary(), SettingsFor(0));
    std::string error;
    if (!StartOffline(output, kMixRate, sample, error)) return Fail(error);
    playback::Shutdown(output);
    module.sample = std::move(sample);
    return 1;
}

int fenk_song_render_wav(int handle, int flags, int mutedMask) {
    Module& module = TheModule();
    const OpenSong* song = SongOf(handle);
    if (song == nullptr) return Refuse("no song is open on that handle");
    if (module.streaming) return Refuse("the stream is playing");
    const playback::PlaybackSettings settings = SettingsFor(flags);
    playback::ToneOutput output = playback::MakeToneOutput(playback::FsoundLibrary(), settings);
    std::string error;
    if (!StartOffline(output, settings.mixRate, module.sample, error)) return Refuse(error);

    // fenk-render's file: 16-bit WAV, clipped as it is there.
    MemoryFile memory;
    SF_VIRTUAL_IO io{MemoryLength, MemorySeek, MemoryRead, MemoryWrite, MemoryTell};
    SF_INFO info{};
    info.samplerate = settings.mixRate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open_virtual(&io, SFM_WRITE, &info, &memory);
    if (file == nullptr) {
        playback::Shutdown(output);
        return Refuse(std::string("cannot write the WAV: ") + sf_strerror(nullptr));
    }
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);

    playback::SongPlayer player = playback::MakeSongPlayer(song->song);
    for (int voice = 0; voice < songfile::kVoices; ++voice) player.muted[voice] = (mutedMask >> voice & 1) != 0;
    WavClock clock(file, settings.mixRate);
    playback::SilentPrinter printer;
    playback::PlaySong(player, output, clock, printer);
    playback::Shutdown(output);
    const int closed = sf_close(file);
    if (clock.Failed() || closed != 0) return Refuse("the render failed");
    module.output = std::move(memory.bytes);
    return Answer({{"ok", true}}, true);
}

void fenk_stream_stop() {
    Module& module = TheModule();
    if (!module.streaming) return;
    playback::Shutdown(module.output_);
    module.streaming = false;
    module.state.eventCount = 0;
}

int fenk_stream_start(std::size_t size, int flags, int playing) {
    Module& module = TheModule();
    fenk_stream_stop();
    live::LoadResult loaded = StreamSong(size);
    if (!loaded.ok()) return Fail(loaded.reason);
    module.streamRate = RateFor(flags);
    module.output_ = playback::MakeToneOutput(playback::FsoundLibrary(), SettingsFor(flags));
    std::string error;
    if (!StartOffline(module.output_, module.streamRate, module.sample, error)) return Fail(error);
    module.session = live::Session();
    live::StartSession(module.session, kStreamSongName, std::move(loaded.value));
    module.session.endWaitTicks = playback::kEndWaitMilliseconds / songfile::kTickMilliseconds;
    module.session.player.paused = playing == 0 && !playback::AtEnd(module.session.player);
    module.streamTicks = 0;
    module.streamFrames = 0;
    module.streaming = true;
    module.state.eventCount = 0;
    UpdateStreamState(module);
    return 1;
}

int fenk_stream_render(int frames) {
    Module& module = TheModule();
    module.state.eventCount = 0;
    if (!module.streaming || frames <= 0) return 0;
    frames = std::min(frames, kMaxStreamFrames);
    StreamClock clock;
    int done = 0;
    std::size_t eventCount = 0;
    while (done < frames) {
        // The frame where the next tick begins.
        const std::uint64_t tickFrame = module.streamTicks * songfile::kTickMilliseconds *
                                        static_cast<std::uint64_t>(module.streamRate) / 1000;
        if (module.streamFrames == tickFrame) {
            const playback::SongPlayer& player = module.session.player;
            const playback::SongPosition before = player.position;
            playback::PlayedTick played;
            live::PlaySessionTick(module.session, module.output_, clock, &played);
            ++module.streamTicks;
            if (played.rowStarted && eventCount < module.events.size()) {
                web::RowEvent& event = module.events[eventCount++];
                event.frame = done;
                event.entry = static_cast<std::int32_t>(before.entry);
                event.orderIndex = static_cast<std::int32_t>(played.row.orderIndex);
                event.rowIndex = static_cast<std::int32_t>(played.row.rowIndex);
                event.sectionOffset = played.row.sectionOffset;
                event.songTick =
                    static_cast<std::int32_t>(playback::TickAtPosition(player.timeline, before));
                event.duration = played.row.duration;
                event.jumped = played.row.jumped ? 1 : 0;
            }
            continue;
        }
        const int chunk = static_cast<int>(std::min<std::uint64_t>(
            tickFrame - module.streamFrames, static_cast<std::uint64_t>(frames - done)));
        if (FSOUND_Offline_Render(module.audio.data() + 2 * done, chunk) != chunk) break;
        done += chunk;
        module.streamFrames += static_cast<std::uint64_t>(chunk);
    }
    UpdateStreamState(module);
    module.state.eventCount = static_cast<std::int32_t>(eventCount);
    return done;
}

const float* fenk_stream_audio() { return TheModule().audio.data(); }
const web::RowEvent* fenk_stream_events() { return TheModule().events.data(); }
const web::StreamState* fenk_stream_state() { return &TheModule().state; }

void fenk_stream_play(int playing) {
    Module& module = TheModule();
    if (!module.streaming) return;
    live::SetPlaying(module.session, module.output_, playing != 0);
    UpdateStreamState(module);
}

void fenk_stream_step(int step) {
    Module& module = TheModule();
    if (!module.streaming) return;
    live::StepEntry(module.session, module.output_, step);
    UpdateStreamState(module);
}

void fenk_stream_loop(int on) {
    Module& module = TheModule();
    if (!module.streaming) return;
    module.session.player.loopEntry = on != 0;
    UpdateStreamState(module);
}

int fenk_layout() {
    return Answer({{"maxStreamFrames", kMaxStreamFrames},
                   {"rowEventInts", sizeof(web::RowEvent) / sizeof(std::int32_t)},
                   {"rollRowInts", kRollRowInts},
                   {"maxRollRows", kMaxRollRows},
                   {"stateInts", sizeof(web::StreamState) / sizeof(std::int32_t)}},
                  true);
}

void fenk_stream_mutes(int mutedMask) {
    Module& module = TheModule();
    if (!module.streaming) return;
    bool muted[songfile::kVoices];
    for (int voice = 0; voice < songfile::kVoices; ++voice) muted[voice] = (mutedMask >> voice & 1) != 0;
    live::SetMutes(module.session, module.output_, muted);
    UpdateStreamState(module);
}

void fenk_stream_seek(int entry, int row) {
    Module& module = TheModule();
    if (!module.streaming || entry < 0 || row < 0 || module.session.player.timeline.entries.empty()) return;
    live::SeekToEntry(module.session, module.output_, static_cast<std::size_t>(entry), static_cast<std::size_t>(row));
    UpdateStreamState(module);
}

void fenk_stream_preview(int voice, int period) {
    Module& module = TheModule();
    if (!module.streaming || voice < 0 || voice >= songfile::kVoices || period < 1 || period > 255) return;
    live::PreviewNote(module.session, module.output_, voice, static_cast<std::uint8_t>(period), kPreviewTicks);
}

void fenk_stream_switches(int flags) {
    Module& module = TheModule();
    module.output_.stopNotesEachRow = (flags & web::kFlagExtended) == 0;
    module.output_.stereoPanning = (flags & web::kFlagMono) == 0;
}

int fenk_stream_reload(std::size_t size) {
    Module& module = TheModule();
    if (!module.streaming) return Fail("no stream is playing");
    live::LoadResult loaded = StreamSong(size);
    if (!loaded.ok()) return Fail(loaded.reason);
    live::ReloadWith(module.session, module.output_, std::move(loaded));
    UpdateStreamState(module);
    return 1;
}

}  // extern "C"

// -- the text format's facts and the tracker's section and order edits

extern "C" {

int fenk_text_facts() {
    json names = json::array();
    for (int key = 0; key < 128; ++key) names.push_back(notes::NoteName(key));
    return Answer({{"ok", true},
                   {"voiceColumnWidth", songtext::kVoiceColumnWidth},
                   {"orderNamesPerLine", songtext::kOrderNamesPerLine},
                   {"calculatorFreeBytes", songtext::kCalculatorFreeBytes},
                   {"maxBodyBytes", songfile::kMaxProgramBody},
                   {"noteNames", names}},
                  true);
}

int fenk_text_edit(std::size_t size) {
    // Fields apart by NUL bytes (a JSON reader would double the module's
    // weight for this one call): the edit, the text, then its arguments.
    const std::vector<std::uint8_t>& input = TheModule().input;
    std::vector<std::string> fields(1);
    for (std::size_t at = 0; at < std::min(size, input.size()); ++at) {
        if (input[at] == 0) fields.emplace_back();
        else fields.back() += static_cast<char>(input[at]);
    }
    if (fields.size() < 2) return Refuse("an edit is its name, the text and its arguments, apart by NUL bytes");
    const std::string& edit = fields[0];
    const std::string& text = fields[1];
    const std::vector<std::string> arguments(fields.begin() + 2, fields.end());
    const auto argument = [&](std::size_t k) { return k < arguments.size() ? arguments[k] : std::string(); };
    fenk::Result<std::string> edited;
    if (edit == "order") {
        edited = songtext::WithOrder(text, arguments);
    } else if (edit == "add" && arguments.size() >= 2) {
        edited = songtext::WithSectionAdded(text, arguments[0], arguments[1],
                                            std::vector<std::string>(arguments.begin() + 2, arguments.end()));
    } else if (edit == "rename") {
        edited = songtext::WithSectionRenamed(text, argument(0), argument(1));
    } else if (edit == "delete") {
        edited = songtext::WithSectionDeleted(text, argument(0));
    } else {
        return Refuse("no edit '" + edit + "' of those arguments");
    }
    if (!edited.ok()) return Refuse(edited.reason);
    return Answer({{"ok", true}, {"text", edited.value}}, true);
}

}  // extern "C"
