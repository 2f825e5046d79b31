#pragma once

#include <optional>
#include <string>
#include <vector>

#include <QWidget>

#include "window/MainWindowHost.h"
#include "window/MainWindowState.h"
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
    void RunCompleted(const PointRunResult&) override {}
};

// Operations that fail as told, or compute nothing and keep the names of the reports.
class RecordingOperations : public PointRunOperations {
public:
    std::optional<Error> computeFailure;
    std::vector<std::string> writtenNames;

    std::string GetAppFolder() override { return "/apps/quorvel/"; }
    PointRain ComputePointRain(GaussBoagaPoint) override
    {
        if (computeFailure)
            throw *computeFailure;
        return {};
    }
    GridArea ParameterGridArea() override { return {2310000, 2425000, 5040000, 5170000}; }
    bool IsSafeOutputName(const std::string&) override { return true; }
    bool ReportExists(const std::string&, const std::string&) override { return false; }
    void WriteRainReport(float, float, float, float, float, float, float, float, float, float,
                         float, float, const std::string&, const std::string& name) override
    {
        writtenNames.push_back(name);
    }
    void AppendToRegister(const PointRunResult&) override {}
};

}  // namespace quorvel::testing
