#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <QMainWindow>
#include <QString>

#include "window/Desktop.h"
#include "window/MainWindowHost.h"
#include "window/MainWindowState.h"
#include "window/ToolGroup.h"
#include "map/MapView.h"
#include "rain/GridCache.h"
#include "rain/PointRain.h"

class QComboBox;
class QLabel;
class QPushButton;
class QSplitter;
class QToolButton;

namespace quorvel {

class ComuniTable;
class MunicipalityCompleter;
class RainfallMapBox;
class RainfallMapSource;
class Reporter;
class ResultsPane;
struct PointerReading;

// The main window: the map of the region, the navigation and point tools, the
// coordinate read-out, the municipality selector and the pane of the results.
//
// At its default size the window holds its twips layout. Larger, the map takes
// the room; narrower than the default, the two logos give way and the working
// controls close up to the left, so none is cut off down to 800 x 600.
//
// The results pane lies beside the map, under the controls, from the start:
// its first row follows the values under the map's pointer. It can be made
// narrower or wider by its handle, closed, and reopened by the "Risultati"
// button or Ctrl+R; the map always keeps at least kSmallestMapWidth pixels.
//
// map is the map the window drives; mapWidget, when given, is the widget that
// shows it and becomes a child of the window (so the window owns it); without
// one a blank area stands in its place. dialogs opens the two point dialogs and
// may be set later; until then the point buttons and picks open nothing.
class Form1 : public QMainWindow, public MainWindowHost, public MapEvents {
    Q_OBJECT

public:
    Form1(MapView& map, QWidget* mapWidget, Reporter& reporter, PointDialogs* dialogs = nullptr,
          QWidget* parent = nullptr);
    ~Form1() override;

    // Sets up the map's interaction, its seven layers and the municipality
    // list. Runs once, before the window is first shown; throws quorvel::Error
    // when it fails.
    void Load();

    void SetPointDialogs(PointDialogs* dialogs) { dialogs_ = dialogs; }

    MapView& Map1() override { return map_; }
    MainWindowState& State() override { return state_; }
    void SetMainWindowEnabled(bool enabled) override;
    bool MainWindowEnabled() const override;
    QWidget* Window() override { return this; }
    Reporter& Messages() override { return reporter_; }
    void RunCompleted(const PointRunResult& result) override;

    // The results pane's files and folders open through desktop from now on.
    void SetDesktop(Desktop& desktop);
    ResultsPane* Results() const { return pane_; }
    // The design-rainfall maps offered above the map; none until given.
    void SetRainfallMaps(RainfallMapSource* source);
    void SetResultsVisible(bool visible);

    // What the row "Sotto il puntatore" shows for a point: by default the
    // grids of the working folder held in memory, with a run's values.
    using PointValues = std::function<PointRain(GaussBoagaPoint)>;
    void SetPointValues(PointValues values) { pointValues_ = std::move(values); }

    static constexpr int kSmallestMapWidth = 480;

    void MouseDown(int button, int shift, int x, int y) override;
    void MouseUp(int button, int shift, int x, int y) override;
    void MouseMove(int button, int shift, int x, int y) override;
    void SelectBoxFinal(int left, int right, int bottom, int top) override;
    void MapStatusChanged() override;
    void MouseLeave() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void CmdPanClicked();
    void CmdZoomInClicked();
    void CmdZoomOutClicked();
    void Command3Clicked();
    void Command1Clicked();
    void Command2Clicked();
    void Command4Clicked();
    std::optional<std::pair<QString, QString>> PixelText(int x, int y) const;
    QString Wgs84Text(int x, int y) const;

    // The detail refresh, then the status area, since a new district raster
    // may be one the map cannot show.
    void RefreshDetailView();
    // Shows the map's problems and work under the map; hidden when there are none.
    void ShowStatus();
    void SelectTool(int mode, MapTool tool);
    // After a point dialog the map still picks: the pointer and the pressed
    // button say so, whatever the dialog set.
    void ShowPickInForce();
    void Relayout();
    void ZoomToRun(const PointRunResult& run);
    // The row "Sotto il puntatore" for the point of that whole-metre text.
    void ShowPointer(const QString& east, const QString& north);
    // Runs a point dialog; meanwhile the pointer's row keeps the point it shows.
    template <typename Open>
    void WithDialogOpen(Open&& open);
    void OfferPlaces(const ComuniTable& table);
    void ShowPlace(int entry);
    // Runs one user action; a failure is told to the user and the program goes on.
    template <typename Action>
    void RunAction(Action&& action);

    QLabel* AddLabel(const char* name, const QRect& geometry, const QString& text, const QFont& font);
    QToolButton* AddToolButton(const char* name, const QRect& geometry, const QString& tooltip,
                               const QString& icon, MapTool tool = MapTool::None);

    MapView& map_;
    Reporter& reporter_;
    PointDialogs* dialogs_;
    MainWindowState state_;

    QWidget* content_ = nullptr;
    QLabel* Label1_ = nullptr;
    QLabel* Label2_ = nullptr;
    QLabel* wgs84_ = nullptr;
    QComboBox* Combo1_ = nullptr;
    QLabel* status_ = nullptr;
    std::string relief_;
    ToolGroup tools_;
    MunicipalityCompleter* finder_ = nullptr;
    QWidget* Map1_ = nullptr;
    // The controls above the map, at their default places, and the logos among them.
    std::vector<std::pair<QWidget*, QRect>> band_;
    std::vector<QWidget*> logos_;
    SystemDesktop systemDesktop_;
    ResultsPane* pane_ = nullptr;
    QSplitter* mapAndPane_ = nullptr;
    QToolButton* resultsButton_ = nullptr;
    RainfallMapBox* rainfall_ = nullptr;
    int paneWidth_ = 0;  // as the user left it; 0 until the pane is first laid out
    GridCache grids_;  // of the working folder
    PointValues pointValues_;
    bool dialogOpen_ = false;
    bool loaded_ = false;
};

}  // namespace quorvel
