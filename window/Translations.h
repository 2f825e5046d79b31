#pragma once

class QCoreApplication;

namespace quorvel {

// Qt's own texts (the text boxes' context menu, the standard buttons, the file
// dialog) in Italian, whatever the desktop's language, as the rest of the
// interface. Only the texts: numbers are still read in the user's locale.
// False when Qt's Italian translations are not installed.
bool InstallItalianTranslations(QCoreApplication& app);

}  // namespace quorvel
