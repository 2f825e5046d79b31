#include "window/Reporter.h"

#include <QMessageBox>
#include <QPushButton>

#include "rain/Error.h"

namespace quorvel {

namespace {

const QString kTitle = QStringLiteral("Quorvel");

}  // namespace

void MessageBoxReporter::Message(QWidget* parent, const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, kTitle, text, QMessageBox::Ok, parent);
    // File names and GDAL's words are shown as they are, never read as markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

bool MessageBoxReporter::Ask(QWidget* parent, const QString& text)
{
    QMessageBox box(QMessageBox::Question, kTitle, text, QMessageBox::NoButton, parent);
    box.setTextFormat(Qt::PlainText);
    QPushButton* yes = box.addButton(QStringLiteral("Sì"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("No"), QMessageBox::NoRole);
    // Every question replaces or loses something on "Sì": Enter must not say it.
    box.setDefaultButton(no);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes;
}

void ReportFailure(Reporter& reporter, QWidget* parent, const Error& error)
{
    reporter.Message(parent, QString::fromStdString(ItalianMessage(error)));
}

}  // namespace quorvel
