#include "app/key_hotspot.h"

#include <QAccessibleWidget>
#include <QMouseEvent>

namespace app {

namespace {

// To a screen reader a key is a button: announced as one, and pressed with its action.
class AccessibleKey : public QAccessibleWidget {
public:
    explicit AccessibleKey(KeyHotspot* key) : QAccessibleWidget(key, QAccessible::Button) {}

    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& name) override {
        if (name == pressAction()) {
            static_cast<KeyHotspot*>(widget())->click();
        }
    }
};

QAccessibleInterface* accessibleKey(const QString&, QObject* object) {
    auto* key = qobject_cast<KeyHotspot*>(object);
    return key != nullptr ? new AccessibleKey(key) : nullptr;
}

}  // namespace

KeyHotspot::KeyHotspot(const QString& hint, QWidget* parent) : QWidget(parent) {
    [[maybe_unused]] static const bool accessible =
        (QAccessible::installFactory(accessibleKey), true);
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
