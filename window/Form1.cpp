#include "window/Form1.h"

#include <functional>
#include <map>

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QToolButton>

#include "crs/Crs.h"
#include "window/ComuniTable.h"
#include "window/CoordinateText.h"
#include "maplayers/DetailView.h"
#include "window/FormStyle.h"
#include "maplayers/LayerTable.h"
#include "window/MunicipalityFinder.h"
#include "window/MunicipalitySearch.h"
#include "window/RainfallMapBox.h"
#include "window/Reporter.h"
#include "window/StatusLines.h"
#include "window/ResultsPane.h"
#include "window/SvgArt.h"
#include "rain/Error.h"
#include "rain/PointRun.h"
#include "rain/SampleMark.h"

namespace quorvel {

namespace {

constexpr QRect kClientArea = TwipsRect(0, 0, 14655, 11145);
constexpr QRect kMapArea = TwipsRect(240, 1800, 14175, 9135);
// The smallest window: a 1366 x 768 screen holds it with a title bar and a task bar.
constexpr QSize kSmallestWindow(800, 600);
// In a window narrower than the default the controls above the map move left
// by this much, so that the read-out's frame lines up with the map's.
constexpr int kNarrowShift = TwipsRect(2280 - 240, 0, 0, 0).left();
constexpr int kSmallestMapHeight = 150;
// The pane's width until the user changes it: the map keeps 600 pixels at the default size.
constexpr int kDefaultPaneWidth = 348;
// Beside the pane the map's frame needs no margin of its own.
constexpr int kPaneMargin = 4;
constexpr int kHandleWidth = 6;
constexpr QSize kResultsButton(70, 26);
constexpr QSize kRainfallBox(170, 26);

// One straight frame line, in twips, with its width in pixels.
struct FrameLine {
    int x1, y1, x2, y2;
    int width;
};

// The frames around the coordinate read-out, the tool buttons and the
// municipality selector. The map's frame follows the map.
constexpr FrameLine kBandFrameLines[12] = {
    {2280, 480, 5760, 480, 2},      {2280, 480, 2280, 1320, 2},
    {2280, 1320, 5760, 1320, 2},    {5760, 480, 5760, 1320, 2},
    {5880, 480, 9960, 480, 2},      {5880, 480, 5880, 1320, 2},
    {5880, 1320, 9960, 1320, 2},    {9960, 480, 9960, 1320, 2},
    {10080, 480, 12720, 480, 2},    {10080, 480, 10080, 1680, 2},
    {10080, 1680, 12720, 1680, 2},  {12720, 480, 12720, 1680, 2},
};

// The window's surface: the frame lines lie under the controls, as drawn
// lines do. Each resize lays the controls out again.
class FormSurface : public QWidget {
public:
    FormSurface(QWidget* parent, std::function<void()> relayout) : QWidget(parent), relayout_(std::move(relayout)) {}

    QWidget* map = nullptr;
    int bandShift = 0;

protected:
    void resizeEvent(QResizeEvent*) override { relayout_(); }

    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        const QColor ink = palette().color(QPalette::WindowText);
        const auto line = [&](QPointF from, QPointF to, int width) {
            painter.setPen(QPen(ink, width, Qt::SolidLine, Qt::SquareCap));
            painter.drawLine(from, to);
        };
        if (map != nullptr) {
            // Four pixels wide at the top and left, five at the bottom and right.
            const QRect r(map->mapTo(this, QPoint(0, 0)), map->size());
            line(r.topLeft(), r.topRight(), 4);
            line(r.topLeft(), r.bottomLeft(), 4);
            line(r.bottomLeft(), r.bottomRight(), 5);
            line(r.topRight(), r.bottomRight(), 5);
        }
        const QPointF shift(bandShift, 0);
        for (const FrameLine& frame : kBandFrameLines)
            line(QPointF(frame.x1, frame.y1) / kTwipsPerPixel - shift,
                 QPointF(frame.x2, frame.y2) / kTwipsPerPixel - shift, frame.width);
    }

private:
    std::function<void()> relayout_;
};

QPixmap Picture(const QString& resource, const QRect& box, const QWidget* on)
{
    return SvgPixmap(resource, box.size(), on->devicePixelRatioF());
}

}  // namespace

Form1::Form1(MapView& map, QWidget* mapWidget, Reporter& reporter, PointDialogs* dialogs, QWidget* parent)
    : QMainWindow(parent), map_(map), reporter_(reporter), dialogs_(dialogs), tools_(this)
{
    setWindowTitle(QStringLiteral("Quorvel 2.0"));
    setWindowIcon(SvgIcon(QStringLiteral(":/icons/cloud.svg")));
    setFont(FormFont(8.25));

    // The window's input is taken away by disabling this surface, never the
    // window itself: a disabled window would disable its dialogs too.
    auto* surface = new FormSurface(this, [this] { Relayout(); });
    content_ = surface;
    content_->setObjectName(QStringLiteral("Form1Content"));
    // The selector's frame, moved left, and the map's margin beside it.
    content_->setMinimumSize(TwipsRect(12720 + 240, 0, 0, 0).left() - kNarrowShift,
                             kMapArea.top() + kSmallestMapHeight + (kClientArea.height() - kMapArea.bottom()));
    setCentralWidget(content_);
    resize(kClientArea.size());
    setMinimumSize(kSmallestWindow);

    QWidget* map1 = mapWidget;
    if (map1 == nullptr) {
        map1 = new QWidget;
        map1->setAutoFillBackground(true);
        QPalette grey = map1->palette();
        grey.setColor(QPalette::Window, QColor(192, 192, 192));
        map1->setPalette(grey);
    }
    mapAndPane_ = new QSplitter(Qt::Horizontal, content_);
    mapAndPane_->setObjectName(QStringLiteral("MapAndResults"));
    mapAndPane_->setChildrenCollapsible(false);
    mapAndPane_->setHandleWidth(kHandleWidth);
    mapAndPane_->setGeometry(kMapArea);
    mapAndPane_->addWidget(map1);
    map1->setObjectName(QStringLiteral("Map1"));
    map1->setMinimumWidth(kSmallestMapWidth);
    Map1_ = map1;
    surface->map = map1;
    map_.SetBackColor(Rgb(192, 192, 192));
    map_.SetEventSink(this);

    auto* picture2 = new QLabel(content_);
    picture2->setObjectName(QStringLiteral("Picture2"));
    picture2->setGeometry(TwipsRect(720, 120, 600, 855));
    picture2->setPixmap(Picture(QStringLiteral(":/icons/emblem.svg"), picture2->geometry(), this));

    const QFont small = FormFont(8.25);
    const QFont smallBold = FormFont(8.25, true);
    const QFont smallBoldItalic = FormFont(8.25, true, true);
    const QFont large = FormFont(9.75);
    const QFont largeBold = FormFont(9.75, true);

    AddLabel("Label9", TwipsRect(180, 960, 1695, 615), QStringLiteral("Regione Autonoma Tervania"), smallBoldItalic)
        ->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    AddLabel("Label5", TwipsRect(2400, 600, 1575, 615), QStringLiteral("Coordinate Gauss-Boaga Fuso Est"), smallBold)
        ->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    AddLabel("Label3", TwipsRect(4080, 600, 135, 255), QStringLiteral("E"), largeBold);
    AddLabel("Label4", TwipsRect(4080, 960, 135, 255), QStringLiteral("N"), largeBold);
    Label1_ = AddLabel("Label1", TwipsRect(4320, 600, 975, 255), {}, large);
    Label2_ = AddLabel("Label2", TwipsRect(4320, 960, 975, 255), {}, large);
    for (QLabel* readOut : {Label1_, Label2_}) {
        readOut->setAlignment(Qt::AlignCenter);
        readOut->setFrameShape(QFrame::Box);
        readOut->setLineWidth(1);
        readOut->setAutoFillBackground(true);
        readOut->setBackgroundRole(QPalette::Base);
        readOut->setForegroundRole(QPalette::Text);
    }
    // The same point in WGS84, under the read-out's frame, for those who
    // compare it with a phone or a web map.
    wgs84_ = AddLabel("LabelWgs84", TwipsRect(2280, 1365, 3480, 240), {}, small);
    wgs84_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    wgs84_->setToolTip(QStringLiteral("Posizione del puntatore in WGS84 (latitudine, longitudine), convertita "
                                      "con la trasformazione EPSG:1660, precisa a circa 4 m"));
    AddLabel("Label6", TwipsRect(5400, 600, 255, 255), QStringLiteral("m"), smallBold);
    AddLabel("Label7", TwipsRect(5400, 960, 255, 255), QStringLiteral("m"), smallBold);

    connect(AddToolButton("CmdPan", TwipsRect(6000, 600, 615, 615), QStringLiteral("Pan"),
                          QStringLiteral(":/icons/pan.svg"), MapTool::Pan),
            &QToolButton::clicked, this, &Form1::CmdPanClicked);
    connect(AddToolButton("CmdZoomIn", TwipsRect(6600, 600, 615, 615), QStringLiteral("Zoom in"),
                          QStringLiteral(":/icons/zoom-in.svg"), MapTool::ZoomIn),
            &QToolButton::clicked, this, &Form1::CmdZoomInClicked);
    connect(AddToolButton("CmdZoomOut", TwipsRect(7200, 600, 615, 615), QStringLiteral("Zoom out"),
                          QStringLiteral(":/icons/zoom-out.svg"), MapTool::ZoomOut),
            &QToolButton::clicked, this, &Form1::CmdZoomOutClicked);
    connect(AddToolButton("Command3", TwipsRect(7800, 600, 615, 615), QStringLiteral("Zoom alle estensioni"),
                          QStringLiteral(":/icons/full-extent.svg")),
            &QToolButton::clicked, this, &Form1::Command3Clicked);
    connect(AddToolButton("Command1", TwipsRect(8640, 600, 615, 615),
                          QStringLiteral("Individuare il punto sulla cartografia"), QStringLiteral(":/icons/pick.svg"),
                          MapTool::Pick),
            &QToolButton::clicked, this, &Form1::Command1Clicked);
    connect(AddToolButton("Command2", TwipsRect(9240, 600, 615, 615), QStringLiteral("Digitare le coordinate del punto"),
                          QStringLiteral(":/icons/type-coords.svg")),
            &QToolButton::clicked, this, &Form1::Command2Clicked);

    AddLabel("Label10", TwipsRect(10200, 600, 2415, 255), QStringLiteral("Selezionare il comune"), smallBold)
        ->setAlignment(Qt::AlignHCenter | Qt::AlignTop);

    // A name can be typed as well as chosen; completion offers the list's names
    // that contain what was typed, and the search then matches the text exactly.
    Combo1_ = new QComboBox(content_);
    Combo1_->setObjectName(QStringLiteral("Combo1"));
    Combo1_->setGeometry(TwipsRect(10200, 840, 2415, 315));
    Combo1_->setFont(small);
    Combo1_->setEditable(true);
    Combo1_->setInsertPolicy(QComboBox::NoInsert);
    Combo1_->setMaxVisibleItems(20);
    finder_ = new MunicipalityCompleter(Combo1_);
    Combo1_->setCompleter(finder_);
    // The finder fills the list before the box asks it to show.
    connect(Combo1_->lineEdit(), &QLineEdit::textEdited, finder_, &MunicipalityCompleter::Filter);
    connect(Combo1_->lineEdit(), &QLineEdit::returnPressed, this, &Form1::Command4Clicked);

    auto* command4 = new QPushButton(QStringLiteral("Visualizzare"), content_);
    command4->setObjectName(QStringLiteral("Command4"));
    command4->setGeometry(TwipsRect(10920, 1200, 1095, 375));
    command4->setFont(small);
    connect(command4, &QPushButton::clicked, this, &Form1::Command4Clicked);

    auto* picture1 = new QLabel(content_);
    picture1->setObjectName(QStringLiteral("Picture1"));
    picture1->setGeometry(TwipsRect(13560, 240, 495, 495));
    picture1->setPixmap(Picture(QStringLiteral(":/icons/cloud.svg"), picture1->geometry(), this));

    AddLabel("Label8", TwipsRect(13320, 720, 975, 495), QStringLiteral("Quorvel"), smallBoldItalic)
        ->setAlignment(Qt::AlignHCenter | Qt::AlignTop);

    // At the foot of the window, and only while there is something to say.
    status_ = new QLabel;
    status_->setObjectName(QStringLiteral("StatusLines"));
    status_->setFont(small);
    status_->setWordWrap(true);
    status_->setTextFormat(Qt::PlainText);  // file names, never markup
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    statusBar()->setSizeGripEnabled(false);
    statusBar()->addWidget(status_, 1);
    statusBar()->hide();
    for (QWidget* control : content_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (control != mapAndPane_)
            band_.emplace_back(control, control->geometry());
    for (const char* name : {"Picture1", "Picture2", "Label8", "Label9"})
        logos_.push_back(content_->findChild<QWidget*>(QLatin1String(name)));

    // Right-aligned above the map, clear of the logos and of the municipality selector.
    resultsButton_ = new QToolButton(content_);
    resultsButton_->setObjectName(QStringLiteral("CommandRisultati"));
    resultsButton_->setText(QStringLiteral("Risultati"));
    resultsButton_->setToolTip(QStringLiteral("Mostra o nasconde il riquadro dei risultati (Ctrl+R)"));
    resultsButton_->setCheckable(true);
    resultsButton_->setChecked(true);
    resultsButton_->setFont(small);
    resultsButton_->resize(kResultsButton);
    connect(resultsButton_, &QToolButton::clicked, this, &Form1::SetResultsVisible);
    auto* toggle = new QAction(QStringLiteral("Risultati"), this);
    toggle->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    connect(toggle, &QAction::triggered, this, [this] { SetResultsVisible(pane_->isHidden()); });
    addAction(toggle);

    // Over the map's top left corner, as the controls above it leave no room;
    // shown once there are maps to offer.
    rainfall_ = new RainfallMapBox(map_, reporter_, content_, content_);
    rainfall_->setFont(small);
    rainfall_->resize(kRainfallBox);
    rainfall_->hide();

    pane_ = new ResultsPane(reporter_, systemDesktop_);
    mapAndPane_->addWidget(pane_);
    mapAndPane_->setStretchFactor(0, 1);
    mapAndPane_->setStretchFactor(1, 0);
    connect(mapAndPane_, &QSplitter::splitterMoved, this, [this] {
        paneWidth_ = pane_->width();
        Relayout();
    });
    connect(pane_, &ResultsPane::MarksChanged, this, [this] { map_.SetRunMarks(pane_->Marks()); });
    connect(pane_, &ResultsPane::ZoomRequested, this, &Form1::ZoomToRun);
    connect(pane_, &ResultsPane::CloseRequested, this, [this] { SetResultsVisible(false); });
    pointValues_ = [this](GaussBoagaPoint point) { return grids_.Compute(point); };
    Relayout();
    // The window opens ready for a municipality's name.
    Combo1_->setFocus();
}

// The first focus shows its frame, as after a Tab; showing the window clears the flag.
void Form1::showEvent(QShowEvent* event)
{
    setAttribute(Qt::WA_KeyboardFocusChange);
    QMainWindow::showEvent(event);
}

Form1::~Form1()
{
    map_.SetEventSink(nullptr);
}

QLabel* Form1::AddLabel(const char* name, const QRect& geometry, const QString& text, const QFont& font)
{
    auto* label = new QLabel(text, content_);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(geometry);
    label->setFont(font);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

QToolButton* Form1::AddToolButton(const char* name, const QRect& geometry, const QString& tooltip,
                                  const QString& icon, MapTool tool)
{
    auto* button = new QToolButton(content_);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(geometry);
    button->setToolTip(tooltip);
    button->setIcon(SvgIcon(icon));
    button->setIconSize(QSize(32, 32));
    // Full extent and typing act once; the other four stay in force until another is chosen.
    if (tool != MapTool::None)
        tools_.Add(tool, button);
    return button;
}

void Form1::Load()
{
    map_.SetMapCursor(kArrow);
    map_.SetCursorMode(kNoTool);
    map_.SetSendMouseDown(false);
    map_.SetSendMouseMove(true);
    map_.SetSendMouseUp(true);
    map_.SetSendSelectBoxFinal(true);
    state_.distretto = QStringLiteral("UD");
    relief_ = AddLayerTable(map_);

    map_.SetOverlayLabels(LayerShapeNames(map_, kProvinceLayer, kProvinceNameField), kProvinceNamesMinWidth);
    // The working folder is the application folder.
    if (IsSyntheticSample(""))
        map_.SetNotice(kSampleWarning);

    const ComuniTable table = LoadComuniTable();
    QStringList names;
    for (int row = 1; row <= ComuniTable::kRows; ++row)
        names << table.Cell(row, 2);
    Combo1_->addItems(names);
    Combo1_->setCurrentIndex(-1);
    finder_->SetNames(names);
    OfferPlaces(table);
    ShowStatus();
    loaded_ = true;
}

void Form1::ShowStatus()
{
    const QString text = StatusLines(map_, relief_).join(QLatin1Char('\n'));
    if (text == status_->text() && statusBar()->isHidden() == text.isEmpty())
        return;
    status_->setText(text);
    statusBar()->setHidden(text.isEmpty());
    if (!text.isEmpty()) {
        const QMargins margins = statusBar()->contentsMargins();
        status_->setFixedHeight(status_->heightForWidth(width() - 12 - margins.left() - margins.right()));
    }
}

void Form1::MapStatusChanged()
{
    ShowStatus();
}

void Form1::RefreshDetailView()
{
    UpdateDetailView(map_, state_.distretto);
    ShowStatus();
}

void Form1::Relayout()
{
    if (Map1_ == nullptr)  // a resize while the window is still being built
        return;
    const QSize size = content_->size();
    const bool narrow = size.width() < kClientArea.width();
    const int shift = narrow ? kNarrowShift : 0;
    for (const auto& [control, place] : band_)
        control->setGeometry(place.translated(-shift, 0));
    for (QWidget* logo : logos_)
        logo->setVisible(!narrow);
    resultsButton_->move(size.width() - kMapArea.left() - kResultsButton.width(),
                         kMapArea.top() - kResultsButton.height() - 6);

    const QSize mapBefore = Map1_->size();
    const bool paneShown = !pane_->isHidden();
    const int width = size.width() - kMapArea.left() - (paneShown ? kPaneMargin : kMapArea.left());
    mapAndPane_->setGeometry(kMapArea.left(), kMapArea.top(), width,
                             size.height() - (kClientArea.height() - kMapArea.height()));
    mapAndPane_->refresh();  // the pane shown or hidden just now
    if (paneShown) {
        const int room = width - kHandleWidth - kSmallestMapWidth;
        const int pane = std::max(std::min(paneWidth_ > 0 ? paneWidth_ : kDefaultPaneWidth, room),
                                  pane_->minimumSizeHint().width());
        mapAndPane_->setSizes({width - kHandleWidth - pane, pane});
    }
    // Clear of the notice band along the map's top, the legend under the box.
    rainfall_->move(mapAndPane_->x() + 8, mapAndPane_->y() + 28);
    rainfall_->Legend()->move(rainfall_->x(), rainfall_->y() + kRainfallBox.height() + 4);
    static_cast<FormSurface*>(content_)->bandShift = shift;
    content_->update();
    // A resize changes the view's width: the layers must follow it.
    if (loaded_ && Map1_->size() != mapBefore)
        RunAction([&] { RefreshDetailView(); });
}

void Form1::SetRainfallMaps(RainfallMapSource* source)
{
    rainfall_->SetSource(source);
    rainfall_->setVisible(source != nullptr);
}

void Form1::SetResultsVisible(bool visible)
{
    pane_->setVisible(visible);
    resultsButton_->setChecked(visible);
    Relayout();
}

void Form1::RunCompleted(const PointRunResult& result)
{
    pane_->AddRun(result);
    SetResultsVisible(true);
    // A typed point may lie outside the view: the view moves, at its scale, to show its mark.
    RunAction([&] {
        const MapExtents view = map_.GetExtents();
        const double x = result.point.x;
        const double y = result.point.y;
        if (x >= view.xMin && x <= view.xMax && y >= view.yMin && y <= view.yMax)
            return;
        const double halfWidth = (view.xMax - view.xMin) / 2;
        const double halfHeight = (view.yMax - view.yMin) / 2;
        map_.ZoomToExtents({x - halfWidth, x + halfWidth, y - halfHeight, y + halfHeight});
        RefreshDetailView();
    });
}

void Form1::SetDesktop(Desktop& desktop)
{
    pane_->SetDesktop(desktop);
}

// The run's cell with its neighbours around it, so the place can be told.
void Form1::ZoomToRun(const PointRunResult& run)
{
    RunAction([&] {
        constexpr double kAround = 750;
        const GaussBoagaPoint& centre = run.rain.centre;
        map_.ZoomToExtents({centre.x - kAround, centre.x + kAround, centre.y - kAround, centre.y + kAround});
        RefreshDetailView();
    });
}

void Form1::SetMainWindowEnabled(bool enabled)
{
    content_->setEnabled(enabled);
}

bool Form1::MainWindowEnabled() const
{
    return content_->isEnabled();
}

template <typename Action>
void Form1::RunAction(Action&& action)
{
    try {
        action();
    } catch (const Error& error) {
        ReportFailure(reporter_, this, error);
    }
}

void Form1::SelectTool(int mode, MapTool tool)
{
    map_.SetSendMouseDown(false);
    map_.SetMapCursor(kArrow);
    map_.SetCursorMode(mode);
    tools_.Show(tool);
}

void Form1::ShowPickInForce()
{
    map_.SetMapCursor(kCrossHair);
    tools_.Show(MapTool::Pick);
}

void Form1::CmdPanClicked()
{
    RunAction([&] { SelectTool(kPan, MapTool::Pan); });
}

void Form1::CmdZoomInClicked()
{
    RunAction([&] { SelectTool(kZoomIn, MapTool::ZoomIn); });
}

void Form1::CmdZoomOutClicked()
{
    RunAction([&] { SelectTool(kZoomOut, MapTool::ZoomOut); });
}

void Form1::Command3Clicked()
{
    RunAction([&] {
        map_.ZoomToLayer(kElevationLayer);
        RefreshDetailView();
        SelectTool(kNoTool, MapTool::None);
    });
}

void Form1::Command1Clicked()
{
    RunAction([&] {
        map_.SetSendMouseDown(true);
        map_.SetCursorMode(kNoTool);
        map_.SetMapCursor(kCrossHair);
        tools_.Show(MapTool::Pick);
    });
}

void Form1::Command2Clicked()
{
    RunAction([&] {
        map_.SetSendMouseDown(true);
        map_.SetCursorMode(kNoTool);
        tools_.Show(MapTool::Pick);
        if (dialogs_ != nullptr)
            WithDialogOpen([&] { dialogs_->ShowCoordinateDialog(*this); });
        // Closed by its run, its cancel or its title bar, the dialog leaves the map picking.
        ShowPickInForce();
    });
}

void Form1::Command4Clicked()
{
    RunAction([&] {
        // Everything is read and checked before the state changes, so a failed
        // search leaves the window as it was.
        QString name = Combo1_->currentText();
        const QString tablePath = QString::fromLatin1(kComuniTablePath);
        const ComuniTable table = LoadComuniTable(tablePath);
        std::optional<MunicipalityMatch> match = FindMunicipality(table, name, tablePath);
        // The name exactly as the list writes it comes first; then the text as
        // people type it: any case, no accents, a part of the name.
        if (!match && !name.isEmpty()) {
            const NameFinder& finder = finder_->Finder();
            const int chosen = finder_->Chosen(name);
            const NameFinder::Answer answer =
                chosen >= 0 ? NameFinder::Answer{NameFinder::Answer::One, chosen} : finder.Resolve(name);
            if (answer.kind == NameFinder::Answer::Several) {
                finder_->Filter(name);
                finder_->setCompletionPrefix(name);
                finder_->complete();
                return;
            }
            if (answer.kind == NameFinder::Answer::One && finder.IsPlace(answer.entry)) {
                ShowPlace(answer.entry);
                return;
            }
            if (answer.kind == NameFinder::Answer::One) {
                name = finder.Name(answer.entry);
                Combo1_->setEditText(name);
                match = FindMunicipality(table, name, tablePath);
            }
        }
        state_.DENOMINAZIcom = name;
        if (!match) {
            reporter_.Message(this, name.isEmpty()
                                        ? QStringLiteral("Scrivere o scegliere il nome di un comune.")
                                        : QStringLiteral("Comune \"%1\" non trovato: sceglierlo dall'elenco.").arg(name));
            return;
        }
        state_.OBJECTID = match->OBJECTID;
        state_.FID = match->FID;
        state_.CODICE_COM = match->CODICE_COM;
        state_.Provincia = match->Provincia;
        map_.ZoomToShape(kMunicipalityLayer, state_.FID);
        RefreshDetailView();
        map_.SetHighlight(kMunicipalityLayer, state_.FID);
    });
}

// The places of the two name layers, found by the municipality of the table
// whose polygon holds them.
void Form1::OfferPlaces(const ComuniTable& table)
{
    std::vector<Place> places;
    for (const auto& [layer, field] : {std::pair{kMunicipalityNames, 1}, std::pair{kPlaceNames, 0}}) {
        int shape = 0;
        for (const OverlayLabel& label : LayerShapeNames(map_, layer, field))
            places.push_back({QString::fromStdString(label.text), layer, shape++, label.x, label.y});
    }
    finder_->SetPlaces(std::move(places));

    std::map<int, QString> byPolygon;
    for (int row = 1; row <= ComuniTable::kRows; ++row) {
        bool whole = false;
        const int objectId = table.Cell(row, 1).toInt(&whole);
        if (whole && !byPolygon.contains(objectId - 1))
            byPolygon[objectId - 1] = table.Cell(row, 2);
    }
    finder_->Finder().SetMunicipalityAt([this, byPolygon = std::move(byPolygon)](double x, double y) {
        ShapefileLayer* polygons = map_.GetLayerObject(kMunicipalityLayer);
        if (polygons == nullptr)
            return QString();
        const int count = polygons->ShapeCount();
        for (int shape = 0; shape < count; ++shape)
            if (polygons->ShapeContainsPoint(shape, x, y)) {
                const auto name = byPolygon.find(shape);
                return name == byPolygon.end() ? QString() : name->second;
            }
        return QString();
    });
}

// A place is shown in a 5 km view around it, its point outlined.
void Form1::ShowPlace(int entry)
{
    constexpr double kAround = 2500;
    const Place& place = finder_->Finder().PlaceOf(entry);
    Combo1_->setEditText(finder_->Finder().Display(entry));
    state_.DENOMINAZIcom = Combo1_->currentText();
    map_.ZoomToExtents({place.x - kAround, place.x + kAround, place.y - kAround, place.y + kAround});
    RefreshDetailView();
    map_.SetHighlight(place.layer, place.shape);
}

// The map point under a pixel in whole metres, or nothing when either
// coordinate is beyond what whole-metre text can hold (extreme zooming out).
std::optional<std::pair<QString, QString>> Form1::PixelText(int x, int y) const
{
    double east = 0;
    double north = 0;
    map_.PixelToProj(x, y, east, north);
    std::optional<QString> eastText = CoordinateText(east);
    std::optional<QString> northText = CoordinateText(north);
    if (!eastText || !northText)
        return std::nullopt;
    return std::pair{*eastText, *northText};
}

void Form1::MouseMove(int, int, int x, int y)
{
    RunAction([&] {
        const auto text = PixelText(x, y);
        Label1_->setText(text ? text->first : QString());
        Label2_->setText(text ? text->second : QString());
        if (text && !dialogOpen_)
            ShowPointer(text->first, text->second);
        wgs84_->setText(text ? Wgs84Text(x, y) : QString());
    });
}

template <typename Open>
void Form1::WithDialogOpen(Open&& open)
{
    struct Held {
        bool& open;
        explicit Held(bool& flag) : open(flag) { open = true; }
        ~Held() { open = false; }
    } held(dialogOpen_);
    open();
}

// The values a run of that point would find, read as a run reads the point's
// text; nothing is written.
void Form1::ShowPointer(const QString& east, const QString& north)
{
    PointerReading reading;
    try {
        reading.point = {TextToSingle(east.toStdString(), "."), TextToSingle(north.toStdString(), ".")};
        reading.rain = pointValues_(reading.point);
    } catch (const Error& error) {
        switch (error.kind()) {
        case ErrorKind::SubscriptOutOfRange:
        case ErrorKind::Overflow:
            reading.note = QStringLiteral("fuori dalla griglia dei parametri");
            break;
        case ErrorKind::NoValidData:
            reading.note = QStringLiteral("nessun dato valido nella cella");
            break;
        default:
            reading.note = QString::fromStdString(ItalianMessage(error)).section(u'\n', 0, 0);
        }
    }
    pane_->ShowPointer(reading);
}

void Form1::MouseDown(int, int, int x, int y)
{
    RunAction([&] {
        const auto text = PixelText(x, y);
        // Far outside any grid: there is no point to run, so the pick is ignored.
        if (!text)
            return;
        state_.pEoutlet = text->first.trimmed();
        state_.pNOutlet = text->second.trimmed();
        ShowPointer(state_.pEoutlet, state_.pNOutlet);
        if (dialogs_ != nullptr)
            WithDialogOpen([&] { dialogs_->ShowMapPointDialog(*this); });
        ShowPickInForce();
    });
}

void Form1::MouseUp(int, int, int, int)
{
    RunAction([&] { RefreshDetailView(); });
}

void Form1::SelectBoxFinal(int, int, int, int)
{
    RunAction([&] { RefreshDetailView(); });
}

// Off the map the read-out would show a point the pointer no longer marks.
void Form1::MouseLeave()
{
    Label1_->clear();
    Label2_->clear();
    wgs84_->clear();
}

// Nothing where the conversion has no meaning (far outside Italy).
QString Form1::Wgs84Text(int x, int y) const
{
    double east = 0;
    double north = 0;
    map_.PixelToProj(x, y, east, north);
    if (!(east > 1000000 && east < 4000000 && north > 3000000 && north < 6000000))
        return {};
    try {
        const SystemPoint p = FromGaussBoaga(ReferenceSystem::Wgs84, {east, north});
        const QLocale italian(QLocale::Italian);
        return QStringLiteral("WGS84  %1 N  %2 E").arg(italian.toString(p.y, 'f', 5), italian.toString(p.x, 'f', 5));
    } catch (const Error&) {
        return {};
    }
}

}  // namespace quorvel
