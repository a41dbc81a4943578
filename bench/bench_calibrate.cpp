// Light-frame calibration against its I/O floor: 20 frames of 6000 x 4000 (16-bit FITS in,
// three-plane float FITS out) calibrated with bias, dark and flat on 2 threads, vs the same
// files only read (masters included) and written on 2 threads, back to back in every
// iteration; `ratio` is calibration time over floor time. The peak memory of each (VmHWM,
// reset before each) is reported too, and for the calibration what it means per pixel per
// thread once the masters are taken off, to set against the 43 bytes the run reckons.
//
// Needs about 2 GB of inputs and up to 5.8 GB of outputs at a time in the temporary folder
// (TMPDIR); VERDANIX_BENCH_FRAMES sets another frame count. Everything is removed at the end.
#include "calib/framecalibration.h"
#include "image/fitswriter.h"
#include "image/imagebuffer.h"
#include "image/imageloader.h"
#include "log/messagelog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <fitsio.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

namespace {

constexpr long kWidth = 6000;
constexpr long kHeight = 4000;
constexpr int kThreads = 2;

int frameCount()
{
    const int fromEnvironment = qEnvironmentVariableIntValue("VERDANIX_BENCH_FRAMES");
    return fromEnvironment > 0 ? fromEnvironment : 20;
}

// Unsigned 16-bit frames as cameras write them, and float masters of three planes.
bool writeFrame(const QString &path)
{
    int status = 0;
    fitsfile *file = nullptr;
    long axes[2] = {kWidth, kHeight};
    ffdkinit(&file, QFile::encodeName(path).constData(), &status);
    ffcrim(file, USHORT_IMG, 2, axes, &status);
    std::vector<unsigned short> row(kWidth);
    for (long y = 0; y < kHeight && status == 0; ++y) {
        for (long x = 0; x < kWidth; ++x)
            row[x] = static_cast<unsigned short>(20000 + ((x * 7 + y * 13) & 0x3fff));
        ffpprui(file, 1, y * kWidth + 1, kWidth, row.data(), &status);
    }
    ffclos(file, &status);
    return status == 0;
}

bool writeMaster(const QString &path, float base, float step)
{
    int status = 0;
    fitsfile *file = nullptr;
    long axes[3] = {kWidth, kHeight, 3};
    ffdkinit(&file, QFile::encodeName(path).constData(), &status);
    ffcrim(file, FLOAT_IMG, 3, axes, &status);
    std::vector<float> row(kWidth);
    for (long plane = 0; plane < 3; ++plane) {
        for (long y = 0; y < kHeight && status == 0; ++y) {
            for (long x = 0; x < kWidth; ++x)
                row[x] = base + step * static_cast<float>((x + y + plane) % 64);
            ffppre(file, 1, (plane * kHeight + y) * kWidth + 1, kWidth, row.data(), &status);
        }
    }
    ffclos(file, &status);
    return status == 0;
}

struct Workspace {
    QTemporaryDir dir{QDir::temp().filePath(QStringLiteral("verdanix-bench-calib-XXXXXX"))};
    QStringList frames;
    QString bias, dark, flat;
    bool ok = false;

    Workspace()
    {
        if (!dir.isValid())
            return;
        const QString first = dir.filePath(QStringLiteral("light00.fits"));
        if (!writeFrame(first))
            return;
        frames << first;
        for (int i = 1; i < frameCount(); ++i) {
            const QString copy = dir.filePath(QStringLiteral("light%1.fits").arg(i, 2, 10, QLatin1Char('0')));
            if (!QFile::copy(first, copy))
                return;
            frames << copy;
        }
        bias = dir.filePath(QStringLiteral("bias.fits"));
        dark = dir.filePath(QStringLiteral("dark.fits"));
        flat = dir.filePath(QStringLiteral("flat.fits"));
        ok = writeMaster(bias, 0.01f, 0.0001f) && writeMaster(dark, 0.02f, 0.0002f) && writeMaster(flat, 0.8f, 0.003f);
    }

    // An empty output folder; the previous iteration's files are gone.
    QString freshOutput() const
    {
        const QString out = dir.filePath(QStringLiteral("out"));
        QDir(out).removeRecursively();
        QDir().mkpath(out);
        return out;
    }
};

Workspace &workspace()
{
    static Workspace space;
    return space;
}

std::uint64_t statusKB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').first().toULongLong();
    return 0;
}

// Makes VmHWM start again from the current resident size.
void resetPeakMemory()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

// Peak resident memory of one run (MB) and what it means per pixel per thread once the
// masters, held once for all threads, are taken off.
struct MemoryUse {
    double peakMB = 0.0;
    double threadBytesPerPixel = 0.0;
};

template <typename Run>
bool measure(Run &&run, double &seconds, MemoryUse &memory)
{
    const std::uint64_t baselineKB = statusKB("VmRSS");
    resetPeakMemory();
    const auto start = std::chrono::steady_clock::now();
    const bool ok = run();
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    memory.peakMB = static_cast<double>(statusKB("VmHWM")) / 1024.0;
    const double masterMB = 3.0 * static_cast<double>(ImageBuffer::bytesFor(kWidth, kHeight)) / (1024.0 * 1024.0);
    const double perThreadMB = (memory.peakMB - static_cast<double>(baselineKB) / 1024.0 - masterMB) / kThreads;
    memory.threadBytesPerPixel = perThreadMB * 1024.0 * 1024.0 / (kWidth * kHeight);
    return ok;
}

// The calibration run as the desktop program does it: load the masters, run the controller.
bool calibrateAll(const Workspace &space, const QString &out)
{
    CalibrationParameters parameters;
    parameters.lightFrames = space.frames;
    parameters.outputFolder = out;
    parameters.biasPath = space.bias;
    parameters.darkPath = space.dark;
    parameters.flatPath = space.flat;
    // Two threads whatever this machine's settings say: the budget must not lower them.
    parameters.preferences = ResourcePreferences{kThreads, 8192, 100};
    NullMessageLog quiet;
    frameCalibration run(parameters, nullptr, quiet);
    run.loadMasters();
    run.calibrate();
    return run.errorCode() == 0 && run.threadLimit() == kThreads;
}

// The same files read and written, nothing computed: 2 workers take frames in list order.
bool readAndWriteAll(const Workspace &space, const QString &out)
{
    NullMessageLog quiet;
    std::vector<std::unique_ptr<ImageBuffer>> masters;
    for (const QString &path : {space.bias, space.dark, space.flat}) {
        ImageLoader loader;
        loader.log = &quiet;
        masters.push_back(loader.loadFile(path, false));
        if (!masters.back())
            return false;
    }
    std::atomic<int> next{0};
    std::atomic<int> failures{0};
    auto worker = [&] {
        for (int i = next++; i < space.frames.size(); i = next++) {
            ImageLoader loader;
            loader.log = &quiet;
            auto frame = loader.loadFile(space.frames.at(i), false);
            if (!frame) {
                ++failures;
                continue;
            }
            FitsReader record(calibratedFramePath(space.frames.at(i), out));
            preparePlanes(record, *frame);
            frame.reset();
            writeFits(record, kWidth, kHeight);
            failures += record.status != 0 ? 1 : 0;
        }
    };
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t)
        workers.emplace_back(worker);
    for (auto &w : workers)
        w.join();
    return failures == 0;
}

// Each iteration runs the floor and the calibration back to back, so that both see the same
// machine; the reported time is the calibration's, the counters give the floor and the ratio.
void BM_CalibrateVsIoFloor(benchmark::State &state)
{
    Workspace &space = workspace();
    if (!space.ok) {
        state.SkipWithError("cannot write the inputs");
        return;
    }
    for (auto _ : state) {
        double floorSeconds = 0.0;
        double runSeconds = 0.0;
        MemoryUse floorMemory;
        MemoryUse runMemory;
        const bool floorOk =
            measure([&] { return readAndWriteAll(space, space.freshOutput()); }, floorSeconds, floorMemory);
        const bool runOk = measure([&] { return calibrateAll(space, space.freshOutput()); }, runSeconds, runMemory);
        space.freshOutput();
        if (!floorOk || !runOk) {
            state.SkipWithError(floorOk ? "calibration failed" : "reading or writing failed");
            return;
        }
        state.SetIterationTime(runSeconds);
        state.counters["floor_s"] = floorSeconds;
        state.counters["ratio"] = runSeconds / floorSeconds;
        state.counters["floorPeakMB"] = floorMemory.peakMB;
        state.counters["runPeakMB"] = runMemory.peakMB;
        state.counters["runThreadB/px"] = runMemory.threadBytesPerPixel;
    }
    state.SetItemsProcessed(state.iterations() * space.frames.size());
}

} // namespace

BENCHMARK(BM_CalibrateVsIoFloor)->Unit(benchmark::kSecond)->UseManualTime()->Iterations(1)->Repetitions(3);

int main(int argc, char **argv)
{
    // The calibration run waits for its threads in an event loop.
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
