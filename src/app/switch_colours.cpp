#include "app/switch_colours.h"

#include <algorithm>
#include <cmath>

namespace app {

namespace {

// Below this the captions are barely legible; at the second they read as body text.
constexpr double kBarelyReadable = 3.0;
constexpr double kReadable = 4.5;

double linear(int channel) {
    const double c = channel / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double luminance(Rgb colour) {
    return 0.2126 * linear(colour.red) + 0.7152 * linear(colour.green) +
           0.0722 * linear(colour.blue);
}

bool readsOn(Rgb face, Rgb caption, double ratio) {
    return contrastRatio(face, caption) >= ratio;
}

}  // namespace

double contrastRatio(Rgb a, Rgb b) {
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

SwitchColours switchColours(Rgb themeFace, Rgb windowText) {
    if (readsOn(themeFace, kSwitchOff, kBarelyReadable) &&
        readsOn(themeFace, kSwitchOn, kBarelyReadable)) {
        return {themeFace, windowText};
    }
    // Down from white to the darkest grey on which both captions still read.
    int grey = 255;
    while (readsOn({grey - 1, grey - 1, grey - 1}, kSwitchOff, kReadable) &&
           readsOn({grey - 1, grey - 1, grey - 1}, kSwitchOn, kReadable)) {
        --grey;
    }
    const Rgb face{grey, grey, grey};
    // A dark theme's light text would vanish on the light face; black is the caption's own
    // off colour.
    return {face, readsOn(face, windowText, kReadable) ? windowText : kSwitchOff};
}

}  // namespace app
