// The map service on the sample region, offscreen: GetMap of the main
// window's map size at full extent with every layer, one request per thread,
// as the server's pool threads run them. Each benchmark checks its picture
// before timing it.
#include "wms/WmsService.h"

#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

using namespace quorvel;

namespace {

constexpr int kWidth = 945;
constexpr int kHeight = 609;
// The region's full extent at the map's shape.
constexpr const char* kFullExtent = "2310000,5040000,2490500,5156322.222";

std::unique_ptr<WmsService> gWms;

WmsParams GetMap(const std::string& layers)
{
    return {{"SERVICE", "WMS"}, {"REQUEST", "GetMap"}, {"VERSION", "1.3.0"}, {"LAYERS", layers},
            {"STYLES", ""},     {"CRS", "EPSG:3004"},  {"BBOX", kFullExtent},
            {"WIDTH", std::to_string(kWidth)},         {"HEIGHT", std::to_string(kHeight)},
            {"FORMAT", "image/png"}};
}

void GetMapFullExtent(benchmark::State& state, const std::string& layers)
{
    const WmsParams params = GetMap(layers);
    if (state.thread_index() == 0) {
        const WmsResponse first = gWms->Handle(params, "");
        const QImage picture = QImage::fromData(QByteArray::fromStdString(first.body), "PNG");
        // The picture of the region: its size, and relief and outlines drawn over most of it.
        int drawn = 0;
        for (int y = 0; y < picture.height(); y += 7)
            for (int x = 0; x < picture.width(); x += 7)
                drawn += picture.pixel(x, y) != qRgb(255, 255, 255);
        if (first.status != 200 || picture.size() != QSize(kWidth, kHeight) ||
            drawn < (kWidth / 7) * (kHeight / 7) / 2) {
            state.SkipWithError("GetMap did not draw the region");
            return;
        }
    }
    for (auto _ : state) {
        const WmsResponse response = gWms->Handle(params, "");
        benchmark::DoNotOptimize(response.body.data());
    }
    state.counters["images/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK_CAPTURE(GetMapFullExtent, quorvel, std::string("quorvel"))
    ->Threads(1)->Threads(2)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(GetMapFullExtent, every_layer,
                  std::string("rilievo,comuni,province,nomi_comuni,toponimi,ispettorati,raster_distretto,quorvel"))
    ->Threads(1)->Threads(2)->UseRealTime()->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    gWms = std::make_unique<WmsService>(QUORVEL_APP_DIR);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    gWms.reset();
    return 0;
}
