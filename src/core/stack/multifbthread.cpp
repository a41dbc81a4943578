#include "multifbthread.h"

#include "calib/calibarithmetic.h"
#include "calib/calibrationthread.h"
#include "image/imagebuffer.h"
#include "image/imageloader.h"

#include <algorithm>
#include <new>

namespace {

// Output rows resampled per step: the source rows one step needs (these plus the rows a
// rotation spreads them over) stay in the cache from their reading to their use.
constexpr int kResampleRowsPerStep = 64;

} // namespace

MultiFBThread::MultiFBThread(const FrameBandRequest &bandRequest, QObject *parent)
    : QThread(parent), request(bandRequest)
{
}

MultiFBThread::~MultiFBThread()
{
    wait();
}

void MultiFBThread::run()
{
    errorCode = 0;
    // The frame's previous band is written over when the new one has its size.
    std::unique_ptr<ImageBuffer> previous = std::move(band);
    const int bandWidth = request.registered ? request.outputWidth : request.frameWidth;
    if (previous && previous->width == bandWidth && previous->height >= request.rowCount)
        previous->keepFirstRows(request.rowCount);
    else
        previous.reset();
    // Nothing may leave a thread: running out of memory is this band's failure.
    try {
        band = request.registered ? loadRegisteredBand(std::move(previous)) : loadPlainBand(std::move(previous));
    } catch (const std::bad_alloc &) {
        band.reset();
        errorCode = kNotEnoughMemory;
    }
    if (band)
        emit resultReady(this);
    else
        emit procFailed(this);
}

std::unique_ptr<ImageBuffer> MultiFBThread::loadPlainBand(std::unique_ptr<ImageBuffer> previous)
{
    ImageLoader loader;
    loader.reusableBuffer = std::move(previous);
    auto loaded = loader.loadRows(request.path, request.firstRow, request.frameWidth, request.rowCount);
    if (!loaded) {
        // A frame shorter than the first one has no rows here: it gives no samples.
        if (loader.errorCode != kBandOutsideImage) {
            errorCode = loader.errorCode != 0 ? loader.errorCode : kNotEnoughMemory;
            return nullptr;
        }
        sizeDiffers = true;
        return fitBand(nullptr, request.frameWidth, request.rowCount);
    }
    sourceWidth = loaded->width;
    if (loaded->whiteLevel != 1.0f && !normalizeImage(*loaded)) {
        errorCode = kFrameNotNormalizable;
        return nullptr;
    }
    calibrateBand(*loaded, request.firstRow, request.masters);
    applyNormalization(*loaded, request.normalization);
    sizeDiffers = loaded->width != request.frameWidth || loaded->height != request.rowCount;
    return fitBand(std::move(loaded), request.frameWidth, request.rowCount);
}

std::unique_ptr<ImageBuffer> MultiFBThread::loadRegisteredBand(std::unique_ptr<ImageBuffer> previous)
{
    // Every pixel of the band is written below (an aborted band is never combined).
    auto resampled = previous ? std::move(previous) : ImageBuffer::createUnfilled(request.outputWidth, request.rowCount);
    resampled->whiteLevel = 1.0f;
    resampled->blackLevel = 0.0f;
    const FrameRotation rotation(request.placement, request.frameWidth, request.frameHeight);
    SourceWindow source(request.path, request.frameWidth, request.frameHeight);
    const bool interpolating = request.interpolation != StackInterpolation::Nearest;
    // An interpolating kernel reaches a few rows beyond those Nearest reads, and meets its
    // source rows calibrated (and, where that makes it faster, as grey values).
    const int margin = interpolationMargin(request.interpolation);
    const bool keepGrey = interpolationKeepsGreyRows(request.interpolation);
    if (interpolating)
        source.prepareRows = [this, keepGrey](ImageBuffer &rows, int firstRow) {
            return prepareInterpolationRows(rows, firstRow, request.masters, keepGrey);
        };
    for (int done = 0; done < request.rowCount; done += kResampleRowsPerStep) {
        const int rows = std::min(kResampleRowsPerStep, request.rowCount - done);
        const SourceRows needed = bandSourceRows(request.placement, request.bounds, request.outputWidth,
                                                 request.frameWidth, request.frameHeight, request.firstRow + done,
                                                 rows);
        int firstRow = needed.firstRow;
        int rowCount = needed.rowCount;
        if (margin > 0 && rowCount > 0) {
            firstRow = std::max(needed.firstRow - margin, 0);
            rowCount = std::min(needed.firstRow + needed.rowCount - 1 + margin, request.frameHeight - 1) - firstRow + 1;
        }
        if (!source.hold(firstRow, rowCount)) {
            errorCode = source.errorCode;
            return nullptr;
        }
        // An aborted band is handed over unfinished; the stack it belongs to is discarded anyway.
        const bool complete = interpolating
                                  ? resampleRowsInterpolated(source.table(), *resampled, done, rows, request.firstRow,
                                                             rotation, request.bounds, request.masters,
                                                             request.interpolation, request.abort)
                                  : resampleRows(source.table(), *resampled, done, rows, request.firstRow, rotation,
                                                 request.bounds, request.masters, request.abort);
        if (!complete)
            break;
        // Only pixels that sample the frame are brought to the common level; those outside it
        // keep the value they have always had, or give no sample at all.
        if (!request.normalization.identity() || request.excludeOutside)
            finishRegisteredRows(source.table(), *resampled, done, rows, request.firstRow, rotation, request.bounds,
                                 request.normalization, request.excludeOutside);
    }
    sourceWidth = source.sourceWidth;
    sizeDiffers = sourceWidth != 0 && sourceWidth != request.frameWidth;
    if (source.channels != 0)
        resampled->channels = source.channels;
    return resampled;
}
