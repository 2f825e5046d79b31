#include "dialogs/Form3.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "window/FormStyle.h"

namespace quorvel {

Form3::Form3(MainWindowHost& host, PointRunOperations& operations)
    : PointDialog(host, operations, PointRunVariant::CoordinateEntry,
                  QStringLiteral("Inserimento coordinate"), 2640, "Text3")
{
    Label1 = AddLabel("Label1", TwipsRect(1320, 360, 255, 255), QStringLiteral("E"), FormFont(9.75, true));
    Text1 = AddTextBox("Text1", TwipsRect(1680, 360, 975, 315), {}, FormFont(9.75));
    Label2 = AddLabel("Label2", TwipsRect(1320, 720, 255, 255), QStringLiteral("N"), FormFont(9.75, true));
    Text2 = AddTextBox("Text2", TwipsRect(1680, 720, 975, 330), {}, FormFont(9.75));
    Text3 = OutputBox();

    setTabOrder(Text2, Text1);
    setTabOrder(Text1, Command1);
    setTabOrder(Command1, Command2);
    setTabOrder(Command2, Text3);
    Text2->setFocus();
}

std::string Form3::EastText() const
{
    return Text1->text().toStdString();
}

std::string Form3::NorthText() const
{
    return Text2->text().toStdString();
}

}  // namespace quorvel
