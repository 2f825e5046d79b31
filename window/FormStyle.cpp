#include "window/FormStyle.h"

#include <QFontDatabase>
#include <QStringList>

namespace quorvel {

QString FormFontFamily()
{
    // DejaVu Sans descends from Bitstream Vera, drawn to Verdana's wide proportions.
    static const QString family = [] {
        const QStringList installed = QFontDatabase::families();
        for (const char* candidate : {"Verdana", "DejaVu Sans", "Bitstream Vera Sans", "Tahoma"}) {
            const QString name = QString::fromLatin1(candidate);
            if (installed.contains(name, Qt::CaseInsensitive))
                return name;
        }
        return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
    }();
    return family;
}

QFont FormFont(qreal pointSize, bool bold, bool italic)
{
    QFont font(FormFontFamily());
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    font.setItalic(italic);
    return font;
}

}  // namespace quorvel
