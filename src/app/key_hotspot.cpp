#include "app/key_hotspot.h"

#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace app {

namespace {

// To a screen reader a key is a button: announced as one, and pressed with its action. Every
// key can take the focus, though only one at a time is in the tab chain.
class AccessibleKey : public QAccessibleWidget {
public:
    explicit AccessibleKey(KeyHotspot* key) : QAccessibleWidget(key, QAccessible::Button) {}

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.focusable = true;
        return state;
    }
    QStringList actionNames() const override { return {pressAction(), setFocusAction()}; }
    void doAction(const QString& name) override {
        if (name == pressAction()) {
            static_cast<KeyHotspot*>(widget())->click();
        } else {
            QAccessibleWidget::doAction(name);
        }
    }
};

// The ring sits between the round key (radius 26.5 in its 68-pixel area) and the area's edge:
// dark on the light panel, with a white rim that keeps it apart from the dark keys.
constexpr qreal kRingInset = 3.5;
constexpr qreal kRingWidth = 3;
constexpr qreal kRimWidth = 6;
const QColor kRingColour(0, 84, 190);

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

void KeyHotspot::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Space:
        case Qt::Key_Return:
        case Qt::Key_Enter:
            // One press, one frame: a held key does not repeat.
            if (!event->isAutoRepeat()) {
                emit clicked();
            }
            break;
        default:
            QWidget::keyPressEvent(event);
    }
}

void KeyHotspot::paintEvent(QPaintEvent*) {
    // As Qt's own focus frames: shown once the keyboard has moved the focus in this window.
    if (!hasFocus() || !window()->testAttribute(Qt::WA_KeyboardFocusChange)) {
        return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    const QRectF ring = QRectF(rect()).adjusted(kRingInset, kRingInset, -kRingInset, -kRingInset);
    painter.setPen(QPen(Qt::white, kRimWidth));
    painter.drawEllipse(ring);
    painter.setPen(QPen(kRingColour, kRingWidth));
    painter.drawEllipse(ring);
}

}  // namespace app
