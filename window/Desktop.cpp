#include "window/Desktop.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QProcess>
#include <QUrl>

namespace quorvel {

void SystemDesktop::Open(const QString& path, std::function<void()> failed)
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    // Qt's opener only tells whether xdg-open started; xdg-open's exit status
    // tells whether a program took the file. It may also run that program to
    // its end, so it is waited for without blocking the window.
    auto* opener = new QProcess(QCoreApplication::instance());
    opener->setStandardOutputFile(QProcess::nullDevice());
    opener->setStandardErrorFile(QProcess::nullDevice());
    QObject::connect(opener, &QProcess::finished, opener, [opener, failed](int code, QProcess::ExitStatus status) {
        if (status != QProcess::NormalExit || code != 0)
            failed();
        opener->deleteLater();
    });
    QObject::connect(opener, &QProcess::errorOccurred, opener, [opener, failed](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        failed();
        opener->deleteLater();
    });
    opener->start(QStringLiteral("xdg-open"), {path});
#else
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        failed();
#endif
}

QString SystemDesktop::SaveFileName(QWidget* parent, const QString& caption, const QString& suggested,
                                    const QString& filter, QString* chosenFilter)
{
    return QFileDialog::getSaveFileName(parent, caption, suggested, filter, chosenFilter);
}

}  // namespace quorvel
