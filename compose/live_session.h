// fenk-live's session: the song being played, the engine that plays it, and
// what a tick, a key and a reload of the song do to them and to the sound.
#pragma once

#include <cstdint>
#include <string>

#include "compose/live_song.h"
#include "playback/playback.h"

namespace live {

// A key as the session takes it (fenk-live reads them from its terminal).
enum class Key {
    Character,  // a printable character: KeyPress::character
    Space,
    Left,
    Right,
    Home,
    Escape,
};

struct KeyPress {
    Key key = Key::Character;
    char character = 0;  // for Key::Character, ASCII 0x21..0x7E
};

enum class State { Playing, Paused, AtEnd };

struct Session {
    std::string path;  // the song file, read again on every change
    Song song;
    // Plays `song`'s block: rebuilt whenever the song is read again.
    playback::SongPlayer player;
    // What each voice sounds now, its mute aside, so that a voice can be
    // muted, or the row resumed, without waiting for the next row.
    int sounding[songfile::kVoices] = {playback::kSilentRate, playback::kSilentRate, playback::kSilentRate,
                       playback::kSilentRate};
    bool silencedAtEnd = false;  // the end has been reached and silenced
    // Ticks the last row sounds on at the end before it is silenced: 0 for
    // fenk-live, the player's end wait (kEndWaitMilliseconds / 5) for the
    // browser's player; ticksAtEnd counts them.
    unsigned endWaitTicks = 0;
    unsigned ticksAtEnd = 0;
    // Ticks until a note sounded alone by PreviewNote stops (0: none).
    unsigned previewTicks = 0;
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
// something the screen shows changed. `tick`, when given, gets what the
// engine's tick did.
bool PlaySessionTick(Session& session, playback::ToneOutput& output, playback::Clock& clock,
                     playback::PlayedTick* tick = nullptr);

// The ticks PlaySessionTick will play before the one that next changes
// what is heard: 0 when the very next tick starts a row or silences the
// end; -1 when no tick will until a key or a reload does something (paused,
// or the end silenced).
long long TicksBeforeNextSound(const Session& session);

// Moves to row `row` (clamped to its section's last) of timeline entry
// `entry` (the end when past the last); from the end it stays paused there
// (an end wait still sounding stops). The row sounds from the next tick on
// when playing.
void SeekToEntry(Session& session, playback::ToneOutput& output, std::size_t entry, std::size_t row = 0);

// Sounds `period` on `voice` at once, as a note typed in an editor: while
// playing, in place of that voice's note (the others go on) until the next
// row starts; otherwise alone for `ticks` ticks of PlaySessionTick.
void PreviewNote(Session& session, playback::ToneOutput& output, int voice, std::uint8_t period, unsigned ticks);

// What a key does: Space pause/resume (at the end: from the top),
// Plays (from the top when at the end, as Space does there) or pauses;
// nothing when it already does so.
void SetPlaying(Session& session, playback::ToneOutput& output, bool playing);

// The next entry (step > 0; on the last: the end) or the previous one
// (step < 0; at the end: the last entry, paused), as Right and Left do.
void StepEntry(Session& session, playback::ToneOutput& output, int step);

// Left/Right the previous/next entry (Right on the last: the end; Left at
// the end: the last entry, paused), Home the start, l loop the entry, 1-4
// mute voice 0-3. False for q or Esc, which end the program.
bool HandleKey(Session& session, playback::ToneOutput& output, const KeyPress& key);

// Mutes the voices whose `muted` is true and unmutes the others, heard at
// once when playing.
void SetMutes(Session& session, playback::ToneOutput& output, const bool muted[songfile::kVoices]);

// Takes the song loaded again: a failure leaves its reason as the message
// and plays on; a good song plays on from the same place (KeepPlace), the
// row anew.
void ReloadWith(Session& session, playback::ToneOutput& output, LoadResult loaded);
// Reads the song file again (LoadSongFile), then as ReloadWith.
void Reload(Session& session, playback::ToneOutput& output);

}  // namespace live
