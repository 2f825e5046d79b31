#include "rainmaps/RainfallTiffs.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QImage>

#include <cpl_conv.h>
#include <gdal_priv.h>
#include <ogr_spatialref.h>

#include <cstdio>
#include <unistd.h>

#include "rain/Error.h"

namespace quorvel {

namespace {

Error GdalFailure(const std::string& file)
{
    const std::string why = CPLGetLastErrorMsg();
    return Error(ErrorKind::BadFileFormat, file, {why, why});
}

// The colours written whole under a temporary name, then renamed into place,
// so that a file found in the cache is always complete.
void WriteTiff(const QImage& colours, const std::string& file)
{
    GDALAllRegister();
    GDALDriver* gtiff = GetGDALDriverManager()->GetDriverByName("GTiff");
    if (gtiff == nullptr)
        throw GdalFailure(file);
    const std::string partial = file + ".part" + std::to_string(::getpid());
    CPLStringList options;
    options.SetNameValue("COMPRESS", "DEFLATE");
    options.SetNameValue("PHOTOMETRIC", "RGB");
    options.SetNameValue("ALPHA", "YES");  // not premultiplied, as Qt's RGBA8888
    GDALDatasetUniquePtr tiff(
        gtiff->Create(partial.c_str(), colours.width(), colours.height(), 4, GDT_Byte, options.List()));
    if (!tiff)
        throw GdalFailure(file);
    const double geo[6] = {double(kGridWestEdge), double(kGridCellSize), 0, kGridNorthEdge, 0, -double(kGridCellSize)};
    OGRSpatialReference gaussBoaga;
    int bands[4] = {1, 2, 3, 4};
    const bool written =
        gaussBoaga.importFromEPSG(3004) == OGRERR_NONE && tiff->SetGeoTransform(const_cast<double*>(geo)) == CE_None &&
        tiff->SetSpatialRef(&gaussBoaga) == CE_None &&
        tiff->RasterIO(GF_Write, 0, 0, colours.width(), colours.height(), const_cast<uchar*>(colours.constBits()),
                       colours.width(), colours.height(), GDT_Byte, 4, bands, 4, colours.bytesPerLine(), 1,
                       nullptr) == CE_None;
    // Closing writes what is still buffered: its failure is the last error.
    CPLErrorReset();
    tiff.reset();
    const bool closed = written && CPLGetLastErrorType() < CE_Failure;
    if (!closed || std::rename(partial.c_str(), file.c_str()) != 0) {
        std::remove(partial.c_str());
        throw GdalFailure(file);
    }
}

}  // namespace

RainfallTiffs::RainfallTiffs(std::string folder, QString cacheFolder)
    : layers_(std::move(folder)), cache_(cacheFolder.isEmpty() ? DefaultFolder() : std::move(cacheFolder))
{
}

QString RainfallTiffs::DefaultFolder()
{
    const QString xdg = qEnvironmentVariable("XDG_CACHE_HOME");
    const QString base = QDir::isAbsolutePath(xdg) ? xdg : QDir::homePath() + QStringLiteral("/.cache");
    return base + QStringLiteral("/quorvel/pioggia");
}

std::vector<RainfallMapSource::Choice> RainfallTiffs::Choices() const
{
    std::vector<Choice> choices;
    for (const RainfallLayers::Layer& layer : RainfallLayers::Layers()) {
        const QString name = QString::fromLatin1(layer.name);
        choices.push_back({layer.name, name.startsWith(QStringLiteral("pioggia_"))
                                           ? QStringLiteral("h 1 ora ") + name.mid(8)
                                           : name});
    }
    return choices;
}

RainfallMapSource::Map RainfallTiffs::Make(const std::string& name)
{
    const RainfallLayers::Layer* layer = RainfallLayers::Find(name);
    if (layer == nullptr)
        throw Error(ErrorKind::FileNotFound, name);
    const auto classes = layers_.Current();
    const auto& cells = classes->cells[layer->map];
    const auto& scale = classes->ScaleOf(layer->map);
    QCryptographicHash digest(QCryptographicHash::Sha256);
    digest.addData(QByteArrayView(reinterpret_cast<const char*>(scale.breaks.data()), sizeof scale.breaks));
    digest.addData(QByteArrayView(reinterpret_cast<const char*>(cells.data()), qsizetype(cells.size())));
    const QString file = cache_ + u'/' + QString::fromLatin1(layer->name) + u'-' +
                         QString::fromLatin1(digest.result().toHex().left(16)) + QStringLiteral(".tif");
    if (!QFile::exists(file)) {
        if (!QDir().mkpath(cache_))
            throw Error(ErrorKind::PathAccess, cache_.toStdString());
        const MapExtents grid{double(kGridWestEdge), double(kGridWestEdge) + classes->maps.columns * kGridCellSize,
                              kGridNorthEdge - classes->maps.rows * kGridCellSize, kGridNorthEdge};
        WriteTiff(RainfallLayers::Colours(*classes, layer->map, grid, classes->maps.columns, classes->maps.rows)
                      .convertToFormat(QImage::Format_RGBA8888),
                  file.toStdString());
    }
    Map map{file.toStdString(), QString::fromUtf8(layer->title), {}};
    const std::vector<QString> labels = RainfallLayers::LegendLabels(*classes, *layer);
    for (std::size_t k = 0; k < labels.size(); ++k)
        map.classes.emplace_back(RainfallLayers::Ramp()[k], labels[k]);
    return map;
}

}  // namespace quorvel
