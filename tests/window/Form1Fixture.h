#pragma once

#include <memory>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "window/Form1.h"
#include "tests/map/FakeMapView.h"
#include "tests/window/FakePointDialogs.h"
#include "tests/window/RecordingReporter.h"

// Recorded map calls print one a line when a comparison fails.
namespace QTest {
template <>
inline char* toString(const std::vector<std::string>& calls)
{
    QByteArray text = "{";
    for (const std::string& call : calls)
        text += "\n    " + QByteArray::fromStdString(call);
    return qstrdup(text + " }");
}
}  // namespace QTest

namespace quorvel::testing {

// One fixed-width record of the municipality table.
inline QByteArray ComuniRecord(int objectId, const QByteArray& name, const QByteArray& code,
                               const QByteArray& province)
{
    return QByteArray::number(objectId).leftJustified(10) + name.leftJustified(40, ' ', true) +
           code.leftJustified(10) + province.leftJustified(10) + QByteArray("extra").leftJustified(10);
}

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
    Form1& MakeAndLoad()
    {
        Make();
        form->Load();
        map.ClearCalls();
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
