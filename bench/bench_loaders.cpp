// Loading costs measured against the libraries alone: a 6000 x 4000 16-bit FITS frame through
// ImageLoader::loadFile vs cfitsio reading the same pixels as floats into one array, and a
// camera RAW file through loadFile vs LibRaw's own open/unpack/process/memory image.
// Compare the pairs as ratios from one run; absolute times depend on the machine.
#include "image/imageloader.h"
#include "log/messagelog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <benchmark/benchmark.h>
#include <fitsio.h>
#include <libraw/libraw.h>

#include <memory>
#include <vector>

namespace {

constexpr long kFitsWidth = 6000;
constexpr long kFitsHeight = 4000;

// One frame per process, written once, in the unsigned 16-bit layout cameras produce.
class FitsFrame {
public:
    FitsFrame() : path(QDir::temp().filePath(QStringLiteral("verdanix-bench-%1.fits").arg(QCoreApplication::applicationPid())))
    {
        QFile::remove(path);
        int status = 0;
        fitsfile *file = nullptr;
        const QByteArray name = QFile::encodeName(path);
        long axes[2] = {kFitsWidth, kFitsHeight};
        ffdkinit(&file, name.constData(), &status);
        ffcrim(file, USHORT_IMG, 2, axes, &status);
        std::vector<unsigned short> row(kFitsWidth);
        for (long y = 0; y < kFitsHeight && status == 0; ++y) {
            for (long x = 0; x < kFitsWidth; ++x)
                row[x] = static_cast<unsigned short>((x * 7 + y * 13) & 0xffff);
            ffpprui(file, 1, y * kFitsWidth + 1, kFitsWidth, row.data(), &status);
        }
        ffclos(file, &status);
        ok = status == 0;
    }
    ~FitsFrame() { QFile::remove(path); }

    QString path;
    bool ok = false;
};

const FitsFrame &fitsFrame()
{
    static FitsFrame frame;
    return frame;
}

QString rawPath()
{
    return QStringLiteral(VERDANIX_DATA_DIR "/raw/IMG_5952.CR2");
}

void BM_FitsLoadFile(benchmark::State &state)
{
    const FitsFrame &frame = fitsFrame();
    if (!frame.ok) {
        state.SkipWithError("cannot write the FITS frame");
        return;
    }
    NullMessageLog quiet;
    for (auto _ : state) {
        ImageLoader loader;
        loader.log = &quiet;
        auto image = loader.loadFile(frame.path, false);
        if (!image) {
            state.SkipWithError("load failed");
            return;
        }
        benchmark::DoNotOptimize(image->data.get());
    }
    state.SetItemsProcessed(state.iterations() * kFitsWidth * kFitsHeight);
}

void BM_FitsCfitsioAlone(benchmark::State &state)
{
    const FitsFrame &frame = fitsFrame();
    if (!frame.ok) {
        state.SkipWithError("cannot write the FITS frame");
        return;
    }
    const QByteArray name = QFile::encodeName(frame.path);
    for (auto _ : state) {
        int status = 0;
        fitsfile *file = nullptr;
        ffdkopn(&file, name.constData(), READONLY, &status);
        std::unique_ptr<float[]> pixels(new float[kFitsWidth * kFitsHeight]);
        long first[2] = {1, 1};
        int anyNull = 0;
        ffgpxv(file, TFLOAT, first, kFitsWidth * kFitsHeight, nullptr, pixels.get(), &anyNull, &status);
        ffclos(file, &status);
        if (status != 0) {
            state.SkipWithError("cfitsio read failed");
            return;
        }
        benchmark::DoNotOptimize(pixels.get());
    }
    state.SetItemsProcessed(state.iterations() * kFitsWidth * kFitsHeight);
}

// The same read into one array allocated before timing: what cfitsio's decoding alone costs,
// without the first-touch cost of fresh memory that both loads above pay.
void BM_FitsCfitsioIntoReusedArray(benchmark::State &state)
{
    const FitsFrame &frame = fitsFrame();
    if (!frame.ok) {
        state.SkipWithError("cannot write the FITS frame");
        return;
    }
    const QByteArray name = QFile::encodeName(frame.path);
    std::vector<float> pixels(kFitsWidth * kFitsHeight);
    for (auto _ : state) {
        int status = 0;
        fitsfile *file = nullptr;
        ffdkopn(&file, name.constData(), READONLY, &status);
        long first[2] = {1, 1};
        int anyNull = 0;
        ffgpxv(file, TFLOAT, first, kFitsWidth * kFitsHeight, nullptr, pixels.data(), &anyNull, &status);
        ffclos(file, &status);
        if (status != 0) {
            state.SkipWithError("cfitsio read failed");
            return;
        }
        benchmark::DoNotOptimize(pixels.data());
    }
    state.SetItemsProcessed(state.iterations() * kFitsWidth * kFitsHeight);
}

void BM_RawLoadFile(benchmark::State &state)
{
    if (!QFile::exists(rawPath())) {
        state.SkipWithError("no RAW file in " VERDANIX_DATA_DIR);
        return;
    }
    NullMessageLog quiet;
    for (auto _ : state) {
        ImageLoader loader;
        loader.log = &quiet;
        auto image = loader.loadFile(rawPath(), false);
        if (!image) {
            state.SkipWithError("load failed");
            return;
        }
        benchmark::DoNotOptimize(image->data.get());
    }
}

void BM_RawLibRawAlone(benchmark::State &state)
{
    if (!QFile::exists(rawPath())) {
        state.SkipWithError("no RAW file in " VERDANIX_DATA_DIR);
        return;
    }
    const QByteArray name = QFile::encodeName(rawPath());
    for (auto _ : state) {
        auto raw = std::make_unique<LibRaw>(0);
        libraw_output_params_t &params = raw->imgdata.params;
        params.output_bps = 16;
        params.gamm[0] = params.gamm[1] = 1.0;
        params.no_auto_bright = 1;
        params.use_camera_wb = 1;
        params.output_color = 0;
        params.user_flip = 0;
        int error = raw->open_file(name.constData(), 262144000);
        if (error == 0)
            error = raw->unpack();
        if (error == 0)
            error = raw->dcraw_process();
        libraw_processed_image_t *image = error == 0 ? raw->dcraw_make_mem_image(&error) : nullptr;
        if (!image) {
            state.SkipWithError("LibRaw failed");
            return;
        }
        benchmark::DoNotOptimize(image->data);
        LibRaw::dcraw_clear_mem(image);
    }
}

} // namespace

BENCHMARK(BM_FitsLoadFile)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FitsCfitsioAlone)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FitsCfitsioIntoReusedArray)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RawLoadFile)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RawLibRawAlone)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
