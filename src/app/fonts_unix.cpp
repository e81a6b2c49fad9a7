#include "app/fonts.h"

#include <QFont>
#include <QStringList>

namespace app {

void registerFontSubstitutions() {
    QFont::insertSubstitutions(
        QStringLiteral("新細明體"),
        {QStringLiteral("AR PL UMing TW"), QStringLiteral("AR PL UMing CN"),
         QStringLiteral("Noto Serif CJK TC"), QStringLiteral("Noto Sans CJK TC")});
    // Liberation Sans has Arial's metrics, so captions keep the widths they were laid out for.
    QFont::insertSubstitutions(QStringLiteral("Arial"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
}

}  // namespace app
