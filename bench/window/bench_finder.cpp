#include "window/MunicipalityFinder.h"

#include <benchmark/benchmark.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QLineEdit>

#include <ogrsf_frmts.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

using namespace quorvel;

namespace {

constexpr int kLeastNames = 60000;

struct Polygon {
    std::unique_ptr<OGRGeometry> shape;
    OGREnvelope box;
    QString name;
};

struct Region {
    QStringList municipalities;
    std::vector<Place> places;
    std::vector<Polygon> polygons;
};

GDALDatasetUniquePtr OpenLayer(const QString& folder, const char* file)
{
    return GDALDatasetUniquePtr(
        GDALDataset::Open((folder + "/Shp/" + file).toUtf8().constData(), GDAL_OF_VECTOR | GDAL_OF_READONLY));
}

// The names as the main window's load finds them: the municipalities of the
// polygons, then the points of the two name layers.
Region ReadRegion(const QString& folder)
{
    Region region;
    if (auto polygons = OpenLayer(folder, "comuniPoly.shp")) {
        for (auto& feature : *polygons->GetLayer(0)) {
            Polygon p{std::unique_ptr<OGRGeometry>(feature->StealGeometry()), {},
                      QString::fromUtf8(feature->GetFieldAsString("DENOMINAZI"))};
            p.shape->getEnvelope(&p.box);
            region.municipalities << p.name;
            region.polygons.push_back(std::move(p));
        }
    }
    int layer = 3;
    for (const auto& [file, field] : {std::pair{"toponomasticaComuni.shp", 1}, std::pair{"toponomastica25kdep.shp", 0}}) {
        auto names = OpenLayer(folder, file);
        int shape = 0;
        if (!names)
            continue;
        for (auto& feature : *names->GetLayer(0)) {
            const OGRPoint* at = feature->GetGeometryRef()->toPoint();
            region.places.push_back({QString::fromUtf8(feature->GetFieldAsString(field)), layer, shape++, at->getX(), at->getY()});
        }
        ++layer;
    }
    return region;
}

QString MunicipalityAt(const Region& region, double x, double y)
{
    const OGRPoint point(x, y);
    for (const Polygon& p : region.polygons)
        if (x >= p.box.MinX && x <= p.box.MaxX && y >= p.box.MinY && y <= p.box.MaxY && p.shape->Contains(&point))
            return p.name;
    return {};
}

// What one keystroke costs: the finder's rows for the text, then the
// completion list shown for them.
void TypeName(benchmark::State& state, const QString& folder, const char* typed)
{
    static std::unique_ptr<Region> region;
    static QString loaded;
    if (loaded != folder) {
        region = std::make_unique<Region>(ReadRegion(folder));
        loaded = folder;
    }
    if (int(region->places.size()) < kLeastNames && folder.contains(QLatin1String("large"))) {
        state.SkipWithError("fewer names than a full-size region");
        return;
    }
    QLineEdit box;
    auto* completer = new MunicipalityCompleter(&box);
    box.setCompleter(completer);
    completer->SetNames(region->municipalities);
    completer->SetPlaces(region->places);
    completer->Finder().SetMunicipalityAt([&](double x, double y) { return MunicipalityAt(*region, x, y); });
    box.show();

    // The check: every row holds the text, municipalities before places, and
    // the list opens.
    const QString text = QString::fromUtf8(typed);
    completer->Filter(text);
    completer->setCompletionPrefix(text);
    completer->complete();
    const QAbstractItemModel* rows = completer->completionModel();
    const std::vector<int> all = completer->Finder().Matching(text, 1 << 30);
    for (std::size_t i = 1; i < all.size(); ++i)
        if (all[i] <= all[i - 1]) {
            state.SkipWithError("municipalities not first, or out of order");
            return;
        }
    for (int row = 0; row < std::min<int>(rows->rowCount(), FinderModel::kMaxRows); ++row)
        if (!FoldForMatching(rows->index(row, 0).data().toString()).contains(FoldForMatching(text))) {
            state.SkipWithError("a row that does not hold the text");
            return;
        }
    if (rows->rowCount() == 0 || !completer->popup()->isVisible()) {
        state.SkipWithError("no list for the text");
        return;
    }

    // Each iteration is one keystroke of typing the text over and over, the
    // list drawn before the next.
    qsizetype letters = 0;
    for (auto _ : state) {
        letters = letters % text.size() + 1;
        const QString prefix = text.left(letters);
        completer->Filter(prefix);
        completer->setCompletionPrefix(prefix);
        completer->complete();
        QCoreApplication::processEvents();
    }
    state.counters["names"] = double(completer->Finder().Count());
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    GDALAllRegister();
    const QString large = qEnvironmentVariableIsEmpty("QUORVEL_LARGE_REGION") ? QStringLiteral(QUORVEL_LARGE_REGION)
                                                                             : qEnvironmentVariable("QUORVEL_LARGE_REGION");
    QApplication app(argc, argv);
    std::vector<std::pair<const char*, QString>> regions = {{"sample", QStringLiteral(QUORVEL_APP_DIR)}};
    if (QDir(large).exists(QStringLiteral("Shp/toponomastica25kdep.shp")))
        regions.emplace_back("large", large);
    else
        std::printf("no full-size region in %s: run tools/make-large-region.sh to measure it too\n", qPrintable(large));
    for (const auto& [name, folder] : regions)
        for (const char* typed : {"a", "san", "monte", "creta di"})
            benchmark::RegisterBenchmark((std::string("finder/") + name + "/\"" + typed + "\"").c_str(),
                                         [folder = folder, typed](benchmark::State& state) { TypeName(state, folder, typed); })
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
