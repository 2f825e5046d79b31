#pragma once

#include <functional>
#include <memory>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "window/Form1.h"
#include "window/MainWindowHost.h"
#include "tests/map/FakeMapView.h"
#include "tests/window/RecordingReporter.h"

namespace quorvel::testing {

// One record of the municipality table at its fixed positions: 10 + 40 + 10 + 10 + 10 characters.
inline QByteArray ComuniRecord(const QByteArray& id, const QByteArray& name, const QByteArray& code = "1",
                               const QByteArray& province = "UD", const QByteArray& last = "")
{
    return id.leftJustified(10, ' ', true) + name.leftJustified(40, ' ', true) + code.leftJustified(10, ' ', true) +
           province.leftJustified(10, ' ', true) + last.leftJustified(10, ' ', true);
}

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

// A main window on a fake map, in a fresh working folder holding
// dat/comuniPolyRid.dat. The window is loaded by Load(), not by the constructor.
class Form1Fixture {
public:
    Form1Fixture() : old_(QDir::currentPath())
    {
        QDir(dir_.path()).mkpath(QStringLiteral("dat"));
        QDir::setCurrent(dir_.path());
    }
    ~Form1Fixture()
    {
        form.reset();
        QDir::setCurrent(old_);
    }

    void WriteTable(const QByteArray& content)
    {
        QFile file(QStringLiteral("dat/comuniPolyRid.dat"));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            qFatal("cannot write the municipality table");
        file.write(content);
    }
    void RemoveTable() { QFile::remove(QStringLiteral("dat/comuniPolyRid.dat")); }

    Form1& Make()
    {
        form = std::make_unique<Form1>(map, nullptr, reporter, &dialogs);
        return *form;
    }

    FakeMapView map;
    RecordingReporter reporter;
    FakePointDialogs dialogs;
    std::unique_ptr<Form1> form;

private:
    QTemporaryDir dir_;
    QString old_;
};

}  // namespace quorvel::testing
