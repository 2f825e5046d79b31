#include <QApplication>

#include <cstdio>

#include "dialogs/PointDialogsImpl.h"
#include "window/Form1.h"
#include "window/GraphicalSession.h"
#include "map/MapWidget.h"
#include "window/Reporter.h"
#include "window/Translations.h"
#include "rain/Error.h"
#include "rain/PendingFile.h"
#include "rainmaps/RainfallTiffs.h"
#include "sheet/RainSheet.h"
#include "window/ResultsPane.h"

int main(int argc, char* argv[])
{
    if (!quorvel::HasGraphicalSession(argc, argv)) {
        std::fprintf(stderr, "%s\n", quorvel::kNoGraphicalSession);
        return 1;
    }
    QApplication app(argc, argv);
    // A report being written when the program is killed does not stay half-written.
    quorvel::RemovePendingFilesOnSignal();
    // Without Qt's translations only Qt's own texts stay in English.
    quorvel::InstallItalianTranslations(app);
    quorvel::MessageBoxReporter reporter;
    auto* map = new quorvel::MapWidget;  // owned by the window
    quorvel::PointDialogsImpl dialogs;
    quorvel::Form1 form(*map, map, reporter, &dialogs);
    form.Results()->SetSheetWriter([](const quorvel::PointRunResult& run, const std::string& path) {
        quorvel::PointSheets(run.appFolder).WriteRun(run, path);
    });
    quorvel::RainfallTiffs rainfallMaps("");
    form.SetRainfallMaps(&rainfallMaps);
    try {
        form.Load();
    } catch (const quorvel::Error& error) {
        // Also for the launcher's terminal or log, where no window is seen.
        std::fprintf(stderr, "Quorvel: %s\n", quorvel::ItalianMessage(error).c_str());
        quorvel::ReportFailure(reporter, nullptr, error);
        return 1;
    }
    form.show();
    return app.exec();
}
