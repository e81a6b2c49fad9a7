#include "app/fonts.h"

#include <QFont>
#include <QStringList>

namespace app {

void registerFontSubstitutions() {
    // Liberation Serif gives "新細明體" proportional Latin letters, as its own are; the CJK faces'
    // fixed-pitch ones overflow the search button. The CJK faces after it draw the Chinese.
    QFont::insertSubstitutions(
        QStringLiteral("新細明體"),
        {QStringLiteral("Liberation Serif"), QStringLiteral("AR PL UMing TW"),
         QStringLiteral("AR PL UMing CN"), QStringLiteral("Noto Serif CJK TC"),
         QStringLiteral("Noto Sans CJK TC")});
    // Liberation Sans has Arial's metrics, so captions keep the widths they were laid out for.
    QFont::insertSubstitutions(QStringLiteral("Arial"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
}

}  // namespace app
