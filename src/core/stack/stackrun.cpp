#include "stackrun.h"

#include "image/imagebuffer.h"
#include "log/messagelog.h"
#include "multifb.h"
#include "stackstatistics.h"

std::unique_ptr<ImageBuffer> runStack(MultiFB &fb, const StackOptions &options,
                                      const std::vector<StackTransform> &transforms, MessageLog &log)
{
    if (!transforms.empty() && static_cast<int>(transforms.size()) != fb.frameCount()) {
        fb.errorCode = kStackTransformIndexInvalid;
        log.logMessage(QStringLiteral("[ERROR] %1 transforms for %2 frames.")
                           .arg(transforms.size())
                           .arg(fb.frameCount()), Severity::Error);
        return nullptr;
    }
    if (!options.flatPath.isEmpty())
        fb.setFlat(options.flatPath);
    if (!options.darkPath.isEmpty())
        fb.setDark(options.darkPath);
    if (!options.biasPath.isEmpty())
        fb.setBias(options.biasPath);
    fb.setInterpolation(options.interpolation);
    fb.setNormalization(options.normalization);
    fb.setCoverage(options.coverage);
    fb.setWeighting(options.weighting);
    std::vector<float> fwhm;
    for (const StackTransform &transform : transforms)
        fwhm.push_back(transform.fwhm);
    fb.setFrameFwhm(std::move(fwhm));
    for (std::size_t k = 0; k < transforms.size(); ++k)
        fb.setTransform(static_cast<int>(k), transforms[k].offsetX, transforms[k].offsetY, transforms[k].angle);
    fb.sigmaFactor = options.sigma;
    fb.rejectFraction = options.fraction;
    fb.rejectionMode = options.rejection == 1   ? stackstats::RejectWinsorize
                       : options.rejection == 2 ? stackstats::RejectTrim
                                                : stackstats::RejectNone;

    switch (options.algorithm) {
    case 1:
        log.logMessage(QStringLiteral("Doing MEDIAN-Stacking..."));
        log.setStatusText(QStringLiteral("Median-Stacking..."));
        return fb.stackMedian();
    case 2:
        log.logMessage(QStringLiteral("Doing SIGMA-Stacking..."));
        log.setStatusText(QStringLiteral("Sigma-Stacking..."));
        return fb.stackSigma();
    default:
        log.logMessage(QStringLiteral("Doing AVERAGE-Stacking..."));
        log.setStatusText(QStringLiteral("Average-Stacking..."));
        return fb.stackAverage();
    }
}
