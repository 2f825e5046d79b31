#include "window/SvgArt.h"

#include <QPainter>
#include <QSvgRenderer>

// Resources of a static library are registered by hand, outside any namespace.
static void RegisterIconResources()
{
    Q_INIT_RESOURCE(icons);
}

namespace quorvel {

void InitIconResources()
{
    static const bool registered = (RegisterIconResources(), true);
    Q_UNUSED(registered);
}

namespace {

QPixmap Render(QSvgRenderer& renderer, QSize size, qreal devicePixelRatio)
{
    QPixmap pixmap(size * devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    // Keep the drawing's proportions and centre it in the box.
    QSizeF drawn = renderer.defaultSize();
    drawn.scale(QSizeF(pixmap.size()), Qt::KeepAspectRatio);
    const QRectF target((pixmap.width() - drawn.width()) / 2, (pixmap.height() - drawn.height()) / 2,
                        drawn.width(), drawn.height());
    renderer.render(&painter, target);
    painter.end();
    pixmap.setDevicePixelRatio(devicePixelRatio);
    return pixmap;
}

}  // namespace

QPixmap SvgPixmap(const QString& resource, QSize size, qreal devicePixelRatio)
{
    InitIconResources();
    QSvgRenderer renderer(resource);
    return Render(renderer, size, devicePixelRatio);
}

QIcon SvgIcon(const QString& resource)
{
    InitIconResources();
    // One parse of the drawing serves every size.
    QSvgRenderer renderer(resource);
    QIcon icon;
    for (int side : {16, 24, 32, 48, 64})
        icon.addPixmap(Render(renderer, QSize(side, side), 1));
    return icon;
}

}  // namespace quorvel
