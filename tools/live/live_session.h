// fenk-live's session: the song being played, the engine that plays it, and
// what a tick, a key and a reload of the song do to them and to the sound.
#pragma once

#include <cstdint>
#include <string>

#include "live_song.h"
#include "live_system.h"
#include "playback.h"

namespace live {

enum class State { Playing, Paused, AtEnd };

struct Session {
    std::string path;  // the song file, read again on every change
    Song song;
    // Plays `song`'s block: rebuilt whenever the song is read again.
    playback::SongPlayer player;
    // What each voice sounds now, its mute aside, so that a voice can be
    // muted, or the row resumed, without waiting for the next row.
    int sounding[4] = {playback::kSilentRate, playback::kSilentRate, playback::kSilentRate,
                       playback::kSilentRate};
    bool silencedAtEnd = false;  // the end has been reached and silenced
    bool defaultSample = true;   // note names mean something only with it
    std::string message;         // the last reload's outcome
    unsigned reloads = 0;
};

// A session playing `song` (loaded from `path`) from its start; at the end
// at once when it has nothing to play.
void StartSession(Session& session, const std::string& path, Song song);

State StateOf(const Session& session);

// Plays one tick (playback::PlayTick): a row that starts sounds, one
// reached by a seek alone and at once, one played on to as the player
// sounds it, at clock.RowStartNs(); the end is silenced once. True when
// something the screen shows changed.
bool PlaySessionTick(Session& session, playback::ToneOutput& output, playback::Clock& clock);

// What a key does: Space pause/resume (at the end: from the top),
// Left/Right the previous/next entry (Right on the last: the end; Left at
// the end: the last entry, paused), Home the start, l loop the entry, 1-4
// mute voice 0-3. False for q or Esc, which end the program.
bool HandleKey(Session& session, playback::ToneOutput& output, const KeyPress& key);

// Reads the song file again. A mistake leaves the message and plays on; a
// good song plays on from the same place (KeepPlace), the row anew.
void Reload(Session& session, playback::ToneOutput& output);

}  // namespace live
