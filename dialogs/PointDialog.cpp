#include "dialogs/PointDialog.h"

#include <algorithm>

#include <QAbstractButton>
#include <QApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>

#include "window/FormStyle.h"
#include "window/MainWindowHost.h"
#include "map/MapView.h"
#include "window/Reporter.h"
#include "window/SvgArt.h"

namespace quorvel {

namespace {

constexpr int kClientWidthTwips = 3705;
constexpr QSize kButtonPicture(32, 32);

// The width a window manager's title bar needs for caption: the caption in a
// bold face of the desktop's font, and room for the window's icon, its close
// button and the bar's margins.
int TitleBarWidth(const QString& caption)
{
    QFont bold = QApplication::font();
    bold.setBold(true);
    const QFontMetrics metrics(bold);
    const int button = metrics.height() + 12;
    return metrics.horizontalAdvance(caption) + 3 * button + 24;
}

}  // namespace

PointDialog::PointDialog(MainWindowHost& host, PointRunOperations& operations,
                         PointRunVariant variant, const QString& caption, int clientHeightTwips,
                         const char* outputBoxName)
    : QDialog(host.Window(), Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      host_(host),
      operations_(operations),
      variant_(variant)
{
    setWindowTitle(caption);
    // The controls keep their places in a body of the form's size; a title
    // wider than that widens the dialog, with the body in the middle, so that
    // the title shows whole.
    const QSize client = TwipsRect(0, 0, kClientWidthTwips, clientHeightTwips).size();
    setFixedSize(std::max(client.width(), TitleBarWidth(caption)), client.height());
    body_ = new QWidget(this);
    body_->setGeometry(QRect(QPoint((width() - client.width()) / 2, 0), client));

    Label5 = AddLabel("Label5", TwipsRect(120, 1200, 1215, 375),
                      QStringLiteral("Nome del file di output"), FormFont(8.25));
    Label5->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    Label5->setWordWrap(true);
    outputBox_ = AddTextBox(outputBoxName, TwipsRect(1440, 1320, 2055, 285),
                            QStringLiteral("Piogge"), FormFont(8.25));

    const auto addButton = [this](const char* name, const QRect& geometry, const QString& tooltip,
                                  const QString& picture) {
        auto* button = new QPushButton(body_);
        button->setObjectName(QString::fromLatin1(name));
        button->setGeometry(geometry);
        button->setFont(FormFont(8.25));
        button->setToolTip(tooltip);
        button->setIcon(QIcon(SvgPixmap(picture, kButtonPicture)));
        button->setIconSize(kButtonPicture);
        // Neither button is the dialog's default: Enter acts on the focused one only.
        button->setAutoDefault(false);
        button->setDefault(false);
        return button;
    };
    Command1 = addButton("Command1", TwipsRect(1080, 1800, 735, 735),
                         QStringLiteral("Elaborazione"), QStringLiteral(":/dialogs/elaborazione.svg"));
    Command2 = addButton("Command2", TwipsRect(1920, 1800, 735, 735), QStringLiteral("Annullare"),
                         QStringLiteral(":/dialogs/annullare.svg"));
    connect(Command1, &QPushButton::clicked, this, &PointDialog::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &PointDialog::Command2_Click);

    const auto addPicture = [this](const char* name, const QRect& geometry, const QString& picture) {
        QLabel* label = AddLabel(name, geometry, {}, font());
        label->setPixmap(SvgPixmap(picture, geometry.size()));
        return label;
    };
    Picture1 = addPicture("Picture1", TwipsRect(360, 120, 600, 855), QStringLiteral(":/icons/emblem.svg"));
    Picture2 = addPicture("Picture2", TwipsRect(2880, 360, 495, 495), QStringLiteral(":/icons/cloud.svg"));
}

QLabel* PointDialog::AddLabel(const char* name, const QRect& geometry, const QString& text,
                              const QFont& font)
{
    auto* label = new QLabel(text, body_);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(geometry);
    label->setFont(font);
    label->setFocusPolicy(Qt::NoFocus);
    return label;
}

QLineEdit* PointDialog::AddTextBox(const char* name, const QRect& geometry, const QString& text,
                                   const QFont& font)
{
    auto* box = new QLineEdit(text, body_);
    box->setObjectName(QString::fromLatin1(name));
    box->setGeometry(geometry);
    box->setFont(font);
    return box;
}

// The first focus shows its frame, as after a Tab; showing the window clears the flag.
void PointDialog::showEvent(QShowEvent* event)
{
    setAttribute(Qt::WA_KeyboardFocusChange);
    QDialog::showEvent(event);
}

void PointDialog::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
        // No cancel button: only "Annullare" gives up.
        event->accept();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (auto* button = qobject_cast<QAbstractButton*>(focusWidget()))
            button->click();
        event->accept();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

std::string PointDialog::OutputName() const
{
    return outputBox_->text().toStdString();
}

void PointDialog::ShowMessage(const std::string& text)
{
    host_.Messages().Message(this, QString::fromStdString(text));
}

bool PointDialog::Ask(const std::string& text)
{
    return host_.Messages().Ask(this, QString::fromStdString(text));
}

void PointDialog::ResetMapPointer()
{
    host_.Map1().SetMapCursor(kArrow);
}

void PointDialog::EnableMainWindow()
{
    host_.SetMainWindowEnabled(true);
}

void PointDialog::CloseDialog()
{
    done(QDialog::Accepted);
}

void PointDialog::RunCompleted(const PointRunResult& result)
{
    host_.RunCompleted(result);
}

void PointDialog::Command1_Click()
{
    // The default locale is the user's own unless the program chose another.
    ProcessPoint(variant_, *this, operations_, QLocale().decimalPoint().toStdString());
}

void PointDialog::Command2_Click()
{
    host_.Map1().SetCursorMode(kNoTool);
    host_.SetMainWindowEnabled(true);
    done(QDialog::Rejected);
    host_.Map1().SetMapCursor(kArrow);
}

}  // namespace quorvel
