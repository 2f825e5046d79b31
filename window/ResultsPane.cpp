#include "window/ResultsPane.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QSplitter>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "rain/Error.h"
#include "report/CsvText.h"
#include "report/Report.h"
#include "report/SheetPreview.h"
#include "window/Desktop.h"
#include "window/RainChart.h"
#include "window/DurationsView.h"
#include "window/ReportPreview.h"
#include "window/Reporter.h"

namespace quorvel {

namespace {

constexpr double kHalfCell = 250;  // metres: the grid's cells are 500 m squares
const QColor kPointerColour(85, 85, 85);

// The table's columns: the quantiles come first, so that they show however narrow the pane.
enum Column { kReport, kFirstQuantile, kEast = kFirstQuantile + 7, kNorth, kRow, kColumn, kCentreEast, kCentreNorth,
              kA2, kA1, kCv, kColumns };
constexpr int kButtonColumns = 3;
// The room for the buttons in the pane beside the map of the smallest window:
// larger letters put them in rows of two, so that the map keeps its width.
constexpr int kButtonsRoom = 280;
constexpr int kNarrowestName = 48;
constexpr int kIcon = 12;
// The widest quantile the columns make room for, in mm.
const QString kWidestQuantile = QStringLiteral("1999,9");
// The tables' letters against the pane's: smaller and narrower, so that a
// narrow pane holds the seven quantiles and some of the name.
constexpr double kTableFontScale = 7.5 / 8.25;
// A pane too narrow for that makes the letters smaller by this step, as long
// as their line stays this many pixels high.
constexpr double kTableFontStep = 0.95;
constexpr int kSmallestTableLine = 10;
// Beyond the longest name, the quantiles' columns grow up to this much of their width.
constexpr double kMostQuantileGrowth = 0.5;

const QString kPointerName = QStringLiteral("Sotto il puntatore");
const QString kStandardCsv = QStringLiteral("CSV standard: virgola, punto decimale (*.csv)");
const QString kItalianCsv = QStringLiteral("CSV per fogli di calcolo in italiano: punto e virgola, virgola decimale (*.csv)");

QStringList TableHeaders()
{
    QStringList headers{QStringLiteral("Report")};
    for (const int period : kReturnPeriods)
        headers << QStringLiteral("q%1").arg(period);
    headers << QStringLiteral("E") << QStringLiteral("N") << QStringLiteral("Riga") << QStringLiteral("Colonna")
            << QStringLiteral("Centro E") << QStringLiteral("Centro N") << QStringLiteral("a2") << QStringLiteral("a1")
            << QStringLiteral("cv");
    return headers;
}

// The columns of copies and exports, unchanged from one version to the next.
QStringList CopyHeaders()
{
    QStringList headers{QStringLiteral("Report"), QStringLiteral("E"), QStringLiteral("N"),
                        QStringLiteral("Riga"), QStringLiteral("Colonna"), QStringLiteral("Centro E"),
                        QStringLiteral("Centro N"), QStringLiteral("a2"), QStringLiteral("a1"),
                        QStringLiteral("cv")};
    for (const int period : kReturnPeriods)
        headers << QStringLiteral("q%1 (mm)").arg(period);
    return headers;
}

QString ReportFile(const PointRunResult& run)
{
    return QString::fromStdString(run.outputName + kOutputExtension);
}

// The exact value, in the locale's decimal separator, with no grouping.
QString Exact(float value, const QLocale& locale)
{
    std::string text;
    AppendSingle(text, value);
    return QString::fromStdString(text).replace(u'.', locale.decimalPoint());
}

// Every column of a run but the report's name, in the order of copies and exports.
QStringList Numbers(const PointRunResult& run, const QLocale& locale)
{
    const PointRain& rain = run.rain;
    QStringList numbers{Exact(run.point.x, locale),       Exact(run.point.y, locale),
                        QString::number(rain.cell.row),   QString::number(rain.cell.column),
                        Exact(rain.centre.x, locale),     Exact(rain.centre.y, locale),
                        Exact(rain.a2, locale),           Exact(rain.a1, locale),
                        Exact(rain.cv, locale)};
    for (const float q : rain.quantiles.InOrder())
        numbers << Exact(q, locale);
    return numbers;
}

// The table's cells after the report's name: the quantiles to one decimal,
// then the point and, when there are values, the cell and the parameters.
QStringList TableCells(GaussBoagaPoint point, const std::optional<PointRain>& rain)
{
    const QLocale locale;
    QStringList cells;
    for (int i = 0; i < 7; ++i)
        cells << (rain ? locale.toString(rain->quantiles.InOrder()[std::size_t(i)], 'f', 1) : QString());
    cells << Exact(point.x, locale) << Exact(point.y, locale);
    if (rain)
        cells << QString::number(rain->cell.row) << QString::number(rain->cell.column)
              << Exact(rain->centre.x, locale) << Exact(rain->centre.y, locale) << Exact(rain->a2, locale)
              << Exact(rain->a1, locale) << Exact(rain->cv, locale);
    while (cells.size() < kColumns - 1)
        cells << QString();
    return cells;
}

void SetCells(QTableWidget& table, int row, const QStringList& cells)
{
    for (int column = 1; column < kColumns; ++column) {
        QTableWidgetItem* item = table.item(row, column);
        if (item == nullptr) {
            item = new QTableWidgetItem;
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            item->setFlags(item->flags() & ~Qt::ItemIsEditable);
            table.setItem(row, column, item);
        }
        item->setText(cells[column - 1]);
    }
}

// A short stroke in the curve's colour, as a legend draws it.
QIcon Swatch(const QColor& colour, bool dashed)
{
    QPixmap picture(12, 12);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(colour, 2.5);
    if (dashed)
        pen.setDashPattern({1.2, 1});
    painter.setPen(pen);
    painter.drawLine(QPointF(0, 6), QPointF(12, 6));
    painter.setBrush(colour);
    painter.drawEllipse(QPointF(6, 6), 2, 2);
    return QIcon(picture);
}

// One CSV field for a semicolon-separated file.
void AppendItalianField(std::string& out, const std::string& text)
{
    const bool quoted = text.find_first_of(";\"\r\n") != std::string::npos ||
                        (!text.empty() && (text.front() == ' ' || text.back() == ' '));
    if (!quoted) {
        out += text;
        return;
    }
    out += '"';
    for (const char c : text) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

}  // namespace

ResultsPane::ResultsPane(Reporter& reporter, Desktop& desktop, QWidget* parent)
    : QFrame(parent), reporter_(reporter), desktop_(&desktop)
{
    setObjectName(QStringLiteral("Risultati"));
    setFrameShape(QFrame::StyledPanel);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 4);
    layout->setSpacing(4);

    auto* title = new QHBoxLayout;
    auto* caption = new QLabel(QStringLiteral("Risultati"));
    QFont bold = caption->font();
    bold.setBold(true);
    caption->setFont(bold);
    title->addWidget(caption);
    title->addStretch();
    auto* close = new QToolButton;
    close->setObjectName(QStringLiteral("RisultatiClose"));
    close->setText(QStringLiteral("✕"));
    close->setAutoRaise(true);
    close->setToolTip(QStringLiteral("Chiude il riquadro; il pulsante \"Risultati\" o Ctrl+R lo riaprono"));
    connect(close, &QToolButton::clicked, this, &ResultsPane::CloseRequested);
    title->addWidget(close);
    layout->addLayout(title);

    buttons_ = new QGridLayout;
    buttons_->setSpacing(3);
    layout->addLayout(buttons_);
    openReport_ = AddButton(QStringLiteral("Apri report"),
                            QStringLiteral("Apre il report della riga selezionata nel foglio di calcolo"));
    openFolder_ = AddButton(QStringLiteral("Apri cartella"), QStringLiteral("Apre la cartella dei report"));
    copy_ = AddButton(QStringLiteral("Copia"),
                      QStringLiteral("Copia le righe selezionate negli appunti, pronte da incollare in un foglio "
                                     "di calcolo"));
    export_ = AddButton(QStringLiteral("Esporta CSV…"),
                        QStringLiteral("Salva l'intero elenco in un file CSV, standard o per i fogli di calcolo "
                                       "in italiano"));
    saveChart_ = AddButton(QStringLiteral("Salva grafico…"),
                           QStringLiteral("Salva il grafico delle righe selezionate, con la legenda, come immagine "
                                          "PNG o disegno SVG"));
    exportPdf_ = AddButton(QStringLiteral("Esporta PDF…"),
                           QStringLiteral("Salva una scheda PDF di una pagina della riga selezionata: punto, cella, "
                                          "parametri, altezze, curva e mappa"));
    exportPdf_->setVisible(false);
    clear_ = AddButton(QStringLiteral("Pulisci"),
                       QStringLiteral("Svuota l'elenco e toglie i segni dei punti dalla mappa"));
    ArrangeButtons();
    connect(openReport_, &QPushButton::clicked, this, &ResultsPane::OpenReport);
    connect(openFolder_, &QPushButton::clicked, this, &ResultsPane::OpenFolder);
    connect(copy_, &QPushButton::clicked, this, &ResultsPane::Copy);
    connect(export_, &QPushButton::clicked, this, &ResultsPane::ExportCsv);
    connect(saveChart_, &QPushButton::clicked, this, &ResultsPane::SaveChart);
    connect(exportPdf_, &QPushButton::clicked, this, &ResultsPane::ExportPdf);
    connect(clear_, &QPushButton::clicked, this, &ResultsPane::Clear);

    const QStringList headers = TableHeaders();
    const auto makeTable = [&](const char* name, int rows) {
        auto* table = new QTableWidget(rows, kColumns);
        table->setObjectName(QString::fromLatin1(name));
        table->setHorizontalHeaderLabels(headers);
        table->setEditTriggers(QAbstractItemView::NoEditTriggers);
        table->verticalHeader()->setVisible(false);
        table->setWordWrap(false);
        table->setTextElideMode(Qt::ElideRight);
        table->setIconSize(QSize(kIcon, kIcon));
        return table;
    };
    // The pointer's row carries the column titles; the runs' table below it
    // scrolls sideways with it and keeps its column widths.
    pointerTable_ = makeTable("SottoIlPuntatore", 1);
    pointerTable_->setSelectionMode(QAbstractItemView::NoSelection);
    pointerTable_->setFocusPolicy(Qt::NoFocus);
    pointerTable_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    pointerTable_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    for (int i = 0; i < 7; ++i)
        pointerTable_->horizontalHeaderItem(kFirstQuantile + i)
            ->setToolTip(QStringLiteral("Altezza di pioggia di 1 ora per T = %1 anni (mm)").arg(kReturnPeriods[std::size_t(i)]));
    auto* name = new QTableWidgetItem(kPointerName);
    name->setIcon(Swatch(kPointerColour, true));
    pointerTable_->setItem(0, kReport, name);
    SetCells(*pointerTable_, 0, TableCells({}, std::nullopt));
    pointerTable_->item(0, kEast)->setText({});
    pointerTable_->item(0, kNorth)->setText({});
    pointerTable_->setSpan(0, kFirstQuantile, 1, 7);
    pointerTable_->item(0, kFirstQuantile)->setText(QStringLiteral("muovere il puntatore sulla mappa"));
    pointerTable_->item(0, kFirstQuantile)->setTextAlignment(Qt::AlignCenter);
    const QPalette colours = pointerTable_->palette();
    QPalette apart = colours;
    apart.setColor(QPalette::Base, colours.color(QPalette::AlternateBase));
    pointerTable_->setPalette(apart);

    table_ = makeTable("RisultatiTable", 0);
    table_->horizontalHeader()->setVisible(false);
    // A light selection, so that the rows' colour marks stay visible on it.
    QPalette selection = table_->palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        selection.setColor(group, QPalette::Highlight, QColor(207, 226, 243));
        selection.setColor(group, QPalette::HighlightedText, selection.color(QPalette::Active, QPalette::Text));
    }
    table_->setPalette(selection);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    connect(table_, &QTableWidget::itemSelectionChanged, this, &ResultsPane::SelectionChanged);
    connect(table_, &QTableWidget::cellDoubleClicked, this, [this](int row, int) {
        if (row >= 0 && row < int(runs_.size()))
            emit ZoomRequested(runs_[std::size_t(row)]);
    });

    pointerTable_->viewport()->installEventFilter(this);
    table_->viewport()->installEventFilter(this);
    connect(pointerTable_->horizontalHeader(), &QHeaderView::sectionResized, this,
            [this](int column, int, int width) { table_->setColumnWidth(column, width); });
    FitFont();
    connect(table_->horizontalScrollBar(), &QScrollBar::valueChanged, pointerTable_->horizontalScrollBar(),
            &QScrollBar::setValue);
    connect(pointerTable_->horizontalScrollBar(), &QScrollBar::valueChanged, table_->horizontalScrollBar(),
            &QScrollBar::setValue);

    auto* tables = new QWidget;
    auto* stack = new QVBoxLayout(tables);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(3);
    stack->addWidget(pointerTable_);
    stack->addWidget(table_);

    chart_ = new RainChart;
    chart_->setObjectName(QStringLiteral("RisultatiChart"));
    chart_->setMinimumSize(200, 180);
    chart_->setContextMenuPolicy(Qt::ActionsContextMenu);
    saveChartAction_ = new QAction(saveChart_->text(), chart_);
    connect(saveChartAction_, &QAction::triggered, this, &ResultsPane::SaveChart);
    chart_->addAction(saveChartAction_);
    savePointer_ = new QAction(QStringLiteral("Salvare anche la curva sotto il puntatore"), chart_);
    savePointer_->setObjectName(QStringLiteral("SalvaPuntatore"));
    savePointer_->setCheckable(true);
    savePointer_->setToolTip(QStringLiteral("\"Salva grafico…\" salva le curve delle righe selezionate e, con questa "
                                            "scelta, anche quella tratteggiata del punto sotto il puntatore"));
    connect(savePointer_, &QAction::toggled, this, [this] { ShowCurves(false); });
    chart_->addAction(savePointer_);

    // The chart, or the selected run's report as the report holds it.
    preview_ = new ReportPreview;
    views_ = new QTabWidget;
    views_->setObjectName(QStringLiteral("RisultatiViste"));
    views_->setDocumentMode(true);
    views_->addTab(chart_, QStringLiteral("Grafico"));
    views_->addTab(preview_, QStringLiteral("Report"));
    views_->setTabToolTip(1, QStringLiteral("Il primo foglio del report della riga selezionata, con i valori "
                                            "calcolati"));
    connect(views_, &QTabWidget::currentChanged, this, &ResultsPane::ShowPreview);
    // Offered only where the region has a depth-duration law.
    durations_ = new DurationsView;
    durations_->setObjectName(QStringLiteral("RisultatiDurate"));
    // Scrolled, so that the tab's controls never make the pane wider or taller
    // than the map leaves it.
    durationsPage_ = new QScrollArea;
    durationsPage_->setFrameShape(QFrame::NoFrame);
    durationsPage_->setWidgetResizable(true);
    durationsPage_->setWidget(durations_);
    views_->setTabVisible(views_->addTab(durationsPage_, QStringLiteral("Durate")), false);
    connect(views_, &QTabWidget::currentChanged, this, &ResultsPane::ShowDurations);

    auto* split = new QSplitter(Qt::Vertical);
    split->addWidget(tables);
    split->addWidget(views_);
    split->setChildrenCollapsible(false);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 2);
    split->setSizes({210, 330});
    layout->addWidget(split, 1);
    SelectionChanged();
}

bool ResultsPane::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == pointerTable_->viewport() && event->type() == QEvent::Resize)
        FitFont();
    if (watched == table_->viewport() && event->type() == QEvent::Resize)
        SpreadColumns();
    return QFrame::eventFilter(watched, event);
}

void ResultsPane::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange && table_ != nullptr) {
        ArrangeButtons();
        tableFontScale_ = 0;
        FitFont();
    }
    QFrame::changeEvent(event);
}

int ResultsPane::CellMargins() const
{
    // The views' text margins, and the grid line, which the cell does not paint over.
    return 2 * (style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, table_) + 1) + 2;
}

// The pane's letters, narrower and at that share of their size.
QFont ResultsPane::TableFont(double scale) const
{
    QFont narrow = font();
    narrow.setStretch(scale < kTableFontScale ? QFont::Condensed : QFont::SemiCondensed);
    if (font().pointSizeF() > 0)
        narrow.setPointSizeF(font().pointSizeF() * scale);
    else
        narrow.setPixelSize(std::max(1, int(std::lround(font().pixelSize() * scale))));
    return narrow;
}

int ResultsPane::HeaderMargins() const
{
    return 2 * style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, pointerTable_) + 2;
}

// The column that holds the widest quantile and the widest quantile's title in those letters.
int ResultsPane::QuantileWidth(const QFont& letters) const
{
    const QFontMetrics metrics(letters);
    return std::max(metrics.horizontalAdvance(kWidestQuantile) + CellMargins(),
                    metrics.horizontalAdvance(TableHeaders()[kFirstQuantile + 6]) + HeaderMargins());
}

// The largest letters with which the seven quantiles and the narrowest name
// lie in view, even beside the runs' vertical scroll bar, so that no quantile
// needs scrolling sideways.
void ResultsPane::FitFont()
{
    const int room = pointerTable_->viewport()->width() - table_->verticalScrollBar()->sizeHint().width() -
                     kNarrowestName;
    double scale = kTableFontScale;
    while (7 * QuantileWidth(TableFont(scale)) > room &&
           QFontMetrics(TableFont(scale * kTableFontStep)).height() >= kSmallestTableLine)
        scale *= kTableFontStep;
    if (scale == tableFontScale_) {
        SpreadColumns();
        return;
    }
    tableFontScale_ = scale;
    FitColumns(TableFont(scale));
}

// Each column as wide as the widest value it can hold, and its title, in the
// tables' letters.
void ResultsPane::FitColumns(const QFont& narrow)
{
    for (QTableWidget* table : {pointerTable_, table_}) {
        table->setFont(narrow);
        table->horizontalHeader()->setFont(narrow);
        table->verticalHeader()->setDefaultSectionSize(QFontMetrics(narrow).height() + 6);
    }
    QFont italic = narrow;
    italic.setItalic(true);
    pointerTable_->item(0, kReport)->setFont(italic);
    pointerTable_->setFixedHeight(pointerTable_->horizontalHeader()->sizeHint().height() +
                                  pointerTable_->verticalHeader()->defaultSectionSize() + 2 * pointerTable_->frameWidth());

    const QFontMetrics metrics(narrow);
    const QStringList headers = TableHeaders();
    const int headerMargins = HeaderMargins();
    const auto fit = [&](int column, const QString& widest) {
        const int width = std::max(metrics.horizontalAdvance(widest) + CellMargins(),
                                   metrics.horizontalAdvance(headers[column]) + headerMargins);
        pointerTable_->setColumnWidth(column, width);
        return width;
    };
    quantileWidth_ = QuantileWidth(narrow);
    for (const int column : {kEast, kNorth, kCentreEast, kCentreNorth})
        fit(column, QStringLiteral("2400000,5"));
    for (const int column : {kRow, kColumn})
        fit(column, QStringLiteral("888"));
    for (const int column : {kA2, kA1, kCv})
        fit(column, QStringLiteral("0,12345678"));
    SpreadColumns();
}

// The width the longest name of the two tables needs, with its colour mark.
int ResultsPane::LongestName() const
{
    const QTableWidgetItem* pointer = pointerTable_->item(0, kReport);
    int widest = QFontMetrics(pointer->font()).horizontalAdvance(pointer->text());
    const QFontMetrics metrics(table_->font());
    for (int row = 0; row < table_->rowCount(); ++row)
        widest = std::max(widest, metrics.horizontalAdvance(table_->item(row, kReport)->text()));
    const int iconSpacing = 2 * style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, table_);
    return widest + kIcon + iconSpacing + CellMargins();
}

// The names' column takes what the quantiles leave, up to its longest name; a
// name cut short shows whole in its tooltip. Room beyond that widens the
// quantiles a little; the rest shows the columns after them.
void ResultsPane::SpreadColumns()
{
    const int room =
        std::min(pointerTable_->viewport()->width(), table_->viewport()->width()) - 7 * quantileWidth_;
    const int name = std::max(kNarrowestName, std::min(room, LongestName()));
    pointerTable_->setColumnWidth(kReport, name);
    const int growth = std::clamp((room - name) / 7, 0, int(quantileWidth_ * kMostQuantileGrowth));
    for (int i = 0; i < 7; ++i)
        pointerTable_->setColumnWidth(kFirstQuantile + i, quantileWidth_ + growth);
}

void ResultsPane::ArrangeButtons()
{
    std::vector<QWidget*> buttons;
    int widest = 0;
    for (int i = 0; i < buttons_->count(); ++i) {
        buttons.push_back(buttons_->itemAt(i)->widget());
        widest = std::max(widest, buttons.back()->sizeHint().width());
    }
    const int columns =
        kButtonColumns * widest + (kButtonColumns - 1) * buttons_->spacing() <= kButtonsRoom ? kButtonColumns : 2;
    for (QWidget* button : buttons)
        buttons_->removeWidget(button);
    for (std::size_t i = 0; i < buttons.size(); ++i)
        buttons_->addWidget(buttons[i], int(i) / columns, int(i) % columns);
}

QPushButton* ResultsPane::AddButton(const QString& text, const QString& tooltip)
{
    auto* button = new QPushButton(text);
    button->setToolTip(tooltip);
    const int index = buttons_->count();
    buttons_->addWidget(button, index / kButtonColumns, index % kButtonColumns);
    return button;
}

void ResultsPane::AddRun(const PointRunResult& run)
{
    const QString path = ReportPath(run);
    for (std::size_t row = 0; row < runs_.size(); ++row) {
        if (replaced_[row] || ReportPath(runs_[row]) != path)
            continue;
        replaced_[row] = true;
        QTableWidgetItem* name = table_->item(int(row), kReport);
        name->setText(ReportFile(runs_[row]) + QStringLiteral(" (sostituito)"));
        name->setToolTip(QStringLiteral("%1\n%2\nSostituito da un'elaborazione successiva con lo stesso nome: il file "
                                        "non contiene più i valori di questa riga.")
                             .arg(name->text(), QDir::toNativeSeparators(path)));
        name->setForeground(palette().color(QPalette::Disabled, QPalette::Text));
    }
    runs_.insert(runs_.begin(), run);
    replaced_.insert(replaced_.begin(), false);
    const QSignalBlocker quiet(table_);
    table_->insertRow(0);
    auto* name = new QTableWidgetItem(ReportFile(run));
    name->setToolTip(ReportFile(run) + u'\n' + QDir::toNativeSeparators(path));
    table_->setItem(0, kReport, name);
    SetCells(*table_, 0, TableCells(run.point, run.rain));
    table_->clearSelection();
    table_->selectRow(0);
    SpreadColumns();
    SelectionChanged();
}

void ResultsPane::ShowPointer(const PointerReading& reading)
{
    pointer_ = reading;
    const QSignalBlocker quiet(pointerTable_);
    const bool spanned = pointerTable_->columnSpan(0, kFirstQuantile) > 1;
    if (reading.rain.has_value() == spanned)
        pointerTable_->setSpan(0, kFirstQuantile, 1, reading.rain ? 1 : 7);
    SetCells(*pointerTable_, 0, TableCells(reading.point, reading.rain));
    QTableWidgetItem* first = pointerTable_->item(0, kFirstQuantile);
    first->setTextAlignment(reading.rain ? Qt::AlignRight | Qt::AlignVCenter : Qt::AlignCenter);
    if (!reading.rain)
        first->setText(reading.note);
    const QLocale locale;
    pointerTable_->item(0, kReport)->setToolTip(
        QStringLiteral("Valori del punto sotto il puntatore (E %1, N %2), o del punto scelto mentre la sua finestra è "
                       "aperta. Non scrive nulla.")
            .arg(Exact(reading.point.x, locale), Exact(reading.point.y, locale)));
    ShowCurves(false);
    ShowDurations();
}

// Drawn only while the tab is shown: the pointer moves often.
void ResultsPane::ShowDurations()
{
    if (views_->currentWidget() != durationsPage_)
        return;
    const std::vector<int> selected = SelectedRows();
    const PointRunResult* run = selected.empty() ? nullptr : &runs_[std::size_t(selected.front())];
    durations_->Show(law_, run ? std::optional(run->rain) : std::nullopt, run ? ReportFile(*run) : QString(),
                     pointer_ ? pointer_->rain : std::nullopt);
}

std::vector<RunMark> ResultsPane::Marks() const
{
    const std::vector<int> selected = SelectedRows();
    std::vector<RunMark> marks;
    marks.reserve(runs_.size());
    for (std::size_t row = 0; row < runs_.size(); ++row) {
        const PointRunResult& run = runs_[row];
        const GaussBoagaPoint& centre = run.rain.centre;
        marks.push_back({run.point.x, run.point.y,
                         {centre.x - kHalfCell, centre.x + kHalfCell, centre.y - kHalfCell, centre.y + kHalfCell},
                         row == 0 || std::find(selected.begin(), selected.end(), int(row)) != selected.end()});
    }
    return marks;
}

QString ResultsPane::CopyText(const QLocale& locale) const
{
    QString text = CopyHeaders().join(u'\t') + u'\n';
    for (const int row : SelectedRows()) {
        const PointRunResult& run = runs_[std::size_t(row)];
        text += ReportFile(run) + u'\t' + Numbers(run, locale).join(u'\t') + u'\n';
    }
    return text;
}

std::string ResultsPane::CsvText(bool italian) const
{
    const std::string separator = italian ? ";" : ",";
    std::string text = italian ? "\xEF\xBB\xBF" : "";
    const char* const columns[] = {"report", "E",  "N",  "riga", "colonna", "centro_E", "centro_N", "a2", "a1",
                                   "cv",     "q2", "q5", "q10",  "q20",     "q50",      "q100",     "q200", "sostituito"};
    for (const char* column : columns)
        text += (column == columns[0] ? "" : separator) + column;
    text += '\n';
    QLocale comma(QLocale::Italian, QLocale::Italy);
    comma.setNumberOptions(QLocale::OmitGroupSeparator);
    for (std::size_t row = 0; row < runs_.size(); ++row) {
        const PointRunResult& run = runs_[row];
        if (italian)
            AppendItalianField(text, ReportFile(run).toStdString());
        else
            AppendField(text, ReportFile(run).toStdString());
        for (const QString& number : Numbers(run, italian ? comma : QLocale::c()))
            text += separator + number.toStdString();
        text += separator + (replaced_[row] ? "s\xC3\xAC" : "no");
        text += '\n';
    }
    return text;
}

std::vector<int> ResultsPane::SelectedRows() const
{
    std::vector<int> rows;
    for (const QModelIndex& index : table_->selectionModel()->selectedRows())
        rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

QString ResultsPane::ReportPath(const PointRunResult& run) const
{
    return QString::fromStdString(quorvel::ReportPath(run.appFolder, run.outputName));
}

QString ResultsPane::OutputFolder() const
{
    return runs_.empty() ? QString() : QString::fromStdString(runs_.front().appFolder + kOutputFolder);
}

void ResultsPane::SelectionChanged()
{
    const std::vector<int> selected = SelectedRows();
    openReport_->setEnabled(!selected.empty());
    copy_->setEnabled(!selected.empty());
    exportPdf_->setEnabled(!selected.empty());
    openFolder_->setEnabled(!runs_.empty());
    export_->setEnabled(!runs_.empty());
    clear_->setEnabled(!runs_.empty());
    ShowCurves(true);
    ShowPreview();
    if (!runs_.empty()) {
        try {
            law_ = ReadDurationLaw(runs_.front().appFolder);
        } catch (const Error& error) {
            law_.reset();
            durations_->setToolTip(QString::fromStdString(ItalianMessage(error)));
        }
    }
    views_->setTabVisible(views_->indexOf(durationsPage_), law_.has_value());
    ShowDurations();
    emit MarksChanged();
}

// Read only while the view is shown: the runs' selection changes often.
void ResultsPane::ShowPreview()
{
    if (views_->currentWidget() != preview_)
        return;
    const std::vector<int> selected = SelectedRows();
    if (selected.empty()) {
        preview_->ShowNote(QStringLiteral("Selezionare una riga per vederne il report."));
        return;
    }
    const std::size_t row = std::size_t(selected.front());
    if (replaced_[row]) {
        preview_->ShowNote(QStringLiteral("Il report di questa riga è stato sostituito da un'elaborazione "
                                          "successiva con lo stesso nome."));
        return;
    }
    try {
        preview_->Show(ReadSheetPreview(ReportPath(runs_[row]).toStdString()));
    } catch (const Error& error) {
        preview_->ShowNote(QString::fromStdString(ItalianMessage(error)).replace(u'\n', u' '));
    }
}

// The pointer's curve and the selected rows' curves; the colours go in table
// order, so twelve rows differ. With marks, each row's name shows its colour.
void ResultsPane::ShowCurves(bool marks)
{
    const std::vector<int> selected = SelectedRows();
    std::vector<RainCurve> curves;
    if (pointer_ && pointer_->rain)
        curves.push_back({kPointerName, pointer_->rain->quantiles.InOrder(), kPointerColour, true});
    for (int row = 0; marks && row < table_->rowCount(); ++row)
        table_->item(row, kReport)->setIcon({});
    for (std::size_t i = 0; i < selected.size(); ++i) {
        const int row = selected[i];
        const PointRunResult& run = runs_[std::size_t(row)];
        const QColor colour = CurveColour(i);
        curves.push_back({table_->item(row, kReport)->text(), run.rain.quantiles.InOrder(), colour, false});
        if (marks)
            table_->item(row, kReport)->setIcon(Swatch(colour, false));
    }
    // What a saved chart would hold.
    const bool savable = !selected.empty() || (savePointer_->isChecked() && pointer_ && pointer_->rain);
    saveChart_->setEnabled(savable);
    saveChartAction_->setEnabled(savable);
    chart_->SetCurves(std::move(curves));
}

void ResultsPane::OpenReport()
{
    const std::vector<int> selected = SelectedRows();
    if (selected.empty())
        return;
    const std::size_t row = std::size_t(selected.front());
    const QString path = ReportPath(runs_[row]);
    if (replaced_[row]) {
        reporter_.Message(this, QStringLiteral("Il report %1 è stato sostituito da un'elaborazione successiva con lo "
                                               "stesso nome: non contiene più i valori di questa riga.")
                                    .arg(QDir::toNativeSeparators(path)));
        return;
    }
    if (!QFileInfo::exists(path)) {
        reporter_.Message(this, QStringLiteral("Il report %1 non esiste più: forse è stato spostato o cancellato.")
                                    .arg(QDir::toNativeSeparators(path)));
        return;
    }
    // The answer may come when the pane is gone, as the program ends.
    desktop_->Open(path, [pane = QPointer(this), path] {
        if (pane)
            pane->reporter_.Message(pane, QStringLiteral("Nessun programma del desktop ha aperto il report %1: "
                                                         "aprirlo a mano con un foglio di calcolo.")
                                              .arg(QDir::toNativeSeparators(path)));
    });
}

void ResultsPane::OpenFolder()
{
    const QString folder = OutputFolder();
    if (folder.isEmpty())
        return;
    desktop_->Open(folder, [pane = QPointer(this), folder] {
        if (pane)
            pane->reporter_.Message(pane, QStringLiteral("Nessun programma del desktop ha aperto la cartella %1: "
                                                         "aprirla a mano con il gestore dei file.")
                                              .arg(QDir::toNativeSeparators(folder)));
    });
}

void ResultsPane::Copy()
{
    QApplication::clipboard()->setText(CopyText());
}

void ResultsPane::ExportCsv()
{
    if (runs_.empty())
        return;
    QString format = italianCsv_ ? kItalianCsv : kStandardCsv;
    QString path = desktop_->SaveFileName(this, QStringLiteral("Esporta i risultati"),
                                          QDir(OutputFolder()).filePath(QStringLiteral("risultati.csv")),
                                          kStandardCsv + QStringLiteral(";;") + kItalianCsv, &format);
    if (path.isEmpty())
        return;
    italianCsv_ = format == kItalianCsv;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".csv");
    QSaveFile file(path);
    const std::string text = CsvText(italianCsv_);
    if (!file.open(QIODevice::WriteOnly) || file.write(text.data(), qint64(text.size())) != qint64(text.size()) ||
        !file.commit())
        reporter_.Message(this, QStringLiteral("Impossibile salvare %1.\n%2")
                                    .arg(QDir::toNativeSeparators(path), file.errorString()));
}

void ResultsPane::SaveChart()
{
    const QString png = QStringLiteral("Immagine PNG (*.png)");
    const QString svg = QStringLiteral("Disegno SVG (*.svg)");
    QString format = png;
    const QString folder = runs_.empty() ? QDir::currentPath() : OutputFolder();
    QString path = desktop_->SaveFileName(this, QStringLiteral("Salva il grafico"),
                                          QDir(folder).filePath(QStringLiteral("grafico.png")),
                                          png + QStringLiteral(";;") + svg, &format);
    if (path.isEmpty())
        return;
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix != QLatin1String("png") && suffix != QLatin1String("svg"))
        path += format == svg ? QStringLiteral(".svg") : QStringLiteral(".png");
    if (!chart_->SaveTo(path, savePointer_->isChecked()))
        reporter_.Message(this, QStringLiteral("Impossibile salvare il grafico in %1.").arg(QDir::toNativeSeparators(path)));
}

void ResultsPane::SetSheetWriter(SheetWriter writer)
{
    sheetWriter_ = std::move(writer);
    exportPdf_->setVisible(bool(sheetWriter_));
}

void ResultsPane::ExportPdf()
{
    const std::vector<int> selected = SelectedRows();
    if (selected.empty())
        return;
    const PointRunResult& run = runs_[std::size_t(selected.front())];
    const QString suggested =
        QDir(OutputFolder()).filePath(QString::fromStdString(run.outputName) + QStringLiteral(".pdf"));
    QString path = desktop_->SaveFileName(this, QStringLiteral("Esporta la scheda PDF"), suggested,
                                          QStringLiteral("Documento PDF (*.pdf)"));
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().toLower() != QLatin1String("pdf"))
        path += QStringLiteral(".pdf");
    try {
        sheetWriter_(run, path.toStdString());
    } catch (const Error& error) {
        ReportFailure(reporter_, this, error);
    }
}

void ResultsPane::Clear()
{
    // One run is quickly made again; a list of them is not.
    if (runs_.size() > 1 &&
        !reporter_.Ask(this, QStringLiteral("Svuotare l'elenco delle %1 elaborazioni? I report e il registro "
                                            "restano.")
                                 .arg(runs_.size())))
        return;
    runs_.clear();
    replaced_.clear();
    const QSignalBlocker quiet(table_);
    table_->setRowCount(0);
    SelectionChanged();
}

}  // namespace quorvel
