#include "app/picture_panel.h"

#include <QPainter>

namespace app {

PicturePanel::PicturePanel(const QImage& baseline, std::function<QImage()> decodeDoubled,
                           QWidget* parent)
    : QLabel(parent), decodeDoubled_(std::move(decodeDoubled)) {
    setPixmap(QPixmap::fromImage(baseline));
}

void PicturePanel::paintEvent(QPaintEvent* event) {
    const qreal ratio = devicePixelRatioF();
    if (ratio <= 1.0) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    painter.drawPixmap(0, 0, renditionFor(ratio));
}

const QPixmap& PicturePanel::renditionFor(qreal ratio) {
    if (rendition_.isNull() || rendition_.devicePixelRatio() != ratio) {
        if (doubled_.isNull()) {
            doubled_ = decodeDoubled_();
        }
        // Fitted once to the screen's own pixels here, so that painting never resamples.
        const QSize logical = pixmap().deviceIndependentSize().toSize();
        const QSize device(qRound(logical.width() * ratio), qRound(logical.height() * ratio));
        QImage image = doubled_.size() == device ? doubled_
                                                 : doubled_.scaled(device, Qt::IgnoreAspectRatio,
                                                                   Qt::SmoothTransformation);
        image.setDevicePixelRatio(ratio);
        rendition_ = QPixmap::fromImage(image);
    }
    return rendition_;
}

}  // namespace app
