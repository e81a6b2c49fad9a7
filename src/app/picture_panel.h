#pragma once

#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <functional>

namespace app {

// The remote picture. At a device pixel ratio of 1 it shows the baseline picture pixel for
// pixel; on a denser screen it draws from the rendition of twice the size, so that keys and
// symbols are as sharp as the screen can show them rather than blown up. That rendition is
// decoded only once a dense screen asks for it, so an ordinary screen never pays for it.
class PicturePanel : public QLabel {
public:
    PicturePanel(const QImage& baseline, std::function<QImage()> decodeDoubled, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const QPixmap& renditionFor(qreal ratio);

    std::function<QImage()> decodeDoubled_;
    QImage doubled_;
    QPixmap rendition_;  // the doubled picture fitted to the ratio it was last drawn at
};

}  // namespace app
