#include "window/Desktop.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QUrl>

namespace quorvel {

bool SystemDesktop::Open(const QString& path)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

QString SystemDesktop::SaveFileName(QWidget* parent, const QString& caption, const QString& suggested,
                                    const QString& filter, QString* chosenFilter)
{
    return QFileDialog::getSaveFileName(parent, caption, suggested, filter, chosenFilter);
}

}  // namespace quorvel
