// Shows the window on the system's own platform, switches it on against the device on the
// port named by the first argument, clicks a key and waits for its answer; then prints one
// JSON line per shown control: its rectangle in the window's client area (so without any
// frame a window manager or Wine adds), and the box around its caption's ink. Built for
// Linux and for Windows, so that the two builds' outputs can be laid side by side.
//
//   window_boxes PORT
#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "app/form_kolvane.h"
#include "app/kolvane_application.h"
#include "support/wait_for.h"

namespace {

struct Ink {
    QRect box;
    int darkest = 255;  // grey level of the darkest ink pixel
};

QString captionOf(const QWidget* w) {
    if (const auto* memo = qobject_cast<const QPlainTextEdit*>(w)) {
        return memo->toPlainText();
    }
    return w->property("text").toString();
}

void setCaption(QWidget* w, const QString& text) {
    const QSignalBlocker quiet(w);  // an emptied port box must not reach the session
    if (auto* memo = qobject_cast<QPlainTextEdit*>(w)) {
        memo->setPlainText(text);
    } else {
        w->setProperty("text", text);
    }
}

// The caption's ink is what changes when the caption goes: a pixel counts when a channel
// moves by a quarter or more, which leaves out the faintest edge shading that rasterisers
// disagree on.
std::optional<Ink> inkOf(QWidget* w, const QString& caption) {
    const QImage with = w->grab().toImage().convertToFormat(QImage::Format_RGB32);
    setCaption(w, QString());
    const QImage without = w->grab().toImage().convertToFormat(QImage::Format_RGB32);
    setCaption(w, caption);
    Ink ink;
    for (int y = 0; y < with.height(); ++y) {
        for (int x = 0; x < with.width(); ++x) {
            const QRgb a = with.pixel(x, y);
            const QRgb b = without.pixel(x, y);
            if (std::abs(qRed(a) - qRed(b)) >= 64 || std::abs(qGreen(a) - qGreen(b)) >= 64 ||
                std::abs(qBlue(a) - qBlue(b)) >= 64) {
                ink.box |= QRect(x, y, 1, 1);
                ink.darkest = std::min(ink.darkest, qGray(a));
            }
        }
    }
    if (ink.box.isEmpty()) {
        return std::nullopt;
    }
    return ink;
}

// How wide the ink of `text` is when drawn with `font` where nothing cuts it off, counted as
// inkOf() counts.
int unclippedInkWidth(const QFont& font, const QString& text) {
    const QFontMetrics metrics(font);
    QImage image(metrics.horizontalAdvance(text) + 4 * metrics.height(), 2 * metrics.height(),
                 QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(2 * metrics.height(), metrics.height() + metrics.ascent() / 2, text);
    painter.end();
    int left = image.width();
    int right = -1;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qGray(image.pixel(x, y)) <= 255 - 64) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
        }
    }
    return std::max(0, right - left + 1);
}

QString box(const QRect& r) {
    return QStringLiteral("[%1,%2,%3,%4]").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

QString quoted(QString text) {
    return '"' + text.replace('\\', "\\\\").replace('"', "\\\"") + '"';
}

void print(const QString& line) {
    std::printf("%s\n", line.toUtf8().constData());
}

// One control's line. For a one-line caption, "drawn" is the width of its ink where nothing
// cuts it off; a caption that shows less is clipped.
void describe(QWidget* window, QWidget* w) {
    const QRect rect(w->mapTo(window, QPoint(0, 0)), w->size());
    QString line =
        QStringLiteral("{\"name\":%1,\"rect\":%2").arg(quoted(w->objectName()), box(rect));
    const QString caption = captionOf(w);
    if (const auto ink = caption.isEmpty() ? std::nullopt : inkOf(w, caption)) {
        const QFontInfo face(w->font());
        line += QStringLiteral(",\"ink\":%1,\"darkest\":%2,\"font\":%3,\"bold\":%4")
                    .arg(box(ink->box.translated(rect.topLeft())))
                    .arg(ink->darkest)
                    .arg(quoted(face.family()))
                    .arg(face.bold() ? "true" : "false");
        if (!qobject_cast<QPlainTextEdit*>(w)) {
            line += QStringLiteral(",\"drawn\":%1").arg(unclippedInkWidth(w->font(), caption));
        }
    }
    print(line + '}');
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: window_boxes PORT\n");
        return 2;
    }
    app::KolvaneApplication application(argc, argv);
    TFormKolvane form;
    form.setErrorDisplay([](const QString& message) {
        std::fprintf(stderr, "window_boxes: %s\n", message.toUtf8().constData());
        std::exit(1);
    });
    form.show();
    if (!QTest::qWaitForWindowExposed(&form)) {
        std::fprintf(stderr, "window_boxes: the window was never shown\n");
        return 1;
    }
    auto* memo = form.findChild<QPlainTextEdit*>(QStringLiteral("Memo1"));
    const auto logLines = [memo] {
        const QString log = memo->toPlainText();
        return log.isEmpty() ? 0 : log.split('\n').size();
    };
    form.findChild<QLineEdit*>(QStringLiteral("EditCOMport"))
        ->setText(QString::fromLocal8Bit(argv[1]));
    QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("BitBtnRS232")), Qt::LeftButton);
    const bool on = testing_support::waitFor([&] { return logLines() >= 1; });
    QTest::mouseClick(form.findChild<QWidget*>(QStringLiteral("Image3")), Qt::LeftButton);
    if (!on ||
        !testing_support::waitFor([&] { return logLines() >= 2; }, std::chrono::seconds(10))) {
        std::fprintf(stderr, "window_boxes: no answer from the device; the log has: %s\n",
                     memo->toPlainText().toUtf8().constData());
        return 1;
    }

    const QMargins frame(form.geometry().left() - form.frameGeometry().left(),
                         form.geometry().top() - form.frameGeometry().top(),
                         form.frameGeometry().right() - form.geometry().right(),
                         form.frameGeometry().bottom() - form.geometry().bottom());
    print(QStringLiteral("{\"name\":%1,\"rect\":%2,\"frame\":[%3,%4,%5,%6]}")
              .arg(quoted(form.objectName()), box(QRect(QPoint(0, 0), form.size())))
              .arg(frame.left())
              .arg(frame.top())
              .arg(frame.right())
              .arg(frame.bottom()));
    for (QWidget* w : form.findChildren<QWidget*>()) {
        if (w->isVisible() && !w->objectName().isEmpty() && !w->objectName().startsWith("qt_")) {
            describe(&form, w);
        }
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
