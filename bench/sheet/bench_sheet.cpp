// One PDF sheet drawn and written to memory: what a user of "Esporta PDF…" or
// of quorvel-batch --pdf waits for each point, less the disk.
#include <QGuiApplication>
#include <QImage>

#include <benchmark/benchmark.h>

#include "sheet/RainSheet.h"

namespace {

using namespace quorvel;

void BM_RainSheetPdf(benchmark::State& state)
{
    RainSheet sheet;
    sheet.run = {"2026-12-07T09:15:03+01:00", "2.0", "rossi", "Piogge.xls", {2400000, 5100000},
                 {{140, 181}, {2400250, 5100250}, 0.39f, 29.05f, 0.307f, {27.4f, 36.3f, 42.7f, 49.2f, 58.4f, 65.6f, 73.3f}},
                 {std::string(64, 'a'), std::string(64, 'b'), std::string(64, 'c'), std::string(64, 'd')},
                 {std::string(64, 'e'), std::string(64, 'f'), std::string(64, '0')}, "esempio"};
    sheet.wgs84 = LatLon{45.98, 13.12};
    sheet.map = QImage(600, 600, QImage::Format_RGB32);
    sheet.map.fill(Qt::darkGreen);
    const QByteArray check = RainSheetPdf(sheet);
    if (!check.startsWith("%PDF-") || !check.contains("/FontFile2")) {
        state.SkipWithError("not a PDF with embedded fonts");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(RainSheetPdf(sheet));
}
BENCHMARK(BM_RainSheetPdf)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    const auto painting = StartOffscreenPainting(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
