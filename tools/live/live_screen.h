// fenk-live's screen: what the session shows, line by line, and the frame
// that draws those lines on the terminal in place.
#pragma once

#include <string>
#include <vector>

#include "compose/live_session.h"
#include "tools/live/live_system.h"

namespace live {

// The screen's lines (not yet cut to the terminal's width).
std::vector<std::string> ScreenLines(const Session& session);

// The whole screen from the top left, each line cut to the terminal's
// width and cleared to its end, and nothing past the terminal's height.
std::string Frame(const std::vector<std::string>& lines, ScreenSize size);

}  // namespace live
