// Loading costs of the FITS variants against the plain file, side by side: a 3000 x 2000
// unsigned 16-bit frame stored plain, tile-compressed (RICE, one row per tile, as fpack
// writes it) and gzip-compressed; and the same frame as a colour mosaic (BAYERPAT RGGB)
// loaded as it stands and debayered. BM_DebayerColourError reports, as counters, how far
// the bilinear interpolation of a mosaic lies from the colour image it was sampled from.
#include "image/debayer.h"
#include "image/imagebuffer.h"
#include "image/imageloader.h"
#include "log/messagelog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <benchmark/benchmark.h>
#include <fitsio.h>
#include <zlib.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace {

constexpr long kWidth = 3000;
constexpr long kHeight = 2000;

// A star field in three colours: a sky gradient, a few hundred stars of different colours
// and (optionally) noise, so that compression and interpolation meet what a night gives.
struct Scene {
    std::vector<float> planes[3];
    explicit Scene(bool withNoise)
    {
        // Stars and noise draw from separate sequences: both scenes hold the same stars.
        std::uint32_t noiseSeed = 12345, starSeed = 54321;
        auto draw = [](std::uint32_t &seed) {
            seed = seed * 1664525u + 1013904223u;
            return static_cast<float>(seed >> 8) / 16777216.0f - 0.5f;
        };
        auto noise = [&] { return draw(noiseSeed); };
        auto starDraw = [&] { return draw(starSeed); };
        const float tint[3] = {1.0f, 0.9f, 0.8f};
        for (auto &plane : planes)
            plane.resize(kWidth * kHeight);
        for (long y = 0; y < kHeight; ++y)
            for (long x = 0; x < kWidth; ++x)
                for (int c = 0; c < 3; ++c)
                    planes[c][y * kWidth + x] =
                        tint[c] * (800.0f + 0.1f * x + 0.05f * y) + (withNoise ? 40.0f * noise() : 0.0f);
        for (int star = 0; star < 400; ++star) {
            const float cx = (starDraw() + 0.5f) * kWidth, cy = (starDraw() + 0.5f) * kHeight;
            const float peak = 2000.0f + 30000.0f * (starDraw() + 0.5f), sigma = 1.2f + 2.0f * (starDraw() + 0.5f);
            const float colour[3] = {1.0f + starDraw(), 1.0f, 1.0f - starDraw()};
            for (long y = std::max(0L, long(cy) - 12); y < std::min(kHeight, long(cy) + 12); ++y)
                for (long x = std::max(0L, long(cx) - 12); x < std::min(kWidth, long(cx) + 12); ++x) {
                    const float r2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
                    for (int c = 0; c < 3; ++c)
                        planes[c][y * kWidth + x] += colour[c] * peak * std::exp(-r2 / (2 * sigma * sigma));
                }
        }
        for (auto &plane : planes)
            for (float &v : plane)
                v = std::round(std::min(std::max(v, 0.0f), 65535.0f));
    }
};

const Scene &scene(bool withNoise = true)
{
    static Scene noisy(true);
    static Scene clean(false);
    return withNoise ? noisy : clean;
}

// The scene's mosaic: each pixel keeps the colour its RGGB filter passes.
std::vector<float> mosaicOf(const Scene &s, const BayerLayout &layout)
{
    std::vector<float> mosaic(kWidth * kHeight);
    for (long y = 0; y < kHeight; ++y)
        for (long x = 0; x < kWidth; ++x)
            mosaic[y * kWidth + x] = s.planes[layout.colourAt(int(x), int(y))][y * kWidth + x];
    return mosaic;
}

QString tempPath(const char *name)
{
    return QDir::temp().filePath(
        QStringLiteral("verdanix-bench-%1-%2").arg(QCoreApplication::applicationPid()).arg(name));
}

// Writes the values as unsigned 16-bit; compression 0 is none. Returns false on failure.
bool writeFrame(const QString &path, const std::vector<float> &values, int compression, bool bayer)
{
    QFile::remove(path);
    int status = 0;
    fitsfile *file = nullptr;
    const QByteArray name = QFile::encodeName(path);
    long axes[2] = {kWidth, kHeight};
    ffdkinit(&file, name.constData(), &status);
    if (compression != 0)
        fits_set_compression_type(file, compression, &status);
    ffcrim(file, USHORT_IMG, 2, axes, &status);
    if (bayer)
        ffpkys(file, "BAYERPAT", "RGGB", "colour filter mosaic", &status);
    // Compressed images take integers only as integers.
    std::vector<unsigned short> samples(values.begin(), values.end());
    ffppr(file, TUSHORT, 1, kWidth * kHeight, samples.data(), &status);
    ffclos(file, &status);
    return status == 0;
}

bool gzip(const QString &from, const QString &to)
{
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = source.readAll();
    gzFile target = gzopen(QFile::encodeName(to).constData(), "wb6");
    const bool ok = target && gzwrite(target, bytes.constData(), unsigned(bytes.size())) == bytes.size();
    return target && gzclose(target) == Z_OK && ok;
}

struct Files {
    QString plain = tempPath("plain.fits");
    QString tiled = tempPath("tiled.fits.fz");
    QString zipped = tempPath("zipped.fits.gz");
    QString mosaic = tempPath("mosaic.fits");
    bool ok = false;
    Files()
    {
        const BayerLayout layout = *bayerLayout(QStringLiteral("RGGB"), 0, 0);
        const std::vector<float> values = mosaicOf(scene(), layout);
        ok = writeFrame(plain, values, 0, false) && writeFrame(tiled, values, RICE_1, false) && gzip(plain, zipped)
            && writeFrame(mosaic, values, 0, true);
    }
    ~Files()
    {
        for (const QString &path : {plain, tiled, zipped, mosaic})
            QFile::remove(path);
    }
};

const Files &files()
{
    static Files f;
    return f;
}

void load(benchmark::State &state, const QString &path, bool debayer)
{
    if (!files().ok) {
        state.SkipWithError("cannot write the frames");
        return;
    }
    NullMessageLog quiet;
    for (auto _ : state) {
        ImageLoader loader;
        loader.log = &quiet;
        loader.options.debayer = debayer;
        auto image = loader.loadFile(path, false);
        if (!image || image->channels != (debayer ? 3 : 2)) {
            state.SkipWithError("load failed");
            return;
        }
        benchmark::DoNotOptimize(image->data.get());
    }
    state.counters["bytes_on_disk"] = double(QFile(path).size());
}

void BM_LoadPlain(benchmark::State &state) { load(state, files().plain, false); }
void BM_LoadTileCompressed(benchmark::State &state) { load(state, files().tiled, false); }
void BM_LoadGzip(benchmark::State &state) { load(state, files().zipped, false); }
void BM_LoadMosaicAsItStands(benchmark::State &state) { load(state, files().mosaic, false); }
void BM_LoadMosaicDebayered(benchmark::State &state) { load(state, files().mosaic, true); }

// RMS of the debayered mosaic against the scene (argument 1: with noise, 0: without), over
// all pixels and over the inner ones (no image border), in ADU; and, for scale, the RMS of
// the mosaic taken as grey (each pixel's one value in all three colours).
void BM_DebayerColourError(benchmark::State &state)
{
    const Scene &s = scene(state.range(0) != 0);
    const BayerLayout layout = *bayerLayout(QStringLiteral("RGGB"), 0, 0);
    const std::vector<float> mosaic = mosaicOf(s, layout);
    ImageBuffer out(kWidth, kHeight);
    for (auto _ : state)
        debayerBilinear(mosaic.data(), 0, kWidth, kHeight, layout, 0, kHeight, out, 0);
    double sum = 0, inner = 0, grey = 0;
    long innerCount = 0;
    for (long y = 0; y < kHeight; ++y)
        for (long x = 0; x < kWidth; ++x)
            for (int c = 0; c < 3; ++c) {
                const double truth = s.planes[c][y * kWidth + x];
                const double d = out.pixel(int(x), int(y))[c] - truth;
                const double g = mosaic[y * kWidth + x] - truth;
                sum += d * d;
                grey += g * g;
                if (x > 0 && y > 0 && x + 1 < kWidth && y + 1 < kHeight) {
                    inner += d * d;
                    ++innerCount;
                }
            }
    const double count = 3.0 * kWidth * kHeight;
    state.counters["rms_adu"] = std::sqrt(sum / count);
    state.counters["rms_inner_adu"] = std::sqrt(inner / double(innerCount));
    state.counters["rms_grey_adu"] = std::sqrt(grey / count);
}

} // namespace

BENCHMARK(BM_LoadPlain)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LoadTileCompressed)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LoadGzip)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LoadMosaicAsItStands)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LoadMosaicDebayered)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DebayerColourError)->Unit(benchmark::kMillisecond)->Iterations(3)->Arg(0)->Arg(1);

BENCHMARK_MAIN();
