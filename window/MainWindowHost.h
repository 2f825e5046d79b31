#pragma once

class QWidget;

namespace quorvel {

class MapView;
class Reporter;
struct MainWindowState;
struct PointRunResult;

// What the point dialogs may use of the main window.
class MainWindowHost {
public:
    virtual ~MainWindowHost() = default;
    virtual MapView& Map1() = 0;
    virtual MainWindowState& State() = 0;
    // Takes the main window's input away or gives it back. Never disables the
    // window's child dialogs: a dialog parented to it stays usable.
    virtual void SetMainWindowEnabled(bool enabled) = 0;
    virtual bool MainWindowEnabled() const = 0;
    // The parent of the dialogs and of their message boxes.
    virtual QWidget* Window() = 0;
    virtual Reporter& Messages() = 0;
    // A run succeeded: its dialog has closed after "Eseguito!".
    virtual void RunCompleted(const PointRunResult& result) = 0;
};

// Opens the two point dialogs, modally: each call returns when its dialog has closed.
class PointDialogs {
public:
    virtual ~PointDialogs() = default;
    virtual void ShowMapPointDialog(MainWindowHost& host) = 0;
    virtual void ShowCoordinateDialog(MainWindowHost& host) = 0;
};

}  // namespace quorvel
