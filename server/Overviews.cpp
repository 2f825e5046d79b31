#include "server/Overviews.h"

#include <charconv>
#include <chrono>
#include <cstdio>

#include <QFileInfo>

#include "map/GdalLayers.h"
#include "map/OverviewCache.h"
#include "maplayers/DetailView.h"
#include "maplayers/LayerTable.h"

namespace quorvel::server {

Overviews::Overviews(const std::string& folder) : cache_(std::make_unique<OverviewCache>())
{
    std::vector<std::string> files = {folder + kReliefFile, folder + kReliefStandIn};
    for (const char* code : kDistrictCodes)
        files.push_back(folder + DistrictRasterFile(QString::fromLatin1(code)).toStdString());
    const auto started = std::chrono::steady_clock::now();
    // Built on the cache's own thread, which reports straight here: the
    // server runs no Qt event loop.
    QObject::connect(cache_.get(), &OverviewCache::Finished, cache_.get(),
                     [this, started](const QString& source, const QString& dataset) {
                         std::lock_guard lock(mutex_);
                         if (!dataset.isEmpty())
                             cached_[source.toStdString()] = dataset.toStdString();
                         if (--pending_ == 0) {
                             const double seconds =
                                 std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
                             char text[32];
                             *std::to_chars(text, text + sizeof text - 1, seconds, std::chars_format::fixed, 1).ptr = '\0';
                             std::fprintf(stderr, "quorvel-server: overviews ready, %zu large rasters, in %s s\n",
                                          cached_.size(), text);
                         }
                     },
                     Qt::DirectConnection);
    for (const std::string& file : files) {
        GdalImageLayer image;
        if (!image.OpenImage(file, kImageFileType, false) || !image.NeedsOverviews())
            continue;
        const QString source = QFileInfo(QString::fromStdString(file)).absoluteFilePath();
        if (const QString cached = cache_->Cached(source); !cached.isEmpty()) {
            cached_[file] = cached.toStdString();
            continue;
        }
        std::lock_guard lock(mutex_);
        ++pending_;
        cache_->Request(source);
    }
}

Overviews::~Overviews() = default;

std::string Overviews::For(const std::string& file)
{
    std::lock_guard lock(mutex_);
    const auto found = cached_.find(file);
    return found == cached_.end() ? std::string() : found->second;
}

const char* Overviews::State()
{
    std::lock_guard lock(mutex_);
    return pending_ > 0 ? "building" : "ready";
}

}  // namespace quorvel::server
