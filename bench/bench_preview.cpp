// Preview rendering of a 6000 x 4000 image (a 24-megapixel camera frame), one thread against
// several. Compare the pixels_per_ms counters of runs made side by side: on two cores the
// two-thread run should render at least 1.7 times as many pixels per millisecond.
#include "image/imagebuffer.h"
#include "image/previewrenderer.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;

// RAW-like samples (0 ... 65535, white level 65535) with a gradient and some texture, so that
// the normalisation and every clamp take part.
const ImageBuffer &frame()
{
    static const std::unique_ptr<ImageBuffer> buffer = [] {
        auto image = std::make_unique<ImageBuffer>(kWidth, kHeight);
        std::uint32_t noise = 12345;
        for (int y = 0; y < kHeight; ++y) {
            float *p = image->pixel(0, y);
            for (int x = 0; x < kWidth; ++x, p += ImageBuffer::kFloatsPerPixel) {
                noise = noise * 1664525u + 1013904223u;
                const float base = static_cast<float>(x + y) * 6.0f;
                p[0] = base + static_cast<float>(noise >> 24);
                p[1] = base * 0.9f + static_cast<float>((noise >> 16) & 0xFF);
                p[2] = base * 0.8f + static_cast<float>((noise >> 8) & 0xFF);
                p[3] = 1.0f;
            }
        }
        image->whiteLevel = 65535.0f;
        return image;
    }();
    return *buffer;
}

void render(benchmark::State &state, const PreviewParams &params)
{
    const ImageBuffer &buffer = frame();
    const int threads = static_cast<int>(state.range(0));
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(kWidth) * kHeight);
    for (auto _ : state) {
        renderPreview(buffer, params, pixels.data(), kWidth, threads);
        benchmark::DoNotOptimize(pixels.data());
        benchmark::ClobberMemory();
    }
    // A rate counter divides by seconds; per millisecond is the figure the user feels.
    state.counters["pixels_per_ms"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kWidth * kHeight / 1000.0, benchmark::Counter::kIsRate);
}

// Default view correction: normalisation and clamping only.
void BM_PreviewDefault(benchmark::State &state)
{
    render(state, PreviewParams{});
}

// A stretched view as the automatic stretch leaves it, with gamma and preview gamma.
void BM_PreviewStretched(benchmark::State &state)
{
    PreviewParams params;
    for (int c = 0; c < 3; ++c) {
        params.vcBlack[c] = 0.02f;
        params.vcGamma[c] = 0.6f;
        params.vcWhite[c] = 0.4f;
    }
    params.usePreviewGamma = true;
    render(state, params);
}

} // namespace

BENCHMARK(BM_PreviewDefault)->Arg(1)->Arg(2)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PreviewStretched)->Arg(1)->Arg(2)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
