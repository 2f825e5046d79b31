#pragma once

#include <QObject>
#include <QSet>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace quorvel {

// Overviews for rasters that come without them, built once into the user's
// cache folder and found there again at the next start; nothing is ever
// written beside the data. A raster is known by its absolute path, size and
// modification time, so a file that changes gets new overviews. What is kept
// for it is a VRT over the file with its overviews in the .ovr beside it.
//
// One worker thread builds them, one raster at a time, with GDAL handles of
// its own; its progress and results reach the owner's thread as queued
// signals. A cache folder that cannot be written only means no overviews.
class OverviewCache : public QObject {
    Q_OBJECT

public:
    // folder empty: DefaultFolder().
    explicit OverviewCache(const QString& folder = {}, QObject* parent = nullptr);
    // Stops the build under way and leaves no part of it behind.
    ~OverviewCache() override;

    // $XDG_CACHE_HOME/quorvel/overviews when that is an absolute path,
    // otherwise ~/.cache/quorvel/overviews.
    static QString DefaultFolder();

    // The dataset to read source through with its overviews, or empty when
    // none have been built for the file as it is now or what was built no
    // longer reads whole.
    QString Cached(const QString& source) const;
    // Queues the build for source, unless it is queued, under way, or failed
    // already in this session.
    void Request(const QString& source);

signals:
    // done: 0 to 1.
    void Progress(const QString& source, double done);
    // cached: what Cached() now answers; empty when the build failed.
    void Finished(const QString& source, const QString& cached);

private:
    QString BaseName(const QString& source) const;
    void Work();
    QString Build(const QString& source);

    QString folder_;
    QSet<QString> requested_;  // owner's thread only
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<QString> queue_;
    std::atomic<bool> stop_{false};
    std::thread worker_;
};

}  // namespace quorvel
