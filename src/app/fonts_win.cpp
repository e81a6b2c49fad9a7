#include "app/fonts.h"

#include <QFont>
#include <QStringList>

namespace app {

// "Arial" and "MS Sans Serif" are on every Windows system. "新細明體" is on Traditional-Chinese
// systems only; elsewhere the caption needs another CJK face. Ming and Song faces come first,
// as they look most like it; the last one is what Wine finds through the host's fonts.
void registerFontSubstitutions() {
    QFont::insertSubstitutions(
        QStringLiteral("新細明體"),
        {QStringLiteral("PMingLiU"), QStringLiteral("SimSun"), QStringLiteral("Microsoft JhengHei"),
         QStringLiteral("Microsoft YaHei"), QStringLiteral("MS Gothic"),
         QStringLiteral("AR PL UMing TW")});
}

}  // namespace app
