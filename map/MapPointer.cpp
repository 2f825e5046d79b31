#include "map/MapPointer.h"

#include "map/MapView.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace quorvel {

namespace {

QCursor Magnifier(const QString& resource)
{
    const qreal dpr = qGuiApp ? qGuiApp->devicePixelRatio() : 1.0;
    QPixmap pixmap(QSize(32, 32) * dpr);
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        QSvgRenderer(resource).render(&painter);
    }
    pixmap.setDevicePixelRatio(dpr);
    // The hot spot is the centre of the lens.
    return QCursor(pixmap, 12, 12);
}

}  // namespace

QCursor MapPointerFor(int cursorMode, int mapCursor, bool grabbing)
{
    if (mapCursor == kCrossHair)
        return Qt::CrossCursor;
    switch (cursorMode) {
    case kPan:
        return grabbing ? Qt::ClosedHandCursor : Qt::OpenHandCursor;
    case kZoomIn: {
        static const QCursor magnifierPlus = Magnifier(QStringLiteral(":/map/pointers/zoom-in.svg"));
        return magnifierPlus;
    }
    case kZoomOut: {
        static const QCursor magnifierMinus = Magnifier(QStringLiteral(":/map/pointers/zoom-out.svg"));
        return magnifierMinus;
    }
    default:
        return Qt::ArrowCursor;
    }
}

}  // namespace quorvel
