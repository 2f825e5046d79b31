#pragma once

#include <functional>

#include <QStringList>

#include "window/MainWindowHost.h"
#include "window/MainWindowState.h"

namespace quorvel::testing {

// Stands in for the two point dialogs: records each opening with the picked
// point as the main window holds it, then runs whatever the test wants done
// while the "dialog" is open.
class FakePointDialogs : public PointDialogs {
public:
    QStringList openings;
    std::function<void(MainWindowHost&)> whileOpen;

    void ShowMapPointDialog(MainWindowHost& host) override
    {
        openings << QStringLiteral("MapPoint(%1,%2)").arg(host.State().pEoutlet, host.State().pNOutlet);
        if (whileOpen)
            whileOpen(host);
    }
    void ShowCoordinateDialog(MainWindowHost& host) override
    {
        openings << QStringLiteral("Coordinates");
        if (whileOpen)
            whileOpen(host);
    }
};

}  // namespace quorvel::testing
