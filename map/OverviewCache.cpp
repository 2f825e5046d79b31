#include "map/OverviewCache.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QCoreApplication>
#include <QRandomGenerator>

#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal_priv.h>

#include "rain/SidecarFiles.h"

#include <cmath>
#include <cstdio>
#include <vector>

namespace quorvel {

namespace {

struct ProgressState {
    OverviewCache* cache;
    const QString* source;
    const std::atomic<bool>* stop;
    int lastPercent;
    void (*emitProgress)(OverviewCache*, const QString&, double);
};

int CPL_STDCALL OnProgress(double done, const char*, void* data)
{
    auto* state = static_cast<ProgressState*>(data);
    const int percent = int(done * 100);
    if (percent != state->lastPercent) {
        state->lastPercent = percent;
        state->emitProgress(state->cache, *state->source, done);
    }
    return state->stop->load() ? FALSE : TRUE;
}

// Factors 2, 4, 8... until the smallest overview fits in a tile.
std::vector<int> Factors(int width, int height)
{
    std::vector<int> factors;
    for (int f = 2; std::max(width, height) / (f / 2) > 256; f *= 2)
        factors.push_back(f);
    return factors;
}

// GDAL's error handlers and configuration are per thread when set this way, so
// the worker's settings never reach the map's own reads.
class WorkerGdalSettings {
public:
    explicit WorkerGdalSettings(bool jpeg)
    {
        CPLPushErrorHandler(CPLQuietErrorHandler);
        CPLSetThreadLocalConfigOption("COMPRESS_OVERVIEW", jpeg ? "JPEG" : "DEFLATE");
        CPLSetThreadLocalConfigOption("PHOTOMETRIC_OVERVIEW", jpeg ? "YCBCR" : nullptr);
        CPLSetThreadLocalConfigOption("INTERLEAVE_OVERVIEW", "PIXEL");
        CPLSetThreadLocalConfigOption("JPEG_QUALITY_OVERVIEW", "85");
    }
    ~WorkerGdalSettings()
    {
        for (const char* key : {"COMPRESS_OVERVIEW", "PHOTOMETRIC_OVERVIEW", "INTERLEAVE_OVERVIEW",
                                "JPEG_QUALITY_OVERVIEW"})
            CPLSetThreadLocalConfigOption(key, nullptr);
        CPLPopErrorHandler();
    }
    WorkerGdalSettings(const WorkerGdalSettings&) = delete;
    WorkerGdalSettings& operator=(const WorkerGdalSettings&) = delete;
};

}  // namespace

OverviewCache::OverviewCache(const QString& folder, QObject* parent)
    : QObject(parent), folder_(folder.isEmpty() ? DefaultFolder() : folder)
{
}

OverviewCache::~OverviewCache()
{
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
        queue_.clear();
    }
    wake_.notify_all();
    if (worker_.joinable())
        worker_.join();
}

QString OverviewCache::DefaultFolder()
{
    // A relative XDG_CACHE_HOME would put the cache wherever the program
    // happens to start; the XDG rules say to ignore it.
    QString base = qEnvironmentVariable("XDG_CACHE_HOME");
    if (!QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.cache");
    return base + QStringLiteral("/quorvel/overviews");
}

QString OverviewCache::BaseName(const QString& source) const
{
    const QFileInfo info(source);
    if (!info.isFile())
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData(info.absoluteFilePath().toUtf8());
    hash.addData(QByteArray::number(info.size()));
    hash.addData(QByteArray::number(info.lastModified().toMSecsSinceEpoch()));
    return folder_ + QLatin1Char('/') + info.completeBaseName() + QLatin1Char('-') +
           QString::fromLatin1(hash.result().toHex().left(16));
}

QString OverviewCache::Cached(const QString& source) const
{
    const QString base = BaseName(source);
    if (base.isEmpty())
        return {};
    const QString vrt = base + QStringLiteral(".vrt");
    const QString ovr = vrt + QStringLiteral(".ovr");
    if (!QFile::exists(vrt) || !QFile::exists(ovr) || !IrregularCompanion(vrt.toStdString()).empty())
        return {};
    // A cache cut short (a full disk, a killed program) must not be used for
    // ever: every overview must read, down to its last block.
    CPLPushErrorHandler(CPLQuietErrorHandler);
    GDALDatasetUniquePtr view(GDALDataset::Open(vrt.toUtf8().constData(), GDAL_OF_RASTER | GDAL_OF_READONLY));
    GDALRasterBand* band = view && view->GetRasterCount() > 0 ? view->GetRasterBand(1) : nullptr;
    const std::size_t expected = view ? Factors(view->GetRasterXSize(), view->GetRasterYSize()).size() : 0;
    bool reads = band && std::size_t(band->GetOverviewCount()) == expected && expected > 0;
    for (int i = 0; reads && i < band->GetOverviewCount(); ++i) {
        GDALRasterBand* overview = band->GetOverview(i);
        double pixel = 0;
        reads = overview && overview->RasterIO(GF_Read, overview->GetXSize() - 1, overview->GetYSize() - 1, 1, 1,
                                               &pixel, 1, 1, GDT_Float64, 0, 0, nullptr) == CE_None;
    }
    view.reset();
    CPLPopErrorHandler();
    return reads ? vrt : QString();
}

void OverviewCache::Request(const QString& source)
{
    const QString path = QFileInfo(source).absoluteFilePath();
    if (requested_.contains(path))
        return;
    requested_.insert(path);
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(path);
    }
    if (!worker_.joinable())
        worker_ = std::thread([this] { Work(); });
    wake_.notify_one();
}

void OverviewCache::Work()
{
    for (;;) {
        QString source;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
            if (stop_)
                return;
            source = queue_.front();
            queue_.pop_front();
        }
        const QString cached = Build(source);
        if (stop_)
            return;
        emit Finished(source, cached);
    }
}

QString OverviewCache::Build(const QString& source)
{
    const QString base = BaseName(source);
    if (base.isEmpty() || !IrregularCompanion(source.toStdString()).empty() || !QDir().mkpath(folder_))
        return {};
    // Other Quorvel programs may build the same overviews at the same time:
    // each works under names of its own, and the last rename wins whole.
    const QString part = base + QStringLiteral(".%1-%2.part.vrt")
                                    .arg(QCoreApplication::applicationPid())
                                    .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
    const QString vrt = base + QStringLiteral(".vrt");
    auto cleanUp = [&] {
        QFile::remove(part);
        QFile::remove(part + QStringLiteral(".ovr"));
    };

    GDALDatasetUniquePtr raster(
        GDALDataset::Open(source.toUtf8().constData(), GDAL_OF_RASTER | GDAL_OF_READONLY));
    if (!raster || raster->GetRasterCount() == 0)
        return {};
    const bool jpeg = raster->GetRasterCount() == 3 && raster->GetRasterBand(1)->GetRasterDataType() == GDT_Byte;
    WorkerGdalSettings settings(jpeg);
    {
        GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("VRT");
        GDALDatasetUniquePtr copy(
            driver ? driver->CreateCopy(part.toUtf8().constData(), raster.get(), FALSE, nullptr, nullptr, nullptr)
                   : nullptr);
        if (!copy) {
            cleanUp();
            return {};
        }
    }
    GDALDatasetUniquePtr view(GDALDataset::Open(part.toUtf8().constData(), GDAL_OF_RASTER | GDAL_OF_READONLY));
    if (!view) {
        cleanUp();
        return {};
    }
    std::vector<int> factors = Factors(view->GetRasterXSize(), view->GetRasterYSize());
    ProgressState progress{this, &source, &stop_, -1, [](OverviewCache* cache, const QString& s, double done) {
                               emit cache->Progress(s, done);
                           }};
    const CPLErr built = view->BuildOverviews("AVERAGE", int(factors.size()), factors.data(), 0, nullptr,
                                              OnProgress, &progress);
    view.reset();
    // Each rename replaces what is there in one step, so a reader meets the
    // old files or the new ones, never none; the .ovr goes first, since a VRT
    // without one is never taken for a finished cache.
    const auto replace = [](const QString& from, const QString& to) {
        return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
    };
    if (built != CE_None || stop_ || !replace(part + QStringLiteral(".ovr"), vrt + QStringLiteral(".ovr")) ||
        !replace(part, vrt)) {
        cleanUp();
        return {};
    }
    return vrt;
}

}  // namespace quorvel
