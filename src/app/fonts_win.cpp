#include "app/fonts.h"

#include <QFont>
#include <QStringList>

namespace app {

// "新細明體" is on Traditional-Chinese systems only. Elsewhere Times New Roman draws its Latin
// letters, proportional like its own: the fixed-pitch ones of the Song and Ming faces, widened
// again by the bold Windows makes up for them, overflow the search button. The faces after it
// draw the Chinese, Ming and Song first as they look most like it. "Arial" and "MS Sans Serif"
// are on every Windows system; should one be missing, the nearest face there takes its place.
// Each list ends with what Wine finds among the host's fonts.
void registerFontSubstitutions() {
    QFont::insertSubstitutions(
        QStringLiteral("新細明體"),
        {QStringLiteral("PMingLiU"), QStringLiteral("Times New Roman"), QStringLiteral("SimSun"),
         QStringLiteral("Microsoft JhengHei"), QStringLiteral("Microsoft YaHei"),
         QStringLiteral("MS Gothic"), QStringLiteral("Liberation Serif"),
         QStringLiteral("AR PL UMing TW")});
    QFont::insertSubstitutions(QStringLiteral("Arial"),
                               {QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Tahoma"),
                                QStringLiteral("Liberation Sans")});
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               {QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Tahoma"),
                                QStringLiteral("Liberation Sans")});
}

}  // namespace app
