#include "dialogs/Form3.h"

#include <algorithm>
#include <cstdio>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>

#include "crs/TypedPointIn.h"
#include "rain/Error.h"
#include "window/FormStyle.h"

namespace quorvel {

namespace {

// The system choice sits below the two boxes; what was below them moves down.
constexpr int kSystemRowTwips = 420;
constexpr QRect kLabel1 = TwipsRect(1320, 360, 255, 255);
constexpr QRect kLabel2 = TwipsRect(1320, 720, 255, 255);
// "Lat" and "Lon" are wider than "E" and "N": they end where those end.
constexpr QRect kWideLabel1 = TwipsRect(975, 360, 600, 255);
constexpr QRect kWideLabel2 = TwipsRect(975, 720, 600, 255);
constexpr QRect kText1 = TwipsRect(1680, 360, 975, 315);
constexpr QRect kText2 = TwipsRect(1680, 720, 975, 330);
// Degrees and minutes, or UTM metres to the millimetre, are longer than
// Gauss-Boaga's whole metres: the boxes take the second logo's place.
constexpr QRect kWideText1 = TwipsRect(1680, 360, 1815, 315);
constexpr QRect kWideText2 = TwipsRect(1680, 720, 1815, 330);

std::string Metres(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

}  // namespace

Form3::Form3(MainWindowHost& host, PointRunOperations& operations)
    : PointDialog(host, operations, PointRunVariant::CoordinateEntry,
                  QStringLiteral("Inserimento coordinate"), 2640 + kSystemRowTwips, "Text3")
{
    Label1 = AddLabel("Label1", kLabel1, QStringLiteral("E"), FormFont(9.75, true));
    Text1 = AddTextBox("Text1", kText1, {}, FormFont(9.75));
    Label2 = AddLabel("Label2", kLabel2, QStringLiteral("N"), FormFont(9.75, true));
    Text2 = AddTextBox("Text2", kText2, {}, FormFont(9.75));
    Text3 = OutputBox();

    Combo1 = new QComboBox(Body());
    Combo1->setObjectName(QStringLiteral("Combo1"));
    Combo1->setGeometry(TwipsRect(1080, 1110, 2415, 315));
    Combo1->setFont(FormFont(8.25));
    Combo1->setToolTip(QStringLiteral("Sistema di riferimento delle coordinate"));
    for (const ReferenceSystem system : kReferenceSystems)
        Combo1->addItem(QString::fromUtf8(SystemName(system)), EpsgCode(system));
    const int down = TwipsRect(0, kSystemRowTwips, 0, 0).top();
    for (QWidget* below : {static_cast<QWidget*>(Label5), static_cast<QWidget*>(Text3),
                           static_cast<QWidget*>(Command1), static_cast<QWidget*>(Command2)})
        below->move(below->x(), below->y() + down);
    connect(Combo1, &QComboBox::currentIndexChanged, this, &Form3::SystemChosen);

    setTabOrder(Text2, Text1);
    setTabOrder(Text1, Command1);
    setTabOrder(Command1, Command2);
    setTabOrder(Command2, Text3);
    setTabOrder(Text3, Combo1);
    Text2->setFocus();
}

ReferenceSystem Form3::System() const
{
    return kReferenceSystems[std::max(0, Combo1->currentIndex())];
}

void Form3::ChooseSystem(ReferenceSystem system)
{
    Combo1->setCurrentIndex(Combo1->findData(EpsgCode(system)));
}

// In WGS84 the latitude comes first, in the top box and in the Tab order.
void Form3::SystemChosen()
{
    const ReferenceSystem system = System();
    const bool geographic = IsGeographic(system);
    const bool gaussBoaga = system == ReferenceSystem::GaussBoagaEast;
    Label1->setText(QString::fromLatin1(BoxCaption(system, !geographic)));
    Label2->setText(QString::fromLatin1(BoxCaption(system, geographic)));
    Label1->setGeometry(gaussBoaga ? kLabel1 : kWideLabel1);
    Label2->setGeometry(gaussBoaga ? kLabel2 : kWideLabel2);
    for (QLabel* label : {Label1, Label2})
        label->setAlignment(gaussBoaga ? Qt::AlignLeft | Qt::AlignTop : Qt::AlignRight | Qt::AlignTop);
    Text1->setGeometry(gaussBoaga ? kText1 : kWideText1);
    Text2->setGeometry(gaussBoaga ? kText2 : kWideText2);
    Picture2->setVisible(gaussBoaga);
    QLineEdit* first = geographic ? Text1 : Text2;
    QLineEdit* second = geographic ? Text2 : Text1;
    setTabOrder(first, second);
    setTabOrder(second, Command1);
    setTabOrder(Combo1, first);
    if (!isVisible())
        first->setFocus();
}

void Form3::Command1_Click()
{
    converted_.reset();
    const ReferenceSystem system = System();
    if (system != ReferenceSystem::GaussBoagaEast) {
        const std::string separator = QLocale().decimalPoint().toStdString();
        const bool geographic = IsGeographic(system);
        const std::string x = (geographic ? Text2 : Text1)->text().toStdString();
        const std::string y = (geographic ? Text1 : Text2)->text().toStdString();
        std::optional<GridArea> area;
        try {
            area = Operations().ParameterGridArea();
        } catch (const Error&) {
            // Without the area the point is still converted; the run then judges it.
        }
        const std::string faults = TypedPointFaultsIn(system, x, y, separator, area);
        const std::optional<SystemPoint> point = TypedPointToGaussBoaga(system, x, y, separator);
        if (!faults.empty() || !point) {
            PointDialog::ShowMessage(std::string(kCoordinateMessage) + " (" + SystemName(system) + ")" +
                                     (faults.empty() ? "" : "\n" + faults));
            return;
        }
        converted_ = point;
    }
    PointDialog::Command1_Click();
    converted_.reset();
}

std::string Form3::EastText() const
{
    return converted_ ? Metres(converted_->x) : Text1->text().toStdString();
}

std::string Form3::NorthText() const
{
    return converted_ ? Metres(converted_->y) : Text2->text().toStdString();
}

std::optional<ConvertedPoint> Form3::Converted() const
{
    if (!converted_)
        return std::nullopt;
    return ConvertedPoint{converted_->x, converted_->y, NearCellEdge(*converted_)};
}

// The run's closing message tells a converted point that may lie in the
// neighbouring cell.
void Form3::ShowMessage(const std::string& text)
{
    if (converted_ && text == kDoneMessage && NearCellEdge(*converted_))
        return PointDialog::ShowMessage(text + "\n" + NearCellEdgeNote());
    PointDialog::ShowMessage(text);
}

}  // namespace quorvel
