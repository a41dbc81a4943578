// Stacking the registered frames of a registration dialog.
#include "verdanix.h"

#include "console/outputwindow.h"
#include "image/imagebuffer.h"
#include "stack/multifb.h"
#include "stack/stackrun.h"
#include "stack/stackstatistics.h"
#include "stars/wndregistrationdata.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLineEdit>

#include <algorithm>
#include <memory>
#include <vector>

void Verdanix::evStackResult(wndRegistrationData *sender)
{
    if (!sender)
        return;
    const QString refusal = QStringLiteral("Cannot stack, another process is already running.");
    if (calculationRunning) {
        refuse(refusal);
        return;
    }

    // Everything the run needs is read now: the dialog may be closed while it runs.
    QStringList paths;
    std::vector<StackTransform> transforms;
    for (const FrameEntry &entry : sender->frameEntries()) {
        if (!entry.selected || !entry.stackable)
            continue;
        paths << entry.path;
        transforms.push_back(StackTransform{entry.offsetX, entry.offsetY, entry.angle, entry.fwhm});
    }
    if (paths.size() < 2) {
        outputWindow->logMessage(QStringLiteral("You need at least two stackable (successfully "
                                                "registered) images for frame stacking!"), Severity::Error);
        return;
    }
    StackOptions options;
    options.algorithm = sender->cbAlgo->currentIndex();
    const int rejection = sender->cbReject->currentIndex();
    options.rejection = rejection == 1 || rejection == 2 ? rejection : 0;
    options.sigma = static_cast<float>(sender->dsSigma->value());
    options.fraction = static_cast<float>(sender->dsThreshold->value());
    options.flatPath = sender->leFlat->text();
    options.darkPath = sender->leDark->text();
    options.biasPath = sender->leBias->text();
    // The choice's items follow the enumeration: Nearest, Bilinear, Lanczos-3.
    options.interpolation = static_cast<StackInterpolation>(
        std::clamp(sender->options.cbInterpolation->currentIndex(), 0, static_cast<int>(StackInterpolation::Lanczos3)));
    // And so do these: None, Additive, Multiplicative, Additive with scaling.
    options.normalization = static_cast<StackNormalization>(std::clamp(
        sender->cbNormalize->currentIndex(), 0, static_cast<int>(StackNormalization::AdditiveScaling)));
    options.coverage = sender->cbCoverage->isChecked();
    // None, Noise, Noise and FWHM.
    options.weighting = static_cast<StackWeighting>(
        std::clamp(sender->cbWeights->currentIndex(), 0, static_cast<int>(StackWeighting::NoiseFwhm)));
    // The median takes no rejection; for the others the fraction must leave samples to combine.
    if (options.algorithm != stackstats::CombineMedian) {
        const QString problem = stackstats::rejectionFractionProblem(options.rejection, options.fraction, paths.size());
        if (!problem.isEmpty()) {
            outputWindow->logMessage(problem, Severity::Error);
            return;
        }
    }

    // Busy before the frame buffer is set up: its log lines process events, and no other run
    // may start in between.
    startRun(refusal);
    abortRequested = false;
    auto fb = std::make_unique<MultiFB>(*outputWindow, paths);
    if (fb->errorCode != 0) {
        outputWindow->logMessage(
            fb->errorCode == kStackTooFewFrames
                ? QStringLiteral("You need at least two images for frame stacking!")
                : QStringLiteral("[ERROR] MultiFB exited with a non-zero error code."),
            Severity::Error);
        finishRun();
        return;
    }
    // An Abort pressed while the frame buffer was set up counts for the run.
    workerAbortFlag = fb->abortFlag();
    abortable = true;
    if (abortRequested)
        *workerAbortFlag = true;

    std::unique_ptr<ImageBuffer> result = runStack(*fb, options, transforms, *outputWindow);
    const bool aborted = fb->abortFlag()->load() || !result;
    fb.reset();
    if (aborted) {
        outputWindow->logMessage(QStringLiteral("Stacking aborted."));
        finishRun(QStringLiteral("Aborted."));
        return;
    }
    openResultWindow(std::move(result), QStringLiteral("Stack"));
    outputWindow->logMessage(QStringLiteral("Stacking done"));
    finishRun(QStringLiteral("Stacking done"));
}
