#include "window/MunicipalitySearch.h"

#include <limits>

#include "window/ComuniTable.h"
#include "rain/Error.h"

namespace quorvel {

namespace {

// A sign and decimal digits only: a fraction is refused rather than rounded,
// since a polygon number or a code with one is no number of ours. Values below
// lowest overflow as those beyond 16 bits do.
std::int16_t WholeNumber16(const QString& text, int row, int column, const QString& tablePath,
                           long lowest = std::numeric_limits<std::int16_t>::min())
{
    const auto fail = [&](ErrorKind kind) {
        const auto where = [&](const QString& format) { return format.arg(row).arg(column).arg(text).toStdString(); };
        return Error(kind, tablePath.toStdString(),
                     {where(QStringLiteral("row %1, column %2: \"%3\"")),
                      where(QStringLiteral("riga %1, colonna %2: \"%3\""))});
    };
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    if (i == text.size())
        throw fail(ErrorKind::TypeMismatch);
    long value = 0;
    bool tooLarge = false;
    for (; i < text.size(); ++i) {
        if (text[i] < u'0' || text[i] > u'9')
            throw fail(ErrorKind::TypeMismatch);
        value = value * 10 + (text[i].unicode() - u'0');
        // Stop growing past any 16-bit value; the digits still have to be checked.
        if (value > 100000) {
            tooLarge = true;
            value = 100000;
        }
    }
    if (negative)
        value = -value;
    if (tooLarge || value < lowest || value > std::numeric_limits<std::int16_t>::max())
        throw fail(ErrorKind::Overflow);
    return static_cast<std::int16_t>(value);
}

}  // namespace

std::optional<MunicipalityMatch> FindMunicipality(const ComuniTable& table, const QString& name,
                                                  const QString& tablePath)
{
    // Rows the file does not reach have empty names: an empty text (nothing
    // chosen yet) names no municipality.
    if (name.isEmpty())
        return std::nullopt;
    for (int row = 1; row <= ComuniTable::kRows; ++row) {
        if (table.Cell(row, 2) != name)
            continue;
        MunicipalityMatch match;
        // FID is OBJECTID - 1, which must fit in 16 bits too.
        match.OBJECTID = WholeNumber16(table.Cell(row, 1), row, 1, tablePath,
                                       std::numeric_limits<std::int16_t>::min() + 1);
        match.FID = static_cast<std::int16_t>(match.OBJECTID - 1);
        match.CODICE_COM = WholeNumber16(table.Cell(row, 3), row, 3, tablePath);
        match.Provincia = table.Cell(row, 4);
        return match;
    }
    return std::nullopt;
}

}  // namespace quorvel
