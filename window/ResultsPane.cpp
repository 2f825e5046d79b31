#include "window/ResultsPane.h"

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineSeries>
#include <QLogValueAxis>
#include <QPushButton>
#include <QSaveFile>
#include <QSplitter>
#include <QTableWidget>
#include <QValueAxis>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <limits>

#include "report/CsvText.h"
#include "report/Report.h"
#include "window/Desktop.h"
#include "window/Reporter.h"

namespace quorvel {

namespace {

constexpr double kHalfCell = 250;  // metres: the grid's cells are 500 m squares

enum Column { kReport, kEast, kNorth, kRow, kColumn, kCentreEast, kCentreNorth, kA2, kA1, kCv, kFirstQuantile };
constexpr int kColumns = kFirstQuantile + 7;

QStringList Headers()
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

// Every column of a run but the report's name, as text for a person.
QStringList Numbers(const PointRunResult& run, const QLocale& locale, bool quantilesRounded)
{
    const PointRain& rain = run.rain;
    QStringList numbers{Exact(run.point.x, locale),       Exact(run.point.y, locale),
                        QString::number(rain.cell.row),   QString::number(rain.cell.column),
                        Exact(rain.centre.x, locale),     Exact(rain.centre.y, locale),
                        Exact(rain.a2, locale),           Exact(rain.a1, locale),
                        Exact(rain.cv, locale)};
    for (const float q : rain.quantiles.InOrder())
        numbers << (quantilesRounded ? locale.toString(q, 'f', 1) : Exact(q, locale));
    return numbers;
}

QPushButton* AddButton(QBoxLayout* layout, const QString& text, const QString& tooltip)
{
    auto* button = new QPushButton(text);
    button->setToolTip(tooltip);
    layout->addWidget(button);
    return button;
}

}  // namespace

ResultsPane::ResultsPane(Reporter& reporter, Desktop& desktop, QWidget* parent)
    : QDockWidget(QStringLiteral("Risultati"), parent), reporter_(reporter), desktop_(&desktop)
{
    setObjectName(QStringLiteral("Risultati"));
    setAllowedAreas(Qt::BottomDockWidgetArea | Qt::RightDockWidgetArea | Qt::LeftDockWidgetArea);

    auto* body = new QWidget;
    auto* layout = new QVBoxLayout(body);
    layout->setContentsMargins(4, 4, 4, 4);
    auto* buttons = new QHBoxLayout;
    layout->addLayout(buttons);
    openReport_ = AddButton(buttons, QStringLiteral("Apri report"),
                            QStringLiteral("Apre il report della riga selezionata nel foglio di calcolo"));
    openFolder_ = AddButton(buttons, QStringLiteral("Apri cartella"),
                            QStringLiteral("Apre la cartella dei report"));
    copy_ = AddButton(buttons, QStringLiteral("Copia"),
                      QStringLiteral("Copia le righe selezionate negli appunti, pronte da incollare in un foglio "
                                     "di calcolo"));
    export_ = AddButton(buttons, QStringLiteral("Esporta CSV…"),
                        QStringLiteral("Salva l'intero elenco in un file CSV"));
    clear_ = AddButton(buttons, QStringLiteral("Pulisci"),
                       QStringLiteral("Svuota l'elenco e toglie i segni dei punti dalla mappa"));
    buttons->addStretch();
    connect(openReport_, &QPushButton::clicked, this, &ResultsPane::OpenReport);
    connect(openFolder_, &QPushButton::clicked, this, &ResultsPane::OpenFolder);
    connect(copy_, &QPushButton::clicked, this, &ResultsPane::Copy);
    connect(export_, &QPushButton::clicked, this, &ResultsPane::ExportCsv);
    connect(clear_, &QPushButton::clicked, this, &ResultsPane::Clear);

    table_ = new QTableWidget(0, kColumns);
    table_->setObjectName(QStringLiteral("RisultatiTable"));
    table_->setHorizontalHeaderLabels(Headers());
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->setVisible(false);
    table_->setWordWrap(false);
    connect(table_, &QTableWidget::itemSelectionChanged, this, &ResultsPane::SelectionChanged);
    connect(table_, &QTableWidget::cellDoubleClicked, this, [this](int row, int) {
        if (row >= 0 && row < int(runs_.size()))
            emit ZoomRequested(runs_[std::size_t(row)]);
    });

    auto* chart = new QChart;
    chart->legend()->setAlignment(Qt::AlignBottom);
    chart->setMargins(QMargins(2, 2, 2, 2));
    auto* periods = new QLogValueAxis;
    periods->setBase(10);
    periods->setRange(2, 200);
    periods->setMinorTickCount(8);
    periods->setLabelFormat(QStringLiteral("%g"));
    periods->setTitleText(QStringLiteral("Tempo di ritorno (anni)"));
    auto* rain = new QValueAxis;
    rain->setTitleText(QStringLiteral("Pioggia (mm)"));
    rain->setLabelFormat(QStringLiteral("%.0f"));
    chart->addAxis(periods, Qt::AlignBottom);
    chart->addAxis(rain, Qt::AlignLeft);
    chart_ = new QChartView(chart);
    chart_->setObjectName(QStringLiteral("RisultatiChart"));
    chart_->setRenderHint(QPainter::Antialiasing);
    chart_->setMinimumSize(320, 220);

    auto* split = new QSplitter(Qt::Horizontal);
    split->addWidget(table_);
    split->addWidget(chart_);
    split->setChildrenCollapsible(false);
    split->setSizes({550, 450});
    layout->addWidget(split);
    setWidget(body);
    SelectionChanged();
}

void ResultsPane::AddRun(const PointRunResult& run)
{
    runs_.insert(runs_.begin(), run);
    const QSignalBlocker quiet(table_);
    table_->insertRow(0);
    const QLocale locale;
    auto* name = new QTableWidgetItem(ReportFile(run));
    name->setToolTip(ReportPath(run));
    table_->setItem(0, kReport, name);
    const QStringList numbers = Numbers(run, locale, true);
    for (int column = kEast; column < kColumns; ++column) {
        auto* item = new QTableWidgetItem(numbers[column - kEast]);
        item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        table_->setItem(0, column, item);
    }
    table_->clearSelection();
    table_->selectRow(0);
    table_->resizeColumnsToContents();
    SelectionChanged();
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
    QString text = Headers().join(u'\t') + u'\n';
    for (const int row : SelectedRows()) {
        const PointRunResult& run = runs_[std::size_t(row)];
        text += ReportFile(run) + u'\t' + Numbers(run, locale, false).join(u'\t') + u'\n';
    }
    return text;
}

std::string ResultsPane::CsvText() const
{
    std::string text = "report,E,N,riga,colonna,centro_E,centro_N,a2,a1,cv,q2,q5,q10,q20,q50,q100,q200\n";
    for (const PointRunResult& run : runs_) {
        AppendField(text, ReportFile(run).toStdString());
        const QStringList numbers = Numbers(run, QLocale::c(), false);
        for (const QString& number : numbers)
            text += ',' + number.toStdString();
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
    openFolder_->setEnabled(!runs_.empty());
    export_->setEnabled(!runs_.empty());
    clear_->setEnabled(!runs_.empty());

    QChart* chart = chart_->chart();
    chart->removeAllSeries();
    QAbstractAxis* periods = chart->axes(Qt::Horizontal).front();
    auto* rain = static_cast<QValueAxis*>(chart->axes(Qt::Vertical).front());
    float low = std::numeric_limits<float>::infinity();
    float high = -low;
    for (const int row : selected) {
        const PointRunResult& run = runs_[std::size_t(row)];
        auto* series = new QLineSeries;
        series->setName(ReportFile(run));
        series->setPointsVisible(true);
        const auto quantiles = run.rain.quantiles.InOrder();
        for (std::size_t i = 0; i < quantiles.size(); ++i) {
            series->append(kReturnPeriods[i], quantiles[i]);
            low = std::min(low, quantiles[i]);
            high = std::max(high, quantiles[i]);
        }
        chart->addSeries(series);
        series->attachAxis(periods);
        series->attachAxis(rain);
    }
    if (std::isfinite(low) && std::isfinite(high)) {
        rain->setRange(std::floor(low * 0.9), std::ceil(high * 1.05) + 1);
        rain->applyNiceNumbers();
    }
    emit MarksChanged();
}

void ResultsPane::OpenReport()
{
    const std::vector<int> selected = SelectedRows();
    if (selected.empty())
        return;
    const QString path = ReportPath(runs_[std::size_t(selected.front())]);
    if (!QFileInfo::exists(path)) {
        reporter_.Message(this, QStringLiteral("Il report %1 non esiste più: forse è stato spostato o cancellato.")
                                    .arg(QDir::toNativeSeparators(path)));
        return;
    }
    if (!desktop_->Open(path))
        reporter_.Message(this, QStringLiteral("Impossibile aprire il report %1: nessun programma del desktop "
                                               "apre i file .xls.")
                                    .arg(QDir::toNativeSeparators(path)));
}

void ResultsPane::OpenFolder()
{
    const QString folder = OutputFolder();
    if (!folder.isEmpty() && !desktop_->Open(folder))
        reporter_.Message(this, QStringLiteral("Impossibile aprire la cartella %1.").arg(QDir::toNativeSeparators(folder)));
}

void ResultsPane::Copy()
{
    QApplication::clipboard()->setText(CopyText());
}

void ResultsPane::ExportCsv()
{
    if (runs_.empty())
        return;
    const QString path = desktop_->SaveFileName(this, QStringLiteral("Esporta i risultati"),
                                                QDir(OutputFolder()).filePath(QStringLiteral("risultati.csv")),
                                                QStringLiteral("File CSV (*.csv)"));
    if (path.isEmpty())
        return;
    QSaveFile file(path);
    const std::string text = CsvText();
    if (!file.open(QIODevice::WriteOnly) || file.write(text.data(), qint64(text.size())) != qint64(text.size()) ||
        !file.commit())
        reporter_.Message(this, QStringLiteral("Impossibile salvare %1.\n%2")
                                    .arg(QDir::toNativeSeparators(path), file.errorString()));
}

void ResultsPane::Clear()
{
    runs_.clear();
    const QSignalBlocker quiet(table_);
    table_->setRowCount(0);
    SelectionChanged();
}

}  // namespace quorvel
