#pragma once

namespace app {

// Maps the font families the layout names to fonts this system has, so that the CJK caption
// shows real glyphs. Safe to call more than once.
void registerFontSubstitutions();

}  // namespace app
