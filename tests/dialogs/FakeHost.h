#pragma once

#include <optional>
#include <string>
#include <vector>

#include <QList>
#include <QStringList>
#include <QWidget>

#include "window/MainWindowHost.h"
#include "window/MainWindowState.h"
#include "window/Reporter.h"
#include "rain/Error.h"
#include "rain/PointRun.h"
#include "tests/map/FakeMapView.h"
#include "tests/window/RecordingReporter.h"

namespace quorvel::testing {

// The main window as the dialogs see it. Enabling and disabling the window is
// recorded among the map's calls, so their relative order shows.
class FakeHost : public MainWindowHost {
public:
    FakeMapView map;
    MainWindowState state;
    bool enabled = true;
    QWidget window;
    RecordingReporter reporter;

    MapView& Map1() override { return map; }
    MainWindowState& State() override { return state; }
    void SetMainWindowEnabled(bool on) override
    {
        enabled = on;
        map.calls.push_back(on ? "MainWindowEnabled(true)" : "MainWindowEnabled(false)");
    }
    bool MainWindowEnabled() const override { return enabled; }
    QWidget* Window() override { return &window; }
    Reporter& Messages() override { return reporter; }
};

// Operations that compute a fixed result and keep what they were given.
class RecordingOperations : public PointRunOperations {
public:
    std::optional<Error> computeFailure;
    bool reportExists = false;
    std::vector<GaussBoagaPoint> computed;
    std::vector<std::string> writtenNames;

    std::string GetAppFolder() override { return "/apps/quorvel/"; }
    PointRain ComputePointRain(GaussBoagaPoint point) override
    {
        computed.push_back(point);
        if (computeFailure)
            throw *computeFailure;
        PointRain rain;
        rain.cell = {140, 181};
        rain.centre = {2400250, 5100250};
        return rain;
    }
    GridArea ParameterGridArea() override { return {2310000, 2425000, 5040000, 5170000}; }
    bool IsSafeOutputName(const std::string&) override { return true; }
    bool ReportExists(const std::string&, const std::string&) override { return reportExists; }
    void WriteRainReport(float, float, float, float, float, float, float, float, float, float,
                         float, float, const std::string&, const std::string& name) override
    {
        writtenNames.push_back(name);
    }
};

}  // namespace quorvel::testing
