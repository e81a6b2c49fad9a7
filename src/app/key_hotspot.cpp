#include "app/key_hotspot.h"

#include <QMouseEvent>

namespace app {

KeyHotspot::KeyHotspot(const QString& hint, QWidget* parent) : QWidget(parent) {
    setCursor(Qt::PointingHandCursor);
    setToolTip(hint);
    // Screen readers announce the key by what it does, not as an unnamed image.
    setAccessibleName(hint);
    setFocusPolicy(Qt::NoFocus);
}

void KeyHotspot::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton;
}

void KeyHotspot::mouseReleaseEvent(QMouseEvent* event) {
    // Like a button: the click counts only when released over the key it was pressed on.
    const bool click = pressed_ && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    pressed_ = false;
    if (click) {
        emit clicked();
    }
}

}  // namespace app
