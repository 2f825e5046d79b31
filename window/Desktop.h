#pragma once

#include <functional>

#include <QString>

class QWidget;

namespace quorvel {

// What the window asks of the desktop beyond its own controls: other programs
// open files and folders, and the user chooses where a file goes. Tests stand
// in for it so that no real program opens.
class Desktop {
public:
    virtual ~Desktop() = default;
    // Opens the file or folder with the program the desktop chooses. When
    // none could, failed is called, maybe later, when the desktop knows.
    virtual void Open(const QString& path, std::function<void()> failed) = 0;
    // The file the user chose to save into, or empty when they gave up.
    // filter may offer several formats, separated by ";;"; chosenFilter, when
    // given, holds the one offered first and receives the one chosen.
    virtual QString SaveFileName(QWidget* parent, const QString& caption, const QString& suggested,
                                 const QString& filter, QString* chosenFilter = nullptr) = 0;
};

class SystemDesktop : public Desktop {
public:
    void Open(const QString& path, std::function<void()> failed) override;
    QString SaveFileName(QWidget* parent, const QString& caption, const QString& suggested,
                         const QString& filter, QString* chosenFilter = nullptr) override;
};

}  // namespace quorvel
