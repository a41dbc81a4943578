// libFuzzer target over the star finder and the pattern matching: an image built from the
// input (described below) is searched, a second frame made from it by a shift and a
// rotation is searched too, and the two are matched as a registration does: patterns, the
// clipped estimate, and the refinement with precisely measured stars. Any crash, sanitizer
// report, star outside the image or count that contradicts another is a finding.
// The input: a 16-byte header, then pixel data repeated to fill the image.
//
//   byte 0, 1   width and height: 8 + byte % 120
//   byte 2      search window half width s: 1 + byte % 20 (the dialogs' range)
//   byte 3      bit 0 colour, bit 1 automatic threshold, bit 2 patterns by runs,
//               bit 3 marked copy, bits 4-5 sample encoding (0 float, 1 8-bit, 2 16-bit,
//               3 8-bit with every 64th sample an infinity or NaN)
//   byte 4-7    threshold (float, any bits)
//   byte 8-11   saturation level (float, any bits)
//   byte 12, 13 the second frame's shift in x and y (signed bytes)
//   byte 14     the second frame's rotation in degrees (signed byte)
//   byte 15     unused
// 8- and 16-bit samples are scaled to 0 ... 1; float samples are taken as they are, so NaN,
// infinities and denormals reach the finder.
#include "fuzzinput.h"

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

constexpr std::size_t kStarHeaderBytes = 16;
enum StarFlags : std::uint8_t { kStarColour = 1, kStarAutoThreshold = 2, kStarPatternRuns = 4, kStarMarked = 8 };
enum StarEncoding : std::uint8_t { kStarFloat = 0, kStarBytes = 1, kStarWords = 2, kStarBytesWithSpecials = 3 };

float floatAt(const std::uint8_t *bytes)
{
    float value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

// Sample i of the pixel data, which repeats; 0 without data.
float sampleAt(const std::uint8_t *data, std::size_t size, std::size_t i, int encoding)
{
    const std::size_t bytes = encoding == kStarFloat ? 4 : encoding == kStarWords ? 2 : 1;
    if (size / bytes == 0)
        return 0.0f;
    const std::uint8_t *p = data + i % (size / bytes) * bytes;
    if (encoding == kStarFloat)
        return floatAt(p);
    if (encoding == kStarWords)
        return float(p[0] | (p[1] << 8)) / 65535.0f;
    if (encoding == kStarBytesWithSpecials && i % 64 == 63) {
        constexpr float inf = std::numeric_limits<float>::infinity();
        static const float specials[] = {inf, -inf, std::numeric_limits<float>::quiet_NaN(), -0.0f};
        return specials[*p % 4];
    }
    return float(*p) / 255.0f;
}

std::unique_ptr<ImageBuffer> imageFrom(const std::uint8_t *pixels, std::size_t size, int width, int height, bool colour,
                                       int encoding)
{
    auto image = std::make_unique<ImageBuffer>(width, height);
    image->channels = colour ? 3 : 2;
    std::size_t next = 0;
    for (float *p = image->data.get(); p < image->data.get() + image->floatCount; p += ImageBuffer::kFloatsPerPixel) {
        for (int c = 0; c < 3; ++c)
            p[c] = c == 0 || colour ? sampleAt(pixels, size, next++, encoding) : p[0];
        p[3] = 1.0f;
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
    for (int y = 0; y < source.height; ++y)
        for (int x = 0; x < source.width; ++x) {
            const double X = x - dx - cx, Y = y - dy - cy;
            const int sx = int(std::lround(X * std::cos(a) - Y * std::sin(a) + cx));
            const int sy = int(std::lround(X * std::sin(a) + Y * std::cos(a) + cy));
            float *p = frame->pixel(x, y);
            if (source.contains(sx, sy))
                std::memcpy(p, source.pixel(sx, sy), ImageBuffer::kBytesPerPixel);
            p[3] = 1.0f;
        }
    return frame;
}

void checkSearch(const starFinder &finder, const ImageBuffer &image)
{
    const std::vector<StarRecord> &stars = finder.acceptedStars();
    expect(finder.starCount == int(stars.size()) && finder.patternCount == int(finder.patterns.size()));
    // Patterns are built from the brightest kMaxPatternStars: one fewer than four per star.
    expect(finder.patternCount == std::max(0, std::min<int>(int(stars.size()), finder.maxStars) - 3));
    for (std::size_t i = 0; i < stars.size(); ++i)
        expect(stars[i].x >= 0.0f && stars[i].y >= 0.0f && stars[i].x <= image.width - 1
               && stars[i].y <= image.height - 1 && (i == 0 || !(stars[i - 1].brightness < stars[i].brightness)));
    const ImageBuffer *marked = finder.outputImage.get();
    expect(!finder.markStars || (marked && marked->width == image.width && marked->height == image.height));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < kStarHeaderBytes)
        return 0;
    const int width = 8 + data[0] % 120;
    const int height = 8 + data[1] % 120;
    const std::uint8_t flags = data[3];
    StarSearchParameters parameters;
    parameters.maxStarSize = 1 + data[2] % 20;
    parameters.autoThreshold = flags & kStarAutoThreshold;
    parameters.threshold = floatAt(data + 4);
    parameters.maxBrightness = floatAt(data + 8);
    const auto reference = imageFrom(data + kStarHeaderBytes, size - kStarHeaderBytes, width, height,
                                     flags & kStarColour, (flags >> 4) & 3);
    const auto frame = movedFrame(*reference, static_cast<std::int8_t>(data[12]), static_cast<std::int8_t>(data[13]),
                                  static_cast<std::int8_t>(data[14]));

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
    expect(compare.addFrame(referenceFinder.patterns) && compare.addFrame(frameFinder.patterns));
    const std::vector<PatternMatch> matches = compare.matchPatterns(1);
    expect(matches.size() <= referenceFinder.patterns.size());
    const Transformation estimate = compare.computeTransformation(matches);
    expect(estimate.matchCount >= 0 && estimate.matchCount <= int(matches.size()));
    if (!estimate.stackable())
        return 0;

    // The refinement a precise registration adds, on stars measured again.
    const auto precise = [](const ImageBuffer &image) {
        const GrayImage gray = makeGrayImage(image);
        return measurePreciseStars(gray, refinementCandidates(gray));
    };
    const RefinedTransformation refined =
        refineTransformation(precise(*reference), precise(*frame), estimate, width, height);
    expect(!refined.refined || (refined.pairs >= kMinRefinementPairs && std::isfinite(refined.residualRms)));
    return 0;
}
