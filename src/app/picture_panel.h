#pragma once

#include <QImage>
#include <QLabel>
#include <QPixmap>

namespace app {

// The remote picture. At a device pixel ratio of 1 it shows the baseline picture pixel for
// pixel; on a denser screen it draws from the rendition of twice the size, so that keys and
// symbols are as sharp as the screen can show them rather than blown up.
class PicturePanel : public QLabel {
public:
    PicturePanel(const QImage& baseline, QImage doubled, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const QPixmap& renditionFor(qreal ratio);

    QImage doubled_;
    QPixmap rendition_;  // the doubled picture fitted to the ratio it was last drawn at
};

}  // namespace app
