#include "masterframe.h"

#include "image/histogram.h"
#include "image/imagebuffer.h"
#include "log/messagelog.h"
#include "log/outofmemory.h"
#include "multifb.h"
#include "stackstatistics.h"

#include <algorithm>

namespace {

// The share of pixels below the point a flat's channel is scaled to 1.0 by.
constexpr float kFlatNormalisationPoint = 0.999f;
// The share below the point reported as a dark's highest pixel data.
constexpr float kHighestDataPoint = 0.99f;

void normaliseFlatChannels(ImageBuffer &master, const Histogram &histogram, MessageLog &log)
{
    const float points[3] = {clipRed(histogram, master, kFlatNormalisationPoint),
                             clipGreen(histogram, master, kFlatNormalisationPoint),
                             clipBlue(histogram, master, kFlatNormalisationPoint)};
    float factors[3];
    for (int c = 0; c < 3; ++c) {
        // A channel without light has no point to scale by; it stays as it is.
        if (!(points[c] > 0.0f)) {
            factors[c] = 1.0f;
            log.logMessage(QStringLiteral("Warning: the flat's %1 channel has no light; it is not normalised.")
                               .arg(QLatin1String(c == 0 ? "red" : c == 1 ? "green" : "blue")));
            continue;
        }
        factors[c] = 1.0f / points[c];
    }
    float *p = master.data.get();
    for (std::int64_t i = 0; i < master.floatCount; i += ImageBuffer::kFloatsPerPixel) {
        for (int c = 0; c < 3; ++c)
            p[i + c] = std::min(p[i + c] * factors[c], 1.0f);
    }
}

} // namespace

QString masterFrameTitle(MasterType type)
{
    switch (type) {
    case MasterType::Flat: return QStringLiteral("Master Flat");
    case MasterType::Dark: return QStringLiteral("Master Dark");
    case MasterType::Bias: return QStringLiteral("Master Bias");
    case MasterType::DarkFlat: return QStringLiteral("Master Darkflat");
    }
    return QString();
}

int masterRejectionMode(const MasterFrameOptions &options)
{
    const bool rejects = options.method == 1 || options.method == 2;
    if (!rejects)
        return stackstats::RejectNone;
    if (options.rejection == 1)
        return stackstats::RejectWinsorize;
    if (options.rejection == 2)
        return stackstats::RejectTrim;
    return stackstats::RejectNone;
}

std::unique_ptr<ImageBuffer> generateMasterFrame(MultiFB &fb, const MasterFrameOptions &options, MessageLog &log)
{
    if (options.type == MasterType::Flat && !options.darkFlatPath.isEmpty())
        fb.setDarkFlat(options.darkFlatPath);
    if (options.type != MasterType::Bias && !options.biasPath.isEmpty())
        fb.setBias(options.biasPath);
    fb.rejectionMode = masterRejectionMode(options);

    std::unique_ptr<ImageBuffer> master;
    switch (options.method) {
    case 2:
        log.setStatusText(QStringLiteral("Sigma-Stacking..."));
        master = fb.stackSigma();
        break;
    case 1:
        log.setStatusText(QStringLiteral("Average-Stacking..."));
        master = fb.stackAverage();
        break;
    default:
        log.setStatusText(QStringLiteral("Median-Stacking..."));
        master = fb.stackMedian();
        break;
    }
    if (!master) {
        log.muted = false;
        return nullptr;
    }
    if (!finishMasterFrame(*master, options, log))
        return nullptr;
    return master;
}

bool finishMasterFrame(ImageBuffer &master, const MasterFrameOptions &options, MessageLog &log)
{
    master.scanRange();
    log.logMessage(QStringLiteral("Generating histogram..."));
    std::unique_ptr<Histogram> histogram;
    if (!guardMemory(log, [&] { histogram = buildHistogram(master); }))
        return false;
    if (options.type == MasterType::Flat) {
        if (options.normalizeChannels)
            normaliseFlatChannels(master, *histogram, log);
    } else {
        const float highest = std::max({clipRed(*histogram, master, kHighestDataPoint),
                                        clipGreen(*histogram, master, kHighestDataPoint),
                                        clipBlue(*histogram, master, kHighestDataPoint)});
        log.logMessage(QStringLiteral("Highest pixel data: ") + logNumber(highest));
    }
    master.whiteLevel = 1.0f;
    master.blackLevel = 0.0f;
    return true;
}
