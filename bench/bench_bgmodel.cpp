// Background model generation: 100 markers on a 3000 x 2000 image (6 megapixels, 600 million
// look-ups), at the default exponent 0.5 (fast square root) and at 1.3 (power function), on
// the calling thread alone and on two worker threads. Compare the lookups_per_ms counters of
// runs made side by side: on two cores the two-thread run should reach 1.8 times the
// one-thread figure.
#include "image/imagebuffer.h"
#include "log/messagelog.h"
#include "process/bgmodeller.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>

namespace {

constexpr int kWidth = 3000;
constexpr int kHeight = 2000;
constexpr int kMarkersPerSide = 10;

// A 10 x 10 grid of markers with a colour gradient, as an automatic placement leaves them.
void placeMarkers(bgmodeller &model)
{
    for (int j = 0; j < kMarkersPerSide; ++j) {
        for (int i = 0; i < kMarkersPerSide; ++i) {
            model.markerX << (2 * i + 1) * kWidth / (2 * kMarkersPerSide);
            model.markerY << (2 * j + 1) * kHeight / (2 * kMarkersPerSide);
            model.markerR << 0.05f + 0.01f * i;
            model.markerG << 0.06f + 0.005f * j;
            model.markerB << 0.08f + 0.002f * (i + j);
        }
    }
}

void generate(benchmark::State &state, double exponent)
{
    static const ImageBuffer image(kWidth, kHeight);
    NullMessageLog quiet;
    bgmodeller model;
    placeMarkers(model);
    model.exponent = exponent;
    model.offset = 100 * 100;
    model.console = &quiet;
    model.threadCount = static_cast<int>(state.range(0));
    for (auto _ : state) {
        std::unique_ptr<ImageBuffer> background = model.getSmoothBg(image);
        benchmark::DoNotOptimize(background->data.get());
        // Freeing the model is the business of whoever closes its window, not of the generation.
        state.PauseTiming();
        background.reset();
        state.ResumeTiming();
    }
    const double lookUps = static_cast<double>(model.markerCount()) * kWidth * kHeight;
    // A rate counter divides by seconds; the program reports look-ups per millisecond.
    state.counters["lookups_per_ms"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * lookUps / 1000.0, benchmark::Counter::kIsRate);
}

void BM_BackgroundFastRoot(benchmark::State &state)
{
    generate(state, kFastRootExponent);
}

void BM_BackgroundPower(benchmark::State &state)
{
    generate(state, 1.3);
}

} // namespace

BENCHMARK(BM_BackgroundFastRoot)->Arg(1)->Arg(2)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BackgroundPower)
    ->Arg(1)
    ->Arg(2)
    ->ArgName("threads")
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

BENCHMARK_MAIN();
