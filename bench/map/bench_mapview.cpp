#include "map/MapWidget.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QPixmap>

#include <sys/resource.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

using namespace quorvel;

namespace {

constexpr double kSamplePeakMemoryLimitMb = 200;
constexpr double kLargePeakMemoryLimitMb = 300;

// The main window's map: 945 x 609 pixels.
constexpr int kWidth = 945;
constexpr int kHeight = 609;

void LabelLayerShapes(MapView& map, int position, int fieldIndex)
{
    const int handle = map.LayerHandle(position);
    ShapefileLayer* shapes = map.GetLayerObject(handle);
    if (!shapes)
        return;
    for (int i = 0; i < shapes->ShapeCount(); ++i) {
        const MapExtents e = shapes->ShapeExtents(i);
        map.AddLabel(handle, shapes->CellValue(fieldIndex, i), Rgb(0, 0, 0), (e.xMin + e.xMax) / 2,
                     (e.yMin + e.yMax) / 2, 1, 0.0);
    }
}

// Waits for the overviews the map builds in the background; false when they
// take longer than the limit.
bool WaitForOverviews(MapWidget& map, int limitSeconds = 900)
{
    QElapsedTimer timer;
    timer.start();
    while (!map.Preparations().empty()) {
        if (timer.elapsed() > limitSeconds * 1000)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    }
    return true;
}

// The layers of the main window, as its load adds them, from the region's
// folder; the overviews the map needs are waited for, since they are built
// once and kept.
std::unique_ptr<MapWidget> LoadMainWindowLayers(bool waitForOverviews = true)
{
    auto map = std::make_unique<MapWidget>();
    map->resize(kWidth, kHeight);
    map->SetBackColor(Rgb(192, 192, 192));
    auto image = [&](const char* file, bool visible) {
        auto layer = map->NewImage();
        layer->OpenImage(file, 2, false);
        return map->AddLayer(std::move(layer), visible);
    };
    auto shapes = [&](const char* file, bool visible) {
        auto layer = map->NewShapefile();
        layer->OpenShapefile(file);
        return map->AddLayer(std::move(layer), visible);
    };
    image("Raster/demTRNSh.ecw", true);
    shapes("Shp/comuniPoly.shp", true);
    map->SetLayerLineColor(1, Rgb(0, 0, 255));
    map->SetLayerLineWidth(1, 1.0f);
    shapes("Shp/V_PROVINCEpoly.shp", true);
    map->SetLayerLineColor(2, Rgb(255, 0, 0));
    map->SetLayerLineWidth(2, 1.0f);
    LabelLayerShapes(*map, shapes("Shp/toponomasticaComuni.shp", false), 1);
    LabelLayerShapes(*map, shapes("Shp/toponomastica25kdep.shp", false), 0);
    shapes("Shp/V_ISPETTORATI.shp", false);
    image("Raster/UD.tif", false);
    if (waitForOverviews && !WaitForOverviews(*map))
        return nullptr;
    return map;
}

bool LoadedWhole(const std::unique_ptr<MapWidget>& loaded)
{
    if (!loaded)
        return false;
    MapView& map = *loaded;
    for (int h = 0; h < 7; ++h)
        if (map.LayerHandle(h) != h)
            return false;
    for (int h : {1, 2, 3, 4, 5})
        if (!map.GetLayerObject(h) || map.GetLayerObject(h)->ShapeCount() == 0)
            return false;
    return true;
}

// The main window's layers, or nothing when the region is incomplete: the
// benchmark is then skipped, since it would time a map missing its layers.
std::unique_ptr<MapWidget> LoadWholeRegion(benchmark::State& state)
{
    auto map = LoadMainWindowLayers();
    if (LoadedWhole(map))
        return map;
    state.SkipWithError("the region is incomplete");
    return nullptr;
}

void ShowEverything(MapWidget& map)
{
    for (int h = 0; h < 7; ++h)
        map.SetLayerVisible(h, true);
}

// A picture with the region in it: not all one colour.
bool Drawn(const QImage& image)
{
    if (image.isNull())
        return false;
    const QRgb first = image.pixel(0, 0);
    for (int y = 0; y < image.height(); y += 7)
        for (int x = 0; x < image.width(); x += 7)
            if (image.pixel(x, y) != first)
                return true;
    return false;
}

double PeakMemoryMb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

void BM_AddMainWindowLayers(benchmark::State& state)
{
    if (!LoadedWhole(LoadMainWindowLayers())) {
        state.SkipWithError("the sample region is incomplete: run the sample_region target");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(LoadMainWindowLayers(false));
    state.counters["peak_MB"] = PeakMemoryMb();
}

// The first start on a folder whose large rasters have no overviews: how long
// the map takes to build them in the background into an empty cache.
void BM_BuildOverviews(benchmark::State& state)
{
    for (auto _ : state) {
        QDir(QString::fromLocal8Bit(qgetenv("XDG_CACHE_HOME")) + QStringLiteral("/quorvel/overviews"))
            .removeRecursively();
        auto map = LoadMainWindowLayers(false);
        const bool building = !map->Preparations().empty();
        if (!building || !WaitForOverviews(*map)) {
            state.SkipWithError(building ? "the overviews took too long" : "no raster needed overviews");
            return;
        }
    }
    state.counters["peak_MB"] = PeakMemoryMb();
}

void BM_FullExtentRedraw(benchmark::State& state)
{
    auto map = LoadWholeRegion(state);
    if (!map)
        return;
    ShowEverything(*map);
    map->ZoomToLayer(0);
    if (!Drawn(map->RenderMap())) {
        state.SkipWithError("nothing drawn at full extent");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(map->RenderMap().constBits());
    state.counters["peak_MB"] = PeakMemoryMb();
}

// Run marks spread over the region as a long session would leave them: the
// newest and every tenth strong.
std::vector<RunMark> ManyRunMarks(const MapExtents& region, int count)
{
    std::vector<RunMark> marks;
    for (int i = 0; i < count; ++i) {
        const double x = region.xMin + (region.xMax - region.xMin) * ((i * 37) % 101 + 0.5) / 101;
        const double y = region.yMin + (region.yMax - region.yMin) * ((i * 53) % 97 + 0.5) / 97;
        const double cx = std::floor(x / 500) * 500 + 250;
        const double cy = std::floor(y / 500) * 500 + 250;
        marks.push_back({x, y, {cx - 250, cx + 250, cy - 250, cy + 250}, i == 0 || i % 10 == 0});
    }
    return marks;
}

// The whole widget drawn afresh at full extent, as the user sees it, with
// state.range(0) run marks over the layers. With 200 marks it must stay within
// 10 % of the time without any.
void BM_FullExtentRedrawWithMarks(benchmark::State& state)
{
    auto map = LoadWholeRegion(state);
    if (!map)
        return;
    ShowEverything(*map);
    map->ZoomToLayer(0);
    const QImage bare = map->grab().toImage();
    map->SetRunMarks(ManyRunMarks(map->GetExtents(), int(state.range(0))));
    const QImage marked = map->grab().toImage();
    if (!Drawn(bare) || (state.range(0) > 0) == (marked == bare)) {
        state.SkipWithError("the marks are not drawn as asked");
        return;
    }
    for (auto _ : state) {
        map->SetBackColor(Rgb(192, 192, 192));  // the cached picture is stale
        benchmark::DoNotOptimize(map->grab());
    }
}

// The layers the main window shows at a view width, as its detail refresh
// sets them: place names and the district raster only when zoomed in.
void ShowAsTheWindowDoes(MapWidget& map)
{
    const MapExtents e = map.GetExtents();
    const float w = float(e.xMax - e.xMin);
    map.SetLayerVisible(3, w > 10000 && w <= 50000);
    map.SetLayerVisible(4, w > 5000 && w <= 10000);
    map.SetLayerVisible(6, w <= 5000);
}

// A zoom to a view state.range(0) metres wide, centred on the first district
// (whose raster is layer 6), then one redraw. state.range(1): 1 with every
// layer visible, 0 with the layers the main window would show.
void BM_ZoomedRedraw(benchmark::State& state)
{
    auto map = LoadWholeRegion(state);
    if (!map)
        return;
    const bool everything = state.range(1) != 0;
    const MapExtents district = map->GetLayerObject(5)->ShapeExtents(0);
    const double cx = (district.xMin + district.xMax) / 2;
    const double cy = (district.yMin + district.yMax) / 2;
    const double half = double(state.range(0)) / 2;
    const MapExtents view{cx - half, cx + half, cy - half, cy + half};
    // Alternate between two nearby views so each redraw follows a real change.
    const MapExtents nudged{view.xMin + half / 50, view.xMax + half / 50, view.yMin, view.yMax};
    auto zoom = [&](const MapExtents& extents) {
        map->ZoomToExtents(extents);
        if (everything)
            ShowEverything(*map);
        else
            ShowAsTheWindowDoes(*map);
    };
    zoom(view);
    if (!Drawn(map->RenderMap())) {
        state.SkipWithError("nothing drawn");
        return;
    }
    bool flip = false;
    for (auto _ : state) {
        zoom((flip = !flip) ? nudged : view);
        benchmark::DoNotOptimize(map->RenderMap().constBits());
    }
    state.counters["peak_MB"] = PeakMemoryMb();
}

void Mouse(QWidget& w, QEvent::Type type, QPoint pos, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, QPointF(pos), QPointF(w.mapToGlobal(pos)), Qt::LeftButton, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(&w, &event);
}

// One frame of a pan drag: the cached picture moved, nothing rendered.
void BM_PanDragFrame(benchmark::State& state)
{
    auto map = LoadWholeRegion(state);
    if (!map)
        return;
    ShowEverything(*map);
    map->SetCursorMode(kPan);
    if (!Drawn(map->grab().toImage())) {
        state.SkipWithError("nothing drawn");
        return;
    }
    const int renders = map->RenderCount();
    Mouse(*map, QEvent::MouseButtonPress, QPoint(400, 300), Qt::LeftButton);
    int step = 0;
    for (auto _ : state) {
        ++step;
        Mouse(*map, QEvent::MouseMove, QPoint(400 + step % 200, 300 + step % 100), Qt::LeftButton);
        benchmark::DoNotOptimize(map->grab());
    }
    if (map->RenderCount() != renders)
        state.SkipWithError("the map was rendered during the drag");
    Mouse(*map, QEvent::MouseButtonRelease, QPoint(400, 300), Qt::NoButton);
}

// Every benchmark of one region, named "<region>/...", each run from the
// region's folder as the program runs from its own.
void RegisterRegion(const std::string& region, const QString& folder, bool buildsOverviews)
{
    auto in = [folder](void (*bench)(benchmark::State&)) {
        return [folder, bench](benchmark::State& state) {
            QDir::setCurrent(folder);
            bench(state);
        };
    };
    const std::string prefix = region + "/";
    if (buildsOverviews)
        benchmark::RegisterBenchmark((prefix + "BuildOverviews").c_str(), in(BM_BuildOverviews))
            ->Unit(benchmark::kSecond)
            ->Iterations(1);
    benchmark::RegisterBenchmark((prefix + "AddMainWindowLayers").c_str(), in(BM_AddMainWindowLayers))
        ->Unit(benchmark::kMillisecond)
        ->Iterations(5);
    benchmark::RegisterBenchmark((prefix + "FullExtentRedraw").c_str(), in(BM_FullExtentRedraw))
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1)
        ->Repetitions(25)
        ->ReportAggregatesOnly(true);
    benchmark::RegisterBenchmark((prefix + "FullExtentRedrawWithMarks").c_str(), in(BM_FullExtentRedrawWithMarks))
        ->Unit(benchmark::kMillisecond)
        ->ArgName("marks")
        ->Arg(0)
        ->Arg(200)
        ->Iterations(1)
        ->Repetitions(25)
        ->ReportAggregatesOnly(true);
    benchmark::RegisterBenchmark((prefix + "ZoomedRedraw").c_str(), in(BM_ZoomedRedraw))
        ->Unit(benchmark::kMillisecond)
        ->ArgNames({"width_m", "all_layers"})
        ->ArgsProduct({{120000, 50000, 20000, 10000, 5000, 1000}, {0, 1}})
        ->Iterations(1)
        ->Repetitions(15)
        ->ReportAggregatesOnly(true);
    benchmark::RegisterBenchmark((prefix + "PanDragFrame").c_str(), in(BM_PanDragFrame))
        ->Unit(benchmark::kMillisecond);
}

bool WithinMemory(const char* region, double limitMb)
{
    const double peak = PeakMemoryMb();
    std::printf("%s: peak memory %.1f MB (limit %.0f MB)\n", region, peak, limitMb);
    std::fflush(stdout);
    return peak <= limitMb;
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Overviews the map builds go into a cache of the build's, not the user's.
    qputenv("XDG_CACHE_HOME", QUORVEL_BENCH_CACHE);
    if (!QDir(QStringLiteral(QUORVEL_APP_DIR)).exists()) {
        std::fprintf(stderr, "no application folder %s\n", QUORVEL_APP_DIR);
        return 1;
    }
    // The full-size region is written by tools/make-large-region.sh, not by the
    // build: it takes minutes. Without it only the sample region is measured.
    const QString large = qEnvironmentVariableIsEmpty("QUORVEL_LARGE_REGION")
                              ? QStringLiteral(QUORVEL_LARGE_REGION)
                              : qEnvironmentVariable("QUORVEL_LARGE_REGION");
    const bool withLarge = QDir(large).exists(QStringLiteral("Raster"));
    QApplication app(argc, argv);
    RegisterRegion("sample", QStringLiteral(QUORVEL_APP_DIR), false);
    if (withLarge)
        RegisterRegion("large", large, true);
    else
        std::printf("no full-size region in %s: run tools/make-large-region.sh to measure it too\n",
                    qPrintable(large));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    // The sample first, so that its peak is its own; the full-size region's
    // peak includes the sample's, which lies well below it.
    // A reporter of our own for each run: the library's default one does not
    // survive a second run.
    benchmark::ConsoleReporter sampleReporter(benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&sampleReporter, "^sample/");
    bool ok = WithinMemory("sample region", kSamplePeakMemoryLimitMb);
    if (withLarge) {
        benchmark::ConsoleReporter largeReporter(benchmark::ConsoleReporter::OO_Tabular);
        benchmark::RunSpecifiedBenchmarks(&largeReporter, "^large/");
        ok = WithinMemory("full-size region", kLargePeakMemoryLimitMb) && ok;
    }
    benchmark::Shutdown();
    return ok ? 0 : 2;
}
