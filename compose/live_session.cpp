#include "compose/live_session.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace live {

namespace {

// What sounds now, mutes applied, from the start again.
void Resound(Session& session, playback::ToneOutput& output) {
    int rates[songfile::kVoices];
    std::copy(std::begin(session.sounding), std::end(session.sounding), rates);
    playback::ApplyMutes(session.player, rates);
    playback::RestartVoices(output, rates);
}

void Silence(playback::ToneOutput& output) {
    const int silent[songfile::kVoices] = {playback::kSilentRate, playback::kSilentRate, playback::kSilentRate,
                           playback::kSilentRate};
    playback::RestartVoices(output, silent);
}

// A row the player has just started. One reached by a seek or a reload
// sounds alone, at once; one played on to sounds as the player sounds it,
// at the moment it was meant to start.
void SoundRow(Session& session, playback::ToneOutput& output, const playback::RowStart& row,
              std::int64_t startNs) {
    for (int voice = 0; voice < songfile::kVoices; ++voice) {
        const int rate = playback::RateForPeriod(row.periods[voice]);
        if (row.jumped || output.stopNotesEachRow || rate != playback::kSilentRate)
            session.sounding[voice] = rate;
    }
    if (row.jumped) {
        Resound(session, output);
    } else {
        playback::SetVoices(output, row.rates, startNs);
    }
}

// Leaving the end while its wait still sounds the last row: that stops.
void LeaveTheEnd(Session& session, playback::ToneOutput& output) {
    if (!session.silencedAtEnd) Silence(output);
}

void GoToEnd(Session& session, playback::ToneOutput& output) {
    playback::SeekToEnd(session.player);
    Silence(output);
}

}  // namespace

void SeekToEntry(Session& session, playback::ToneOutput& output, std::size_t entry, std::size_t row) {
    if (StateOf(session) == State::AtEnd) {
        session.player.paused = true;
        LeaveTheEnd(session, output);
    }
    playback::SeekTo(session.player, entry, row);
}

void PreviewNote(Session& session, playback::ToneOutput& output, int voice, std::uint8_t period, unsigned ticks) {
    const bool playing = StateOf(session) == State::Playing;
    int rates[songfile::kVoices] = {playback::kSilentRate, playback::kSilentRate, playback::kSilentRate,
                                    playback::kSilentRate};
    if (playing) {
        std::copy(std::begin(session.sounding), std::end(session.sounding), rates);
        playback::ApplyMutes(session.player, rates);
    }
    rates[voice] = playback::RateForPeriod(period);
    playback::RestartVoices(output, rates);
    session.previewTicks = playing ? 0 : ticks;
}

State StateOf(const Session& session) {
    if (playback::AtEnd(session.player)) return State::AtEnd;
    return session.player.paused ? State::Paused : State::Playing;
}

void StartSession(Session& session, const std::string& path, Song song) {
    session.path = path;
    session.song = std::move(song);
    session.player = playback::MakeSongPlayer(View(session.song));
}

bool PlaySessionTick(Session& session, playback::ToneOutput& output, playback::Clock& clock,
                     playback::PlayedTick* tick) {
    const playback::PlayedTick played = playback::PlayTick(session.player);
    if (tick != nullptr) *tick = played;
    bool changed = false;
    if (played.rowStarted) {
        SoundRow(session, output, played.row, clock.RowStartNs());
        changed = true;
    }
    // A note previewed while nothing plays stops after its ticks.
    if (session.previewTicks > 0 && --session.previewTicks == 0 && StateOf(session) != State::Playing) {
        Silence(output);
    }
    // The last row has played out: it sounds on for the end wait, then
    // silence, once.
    if (!played.ended) {
        session.ticksAtEnd = 0;
        session.silencedAtEnd = false;
    } else if (!session.silencedAtEnd && session.ticksAtEnd++ >= session.endWaitTicks) {
        Silence(output);
        session.silencedAtEnd = true;
        changed = true;
    }
    return changed;
}

long long TicksBeforeNextSound(const Session& session) {
    const playback::SongPlayer& player = session.player;
    switch (StateOf(session)) {
        case State::Paused:
            return -1;
        case State::AtEnd:
            if (session.silencedAtEnd) return -1;
            return session.ticksAtEnd >= session.endWaitTicks ? 0 : session.endWaitTicks - session.ticksAtEnd;
        case State::Playing:
            break;
    }
    if (player.position.tick == 0) return 0;
    return static_cast<long long>(playback::CurrentRow(player).duration) - player.position.tick;
}

void SetPlaying(Session& session, playback::ToneOutput& output, bool playing) {
    playback::SongPlayer& player = session.player;
    const State state = StateOf(session);
    if (!playing) {
        if (state != State::Playing) return;
        player.paused = true;
        Silence(output);
    } else if (state == State::Paused) {
        player.paused = false;
        // A row begun sounds again; one not begun starts at the next tick.
        if (player.position.tick != 0) Resound(session, output);
    } else if (state == State::AtEnd && !player.timeline.entries.empty()) {  // from the top
        LeaveTheEnd(session, output);
        playback::SeekTo(player, 0);
        player.paused = false;
    }
}

void StepEntry(Session& session, playback::ToneOutput& output, int step) {
    playback::SongPlayer& player = session.player;
    const std::size_t entries = player.timeline.entries.size();
    const State state = StateOf(session);
    if (step > 0) {
        if (state == State::AtEnd) return;
        if (player.position.entry + 1 < entries) {
            SeekToEntry(session, output, player.position.entry + 1);
        } else {
            GoToEnd(session, output);
        }
    } else if (step < 0 && entries != 0) {
        SeekToEntry(session, output, state == State::AtEnd ? entries - 1
                        : player.position.entry == 0 ? 0
                                                     : player.position.entry - 1);
    }
}

bool HandleKey(Session& session, playback::ToneOutput& output, const KeyPress& key) {
    playback::SongPlayer& player = session.player;
    switch (key.key) {
    case Key::Escape:
        return false;
    case Key::Space:
        SetPlaying(session, output, StateOf(session) != State::Playing);
        return true;
    case Key::Right:
        StepEntry(session, output, 1);
        return true;
    case Key::Left:
        StepEntry(session, output, -1);
        return true;
    case Key::Home:
        if (!player.timeline.entries.empty()) SeekToEntry(session, output, 0);
        return true;
    case Key::Character:
        break;
    }
    if (key.character == 'q' || key.character == 'Q') return false;
    if (key.character == 'l' || key.character == 'L') player.loopEntry = !player.loopEntry;
    if (key.character >= '1' && key.character <= '4') {
        bool muted[songfile::kVoices];
        std::copy(std::begin(player.muted), std::end(player.muted), muted);
        muted[key.character - '1'] = !muted[key.character - '1'];
        SetMutes(session, output, muted);
    }
    return true;
}

void SetMutes(Session& session, playback::ToneOutput& output, const bool muted[songfile::kVoices]) {
    std::copy(muted, muted + 4, std::begin(session.player.muted));
    if (StateOf(session) == State::Playing) Resound(session, output);
}

void ReloadWith(Session& session, playback::ToneOutput& output, LoadResult loaded) {
    if (!loaded.ok()) {
        session.message = loaded.reason;
        return;
    }
    // The player's timeline and place are all that is kept of the old song.
    const playback::SongPlayer before = std::move(session.player);
    session.song = std::move(loaded.value);
    playback::SongPlayer& player = session.player;
    player = playback::MakeSongPlayer(View(session.song));
    player.loopEntry = before.loopEntry;
    player.paused = before.paused;
    std::copy(std::begin(before.muted), std::end(before.muted), std::begin(player.muted));
    ++session.reloads;
    session.message = "Read again (" + std::to_string(session.reloads) + ")";
    playback::SongPosition kept;
    if (!KeepPlace(before.timeline, before.position, player.timeline, kept)) {
        GoToEnd(session, output);
        session.message += ": it has nothing to play";
        return;
    }
    if (playback::AtEnd(before)) {
        playback::SeekToEnd(player);
        return;
    }
    // The row may have changed: it sounds anew from where it was.
    player.position = kept;
    player.jumped = true;
    if (kept.tick == 0) return;  // the next tick starts it
    const playback::RowStart row = playback::CurrentRow(player);
    for (int voice = 0; voice < songfile::kVoices; ++voice)
        session.sounding[voice] = playback::RateForPeriod(row.periods[voice]);
    player.jumped = false;
    if (!player.paused) Resound(session, output);
}

}  // namespace live
