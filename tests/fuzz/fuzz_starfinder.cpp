// libFuzzer target over the star finder and the pattern matching: an image built from the
// input (see starfuzzinput.h) is searched, a second frame made from it by a shift and a
// rotation is searched too, and the two are matched as a registration does: patterns, the
// clipped estimate, and the refinement with precisely measured stars. Any crash, sanitizer
// report, star outside the image or count that contradicts another is a finding.
#include "starfuzzinput.h"

#include "image/imagebuffer.h"
#include "log/messagelog.h"
#include "stars/grayimage.h"
#include "stars/precisecentroid.h"
#include "stars/starcompare.h"
#include "stars/starfinder.h"
#include "stars/transformrefinement.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

namespace {

using namespace fuzzing;

[[noreturn]] void contradiction()
{
    __builtin_trap();
}

float floatAt(const std::uint8_t *bytes)
{
    float value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

// Sample i of the pixel data, which repeats; 0 without data.
float sampleAt(const std::uint8_t *data, std::size_t size, std::size_t i, int encoding)
{
    switch (encoding) {
    case kStarFloat: {
        const std::size_t count = size / 4;
        return count == 0 ? 0.0f : floatAt(data + (i % count) * 4);
    }
    case kStarWords: {
        const std::size_t count = size / 2;
        if (count == 0)
            return 0.0f;
        const std::uint8_t *p = data + (i % count) * 2;
        return float(p[0] | (p[1] << 8)) / 65535.0f;
    }
    default: {
        if (size == 0)
            return 0.0f;
        if (encoding == kStarBytesWithSpecials && i % 64 == 63) {
            static const float specials[] = {std::numeric_limits<float>::infinity(),
                                             -std::numeric_limits<float>::infinity(),
                                             std::numeric_limits<float>::quiet_NaN(), -0.0f};
            return specials[data[i % size] % 4];
        }
        return float(data[i % size]) / 255.0f;
    }
    }
}

std::unique_ptr<ImageBuffer> imageFrom(const std::uint8_t *pixels, std::size_t size, int width, int height,
                                       bool colour, int encoding)
{
    auto image = std::make_unique<ImageBuffer>(width, height);
    image->channels = colour ? 3 : 2;
    std::size_t next = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            float *p = image->pixel(x, y);
            p[0] = sampleAt(pixels, size, next++, encoding);
            p[1] = colour ? sampleAt(pixels, size, next++, encoding) : p[0];
            p[2] = colour ? sampleAt(pixels, size, next++, encoding) : p[0];
            p[3] = 1.0f;
        }
    }
    return image;
}

// The source turned by `degrees` about its centre and moved by (dx, dy), nearest pixel;
// what falls outside the source is 0.
std::unique_ptr<ImageBuffer> movedFrame(const ImageBuffer &source, int dx, int dy, int degrees)
{
    auto frame = std::make_unique<ImageBuffer>(source.width, source.height);
    frame->channels = source.channels;
    const double a = degrees * M_PI / 180.0;
    const double cx = source.width / 2, cy = source.height / 2;
    for (int y = 0; y < source.height; ++y) {
        for (int x = 0; x < source.width; ++x) {
            const double X = x - dx - cx, Y = y - dy - cy;
            const int sx = int(std::lround(X * std::cos(a) - Y * std::sin(a) + cx));
            const int sy = int(std::lround(X * std::sin(a) + Y * std::cos(a) + cy));
            float *p = frame->pixel(x, y);
            if (source.contains(sx, sy))
                std::memcpy(p, source.pixel(sx, sy), ImageBuffer::kBytesPerPixel);
            p[3] = 1.0f;
        }
    }
    return frame;
}

void checkSearch(const starFinder &finder, const ImageBuffer &image)
{
    const std::vector<StarRecord> &stars = finder.acceptedStars();
    if (finder.starCount != int(stars.size()) || finder.patternCount != int(finder.patterns.size()))
        contradiction();
    // Patterns are built from the brightest kMaxPatternStars: one fewer than four per star.
    const int kept = std::min<int>(int(stars.size()), finder.maxStars);
    if (finder.patternCount != std::max(0, kept - 3))
        contradiction();
    for (std::size_t i = 0; i < stars.size(); ++i) {
        const StarRecord &star = stars[i];
        if (!(star.x >= 0.0f && star.y >= 0.0f && star.x <= image.width - 1 && star.y <= image.height - 1))
            contradiction();
        if (i > 0 && stars[i - 1].brightness < star.brightness)
            contradiction();
    }
    if (finder.markStars
        && (!finder.outputImage || finder.outputImage->width != image.width
            || finder.outputImage->height != image.height))
        contradiction();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < kStarHeaderBytes)
        return 0;
    const int width = 8 + data[0] % 120;
    const int height = 8 + data[1] % 120;
    StarSearchParameters parameters;
    parameters.maxStarSize = 1 + data[2] % 20;
    const std::uint8_t flags = data[3];
    parameters.autoThreshold = flags & kStarAutoThreshold;
    parameters.threshold = floatAt(data + 4);
    parameters.maxBrightness = floatAt(data + 8);
    const int encoding = (flags >> 4) & 3;
    const auto dx = static_cast<std::int8_t>(data[12]);
    const auto dy = static_cast<std::int8_t>(data[13]);
    const auto degrees = static_cast<std::int8_t>(data[14]);

    const auto reference = imageFrom(data + kStarHeaderBytes, size - kStarHeaderBytes, width, height,
                                     flags & kStarColour, encoding);
    const auto frame = movedFrame(*reference, dx, dy, degrees);

    NullMessageLog quiet;
    starFinder referenceFinder(reference.get(), &quiet);
    starFinder frameFinder(frame.get(), &quiet);
    for (starFinder *finder : {&referenceFinder, &frameFinder}) {
        finder->patternMode = flags & kStarPatternRuns ? kPatternsByRuns : kPatternsByNeighbours;
        finder->markStars = flags & kStarMarked;
        finder->searchStars(parameters);
        checkSearch(*finder, *finder->image);
    }

    StarCompare compare(2, width, height, &quiet);
    if (!compare.addFrame(referenceFinder.patterns) || !compare.addFrame(frameFinder.patterns))
        contradiction();
    const std::vector<PatternMatch> matches = compare.matchPatterns(1);
    if (matches.size() > referenceFinder.patterns.size())
        contradiction();
    const Transformation estimate = compare.computeTransformation(matches);
    if (estimate.matchCount < 0 || estimate.matchCount > int(matches.size()))
        contradiction();
    if (!estimate.stackable())
        return 0;

    // The refinement a precise registration adds, on stars measured again.
    const GrayImage referenceGray = makeGrayImage(*reference);
    const GrayImage frameGray = makeGrayImage(*frame);
    const std::vector<PreciseStar> referenceStars =
        measurePreciseStars(referenceGray, refinementCandidates(referenceGray));
    const std::vector<PreciseStar> frameStars = measurePreciseStars(frameGray, refinementCandidates(frameGray));
    const RefinedTransformation refined = refineTransformation(referenceStars, frameStars, estimate, width, height);
    if (refined.refined && (refined.pairs < kMinRefinementPairs || !std::isfinite(refined.residualRms)))
        contradiction();
    return 0;
}
