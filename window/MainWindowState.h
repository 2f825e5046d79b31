#pragma once

#include <cstdint>

#include <QString>

namespace quorvel {

// The main window's public fields, through which the windows share the
// picked point, the last municipality found and the current district.
struct MainWindowState {
    QString pEoutlet;
    QString pNOutlet;
    std::int16_t OBJECTID = 0;
    std::int16_t FID = 0;
    QString DENOMINAZIcom;
    std::int16_t CODICE_COM = 0;
    QString distretto;
    QString Provincia;
};

}  // namespace quorvel
