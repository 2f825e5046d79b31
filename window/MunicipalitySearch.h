#pragma once

#include <cstdint>
#include <optional>

#include <QString>

namespace quorvel {

class ComuniTable;

// What the search keeps of the row it found.
struct MunicipalityMatch {
    std::int16_t OBJECTID = 0;
    std::int16_t FID = 0;  // OBJECTID - 1: the polygon's index in layer 1
    std::int16_t CODICE_COM = 0;
    QString Provincia;
};

// The first of the 219 rows whose name (column 2) equals name exactly, case,
// accents and spaces included; nothing when no row does or name is empty. Throws quorvel::Error
// naming tablePath: TypeMismatch when the row's column 1 or 3 is not a whole
// number, Overflow when it does not fit in 16 bits.
std::optional<MunicipalityMatch> FindMunicipality(const ComuniTable& table, const QString& name,
                                                  const QString& tablePath);

}  // namespace quorvel
