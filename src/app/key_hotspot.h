#pragma once

#include <QWidget>

namespace app {

// A transparent click area laid over one key of the remote picture. From the keyboard, Space
// or Enter presses it as a click does; while the keyboard is in use it shows a ring when it has
// the focus.
class KeyHotspot : public QWidget {
    Q_OBJECT
public:
    KeyHotspot(const QString& hint, QWidget* parent);

public slots:
    // What a screen reader's "press" does.
    void click() { emit clicked(); }

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    bool pressed_ = false;
};

}  // namespace app
