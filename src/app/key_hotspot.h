#pragma once

#include <QWidget>

namespace app {

// A transparent click area laid over one key of the remote picture.
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

private:
    bool pressed_ = false;
};

}  // namespace app
