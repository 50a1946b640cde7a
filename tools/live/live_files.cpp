// What the session reads from disk: the song file, at start and on every
// change. Apart from the rest of the session, which runs where there are
// no files (the browser's build).
#include <utility>

#include "compose/live_session.h"
#include "compose/live_song.h"
#include "tools/common/tool_support.h"

namespace live {

LoadResult LoadSongFile(const std::string& path) {
    fenk::Result<std::vector<std::uint8_t>> bytes = tools::ReadWholeFile(path);
    if (!bytes.ok()) return fenk::Failed<Song>(fenk::Failure::Failed, bytes.reason);
    return LoadSongBytes(path, bytes.value);
}

void Reload(Session& session, playback::ToneOutput& output) {
    ReloadWith(session, output, LoadSongFile(session.path));
}

}  // namespace live
