// Histogram of a 6000 x 4000 image and the clipping points read from it: building touches
// every pixel once, a query walks at most 65536 bins. Compare runs made side by side.
#include "image/histogram.h"
#include "image/imagebuffer.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>

namespace {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;

// A normalised frame: dark sky with a gradient, some noise and a few saturated stars.
ImageBuffer &frame()
{
    static const std::unique_ptr<ImageBuffer> buffer = [] {
        auto image = std::make_unique<ImageBuffer>(kWidth, kHeight);
        std::uint32_t noise = 54321;
        for (int y = 0; y < kHeight; ++y) {
            float *p = image->pixel(0, y);
            for (int x = 0; x < kWidth; ++x, p += ImageBuffer::kFloatsPerPixel) {
                noise = noise * 1664525u + 1013904223u;
                const float sky = 0.05f + 0.1f * static_cast<float>(x) / kWidth;
                const float grain = static_cast<float>(noise >> 20) / 4096.0f * 0.01f;
                const bool star = (noise & 0xFFFF) == 0;
                p[0] = star ? 1.0f : sky + grain;
                p[1] = star ? 1.0f : sky * 0.9f + grain;
                p[2] = star ? 1.0f : sky * 1.1f + grain;
                p[3] = 1.0f;
            }
        }
        image->scanRange();
        return image;
    }();
    return *buffer;
}

void BM_BuildHistogram(benchmark::State &state)
{
    ImageBuffer &buffer = frame();
    for (auto _ : state) {
        auto histogram = buildHistogram(buffer);
        benchmark::DoNotOptimize(histogram.get());
    }
    state.counters["pixels_per_ms"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kWidth * kHeight / 1000.0, benchmark::Counter::kIsRate);
}

// The four queries that opening an image and the automatic stretch make.
void BM_ClipPoints(benchmark::State &state)
{
    ImageBuffer &buffer = frame();
    const auto histogram = buildHistogram(buffer);
    for (auto _ : state) {
        benchmark::DoNotOptimize(clipLuminance(*histogram, buffer, 0.001f));
        benchmark::DoNotOptimize(clipLuminance(*histogram, buffer, 0.999f));
        benchmark::DoNotOptimize(clipRed(*histogram, buffer, 0.999f));
        benchmark::DoNotOptimize(clipBlue(*histogram, buffer, 0.99f));
    }
}

} // namespace

BENCHMARK(BM_BuildHistogram)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ClipPoints)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
