#pragma once

#include <QWidget>

#include "window/MainWindowHost.h"
#include "window/MainWindowState.h"
#include "tests/map/FakeMapView.h"
#include "tests/rain/FakeRun.h"
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

}  // namespace quorvel::testing
