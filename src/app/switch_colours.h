#pragma once

namespace app {

struct Rgb {
    int red;
    int green;
    int blue;
    bool operator==(const Rgb& other) const {
        return red == other.red && green == other.green && blue == other.blue;
    }
    bool operator!=(const Rgb& other) const { return !(*this == other); }
};

inline constexpr Rgb kSwitchOff{0, 0, 0};
inline constexpr Rgb kSwitchOn{0, 128, 0};

// WCAG 2 contrast of two sRGB colours, from 1 (the same) to 21 (black on white).
double contrastRatio(Rgb a, Rgb b);

// What the port switch is drawn with: its face, and its caption before the first change.
struct SwitchColours {
    Rgb face;
    Rgb firstCaption;
};

// The theme's own face and window-text colour, unless black or green would hardly read on that
// face (a dark theme); then the lightest grey on which all three captions read at 4.5:1.
SwitchColours switchColours(Rgb themeFace, Rgb windowText);

}  // namespace app
