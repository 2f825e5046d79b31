#include "dialogs/Form2.h"

#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "window/FormStyle.h"
#include "window/MainWindowHost.h"
#include "window/MainWindowState.h"
#include "window/SvgArt.h"

namespace quorvel {

Form2::Form2(MainWindowHost& host, PointRunOperations& operations)
    : PointDialog(host, operations, PointRunVariant::MapPoint,
                  QStringLiteral("Coordinate inserite da cartografia"), 2625, "Text1")
{
    setWindowIcon(QIcon(SvgPixmap(QStringLiteral(":/dialogs/raincloud.svg"), QSize(16, 16))));

    Label3 = AddLabel("Label3", TwipsRect(1320, 360, 135, 255), QStringLiteral("E"), FormFont(9.75, true));
    Label1 = AddLabel("Label1", TwipsRect(1560, 360, 975, 255), {}, FormFont(9.75));
    Label4 = AddLabel("Label4", TwipsRect(1320, 720, 135, 255), QStringLiteral("N"), FormFont(9.75, true));
    Label2 = AddLabel("Label2", TwipsRect(1560, 720, 975, 255), {}, FormFont(9.75));
    for (QLabel* coordinate : {Label1, Label2})
        coordinate->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Text1 = OutputBox();

    setTabOrder(Command1, Command2);
    setTabOrder(Command2, Text1);
    Command1->setFocus();

    // The load: the main window takes no input while the picked point is shown.
    Host().SetMainWindowEnabled(false);
    Label1->setText(Host().State().pEoutlet);
    Label2->setText(Host().State().pNOutlet);
}

std::string Form2::EastText() const
{
    return Label1->text().toStdString();
}

std::string Form2::NorthText() const
{
    return Label2->text().toStdString();
}

// Closing by the title bar gives up as "Annullare" does, so the main window
// is never left disabled.
void Form2::closeEvent(QCloseEvent* event)
{
    Command2_Click();
    event->accept();
}

}  // namespace quorvel
