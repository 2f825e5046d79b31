#include "window/StatusLines.h"

#include <cctype>
#include <filesystem>

#include "map/MapView.h"
#include "maplayers/LayerTable.h"

namespace quorvel {

namespace {

QString FromUtf8(const std::string& text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

// Debian's GDAL, like most builds, has no ECW driver; whoever has one can
// convert the file once for all.
QString EcwAdvice(const std::filesystem::path& file)
{
    const QString ecw = FromUtf8(file.filename().string());
    const QString tif = FromUtf8(file.stem().string()) + QStringLiteral(".tif");
    return QStringLiteral(" Questa versione di GDAL non legge i file ECW: convertirlo in GeoTIFF con GDAL su un "
                          "sistema che legge l'ECW, con il comando gdal_translate -of COG %1 %2, e copiare %2 "
                          "nella stessa cartella.")
        .arg(ecw, tif);
}

}  // namespace

QStringList StatusLines(const MapView& map, const std::string& reliefFile)
{
    QStringList lines;
    if (reliefFile != kReliefFile)
        lines << QStringLiteral("%1 non si può leggere: il rilievo è mostrato da %2.")
                     .arg(QString::fromLatin1(kReliefFile), FromUtf8(reliefFile));
    for (const MapView::LayerProblem& problem : map.LayerProblems()) {
        // GDAL's sentences end with their own full stop.
        QString reason = FromUtf8(problem.reason).trimmed();
        while (reason.endsWith(u'.'))
            reason.chop(1);
        QString line = QStringLiteral("Impossibile mostrare %1 (GDAL: %2).").arg(FromUtf8(problem.file), reason);
        const std::filesystem::path file(problem.file);
        std::error_code error;
        std::string extension = file.extension().string();
        for (char& c : extension)
            c = char(std::tolower(static_cast<unsigned char>(c)));
        if (extension == ".ecw" && std::filesystem::is_regular_file(file, error))
            line += EcwAdvice(file);
        lines << line;
    }
    for (const MapView::Preparation& preparation : map.Preparations())
        lines << QStringLiteral("Costruzione delle piramidi di %1 per una visualizzazione rapida: %2%.")
                     .arg(FromUtf8(preparation.file), QString::number(int(preparation.done * 100)));
    return lines;
}

}  // namespace quorvel
