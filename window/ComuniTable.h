#pragma once

#include <array>

#include <QString>

namespace quorvel {

// The region's municipalities as read from the fixed-width table file:
// 219 rows by 5 columns, both counted from 1. Rows the file does not reach
// hold empty strings.
class ComuniTable {
public:
    static constexpr int kRows = 219;
    static constexpr int kColumns = 5;

    const QString& Cell(int row, int column) const { return cells_.at(row - 1).at(column - 1); }
    QString& Cell(int row, int column) { return cells_.at(row - 1).at(column - 1); }

private:
    std::array<std::array<QString, kColumns>, kRows> cells_;
};

inline constexpr const char* kComuniTablePath = "dat/comuniPolyRid.dat";

// Reads the table file afresh, relative to the working directory. The file is
// Windows-1252 text; a line ends at CR LF, CR or LF. Throws quorvel::Error:
// FileNotFound when the file is missing, PathAccess when it cannot be read,
// SubscriptOutOfRange when it has more than 219 lines.
ComuniTable LoadComuniTable(const QString& path = QString::fromLatin1(kComuniTablePath));

// Windows-1252 bytes as text; the five undefined bytes map to the C1 controls.
QString FromWindows1252(const char* bytes, qsizetype size);

}  // namespace quorvel
