#include "window/RainfallMapBox.h"

#include <QLabel>

#include "maplayers/LayerTable.h"
#include "rain/Error.h"
#include "window/Reporter.h"

namespace quorvel {

RainfallMapBox::RainfallMapBox(MapView& map, Reporter& reporter, QWidget* parent, QWidget* legendParent)
    : QComboBox(parent), map_(map), reporter_(reporter), legend_(new QLabel(legendParent))
{
    setObjectName(QStringLiteral("MappaPioggia"));
    setToolTip(QStringLiteral("Mappa di pioggia di progetto sopra il rilievo"));
    // Floating over the map, the box says what it is while no map is shown.
    setPlaceholderText(QStringLiteral("Mappa di pioggia…"));
    addItem(QStringLiteral("Nessuna"));
    setCurrentIndex(-1);
    legend_->setObjectName(QStringLiteral("LegendaPioggia"));
    legend_->setTextFormat(Qt::RichText);
    legend_->setFrameShape(QFrame::Box);
    legend_->setAutoFillBackground(true);
    legend_->setBackgroundRole(QPalette::Base);
    legend_->setMargin(4);
    legend_->hide();
    connect(this, &QComboBox::activated, this, &RainfallMapBox::Choose);
}

void RainfallMapBox::SetSource(RainfallMapSource* source)
{
    Remove();
    source_ = source;
    while (count() > 1)
        removeItem(1);
    if (source_ != nullptr)
        for (const auto& choice : source_->Choices())
            addItem(choice.label, QString::fromStdString(choice.name));
    setCurrentIndex(-1);
}

void RainfallMapBox::Remove()
{
    if (layer_ >= 0)
        map_.RemoveLayer(layer_);
    layer_ = -1;
    legend_->hide();
}

void RainfallMapBox::Choose(int index)
{
    Remove();
    if (index <= 0 || source_ == nullptr) {
        setCurrentIndex(-1);
        return;
    }
    try {
        const RainfallMapSource::Map made = source_->Make(itemData(index).toString().toStdString());
        auto image = map_.NewImage();
        image->OpenImage(made.file, kImageFileType, false);
        layer_ = map_.AddLayer(std::move(image), true);
        // Highest class on top, as the colours rise.
        QString rows;
        for (auto it = made.classes.rbegin(); it != made.classes.rend(); ++it)
            rows += QStringLiteral("<tr><td style=\"background-color:%1\">&nbsp;&nbsp;&nbsp;&nbsp;</td><td>%2</td></tr>")
                        .arg(QColor(it->first).name(), it->second.toHtmlEscaped());
        legend_->setText(QStringLiteral("<b>%1</b><table cellspacing=\"2\">%2</table>")
                             .arg(made.title.toHtmlEscaped(), rows));
        legend_->adjustSize();
        legend_->show();
        legend_->raise();
    } catch (const Error& error) {
        setCurrentIndex(-1);
        ReportFailure(reporter_, window(), error);
    }
}

}  // namespace quorvel
