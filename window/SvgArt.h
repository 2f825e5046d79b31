#pragma once

#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>

namespace quorvel {

// The program's pictures are SVG resources (":/icons/..."), drawn at whatever
// size a control gives them.
// Makes ":/icons/..." readable; SvgPixmap and SvgIcon call it themselves.
void InitIconResources();
QPixmap SvgPixmap(const QString& resource, QSize size, qreal devicePixelRatio = 1.0);
QIcon SvgIcon(const QString& resource);

}  // namespace quorvel
