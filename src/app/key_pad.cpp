#include "app/key_pad.h"

#include <QKeyEvent>
#include <algorithm>
#include <optional>

#include "app/key_hotspot.h"

namespace app {

namespace {

constexpr int kColumns = 3;
constexpr int kLast = static_cast<int>(remote::kHotspotCount) - 1;

// Where a key press moves the focus from key `at` (0-based); none for keys that do not move
// it. At an edge the focus stays where it is.
std::optional<int> keyAfter(int at, int key) {
    switch (key) {
        case Qt::Key_Left:
            return at % kColumns > 0 ? at - 1 : at;
        case Qt::Key_Right:
            return at % kColumns < kColumns - 1 ? at + 1 : at;
        case Qt::Key_Up:
            return at >= kColumns ? at - kColumns : at;
        case Qt::Key_Down:
            return at + kColumns <= kLast ? at + kColumns : at;
        case Qt::Key_Home:
            return 0;
        case Qt::Key_End:
            return kLast;
        default:
            return std::nullopt;
    }
}

}  // namespace

KeyPad::KeyPad(const std::array<KeyHotspot*, remote::kHotspotCount>& keys, QObject* parent)
    : QObject(parent), keys_(keys) {
    for (KeyHotspot* key : keys_) {
        key->installEventFilter(this);
    }
    makeStop(keys_.front());
}

bool KeyPad::eventFilter(QObject* watched, QEvent* event) {
    const auto found = std::find(keys_.begin(), keys_.end(), watched);
    if (found == keys_.end()) {
        return false;
    }
    if (event->type() == QEvent::FocusIn) {
        // However the key got the focus (arrows, Tab, a screen reader), Tab comes back to it.
        makeStop(*found);
    } else if (event->type() == QEvent::KeyPress) {
        const int at = static_cast<int>(found - keys_.begin());
        if (const auto next = keyAfter(at, static_cast<QKeyEvent*>(event)->key())) {
            // Moving by arrow is keyboard use as Tab is: the focus ring shows.
            keys_[static_cast<std::size_t>(*next)]->setFocus(Qt::TabFocusReason);
            return true;
        }
    }
    return false;
}

void KeyPad::makeStop(const KeyHotspot* stop) {
    for (KeyHotspot* key : keys_) {
        key->setFocusPolicy(key == stop ? Qt::TabFocus : Qt::NoFocus);
    }
}

}  // namespace app
