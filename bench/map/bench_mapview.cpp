#include "map/MapWidget.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
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

constexpr double kPeakMemoryLimitMb = 200;

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

// The layers of the main window, as its load adds them.
std::unique_ptr<MapWidget> LoadMainWindowLayers()
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
    return map;
}

bool LoadedWhole(MapView& map)
{
    for (int h = 0; h < 7; ++h)
        if (map.LayerHandle(h) != h)
            return false;
    for (int h : {1, 2, 3, 4, 5})
        if (!map.GetLayerObject(h) || map.GetLayerObject(h)->ShapeCount() == 0)
            return false;
    return true;
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
    if (!LoadedWhole(*LoadMainWindowLayers())) {
        state.SkipWithError("the sample region is incomplete: run the sample_region target");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(LoadMainWindowLayers());
    state.counters["peak_MB"] = PeakMemoryMb();
}
BENCHMARK(BM_AddMainWindowLayers)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_FullExtentRedraw(benchmark::State& state)
{
    auto map = LoadMainWindowLayers();
    ShowEverything(*map);
    map->ZoomToLayer(0);
    if (!LoadedWhole(*map) || !Drawn(map->RenderMap())) {
        state.SkipWithError("nothing drawn at full extent");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(map->RenderMap().constBits());
    state.counters["peak_MB"] = PeakMemoryMb();
}
BENCHMARK(BM_FullExtentRedraw)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(25)
    ->ReportAggregatesOnly(true);

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
    auto map = LoadMainWindowLayers();
    ShowEverything(*map);
    map->ZoomToLayer(0);
    const QImage bare = map->grab().toImage();
    map->SetRunMarks(ManyRunMarks(map->GetExtents(), int(state.range(0))));
    const QImage marked = map->grab().toImage();
    if (!LoadedWhole(*map) || !Drawn(bare) || (state.range(0) > 0) == (marked == bare)) {
        state.SkipWithError("the marks are not drawn as asked");
        return;
    }
    for (auto _ : state) {
        map->SetBackColor(Rgb(192, 192, 192));  // the cached picture is stale
        benchmark::DoNotOptimize(map->grab());
    }
}
BENCHMARK(BM_FullExtentRedrawWithMarks)
    ->Unit(benchmark::kMillisecond)
    ->ArgName("marks")
    ->Arg(0)
    ->Arg(200)
    ->Iterations(1)
    ->Repetitions(25)
    ->ReportAggregatesOnly(true);

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
    auto map = LoadMainWindowLayers();
    if (!LoadedWhole(*map)) {
        state.SkipWithError("the sample region is incomplete");
        return;
    }
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
BENCHMARK(BM_ZoomedRedraw)
    ->Unit(benchmark::kMillisecond)
    ->ArgNames({"width_m", "all_layers"})
    ->ArgsProduct({{120000, 50000, 20000, 10000, 5000, 1000}, {0, 1}})
    ->Iterations(1)
    ->Repetitions(15)
    ->ReportAggregatesOnly(true);

void Mouse(QWidget& w, QEvent::Type type, QPoint pos, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, QPointF(pos), QPointF(w.mapToGlobal(pos)), Qt::LeftButton, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(&w, &event);
}

// One frame of a pan drag: the cached picture moved, nothing rendered.
void BM_PanDragFrame(benchmark::State& state)
{
    auto map = LoadMainWindowLayers();
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
BENCHMARK(BM_PanDragFrame)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The layers are opened by relative paths, as the program does from its own folder.
    if (!QDir::setCurrent(QStringLiteral(QUORVEL_APP_DIR))) {
        std::fprintf(stderr, "no application folder %s\n", QUORVEL_APP_DIR);
        return 1;
    }
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const double peak = PeakMemoryMb();
    std::printf("peak memory: %.1f MB (limit %.0f MB)\n", peak, kPeakMemoryLimitMb);
    return peak <= kPeakMemoryLimitMb ? 0 : 2;
}
