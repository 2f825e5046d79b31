// quorvel-message TEXT: says TEXT in Quorvel's message box. The launcher uses
// it when it cannot start Quorvel, so that a user who started it from the
// desktop's menu, with no terminal to read, learns why.
#include <QApplication>

#include "window/Reporter.h"
#include "window/Translations.h"

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    quorvel::InstallItalianTranslations(app);
    quorvel::MessageBoxReporter reporter;
    reporter.Message(nullptr, QString::fromUtf8(argc > 1 ? argv[1] : ""));
    return 0;
}
