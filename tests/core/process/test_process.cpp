// The processing tools on small images made in code: region statistics, one-step operations, the invalid-value
// scan, neutralization, gain, combination, the background model and the flatten tool's shared work.
#include "image/imagebuffer.h"
#include "process/bgmodeller.h"
#include "process/colourbalance.h"
#include "process/combination.h"
#include "process/flattenpipeline.h"
#include "process/invalidvalues.h"
#include "process/regionstats.h"
#include "process/simpleoperations.h"
#include "support/capturinglog.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <vector>

namespace {

using testsupport::CapturingLog;
using RGB = std::array<float, 3>;
using RGBA = std::array<float, 4>;
using Floats = std::vector<float>;
using Levels = std::array<float, 3>; // white level, black level, channel count
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

void setPixel(ImageBuffer &image, int x, int y, float r, float g, float b, float a = 1.0f)
{
    const float v[4] = {r, g, b, a};
    std::memcpy(image.pixel(x, y), v, sizeof v);
}

// A w x h image of the given floats, four per pixel (r, g, b, a), row by row.
std::unique_ptr<ImageBuffer> pixelsOf(int w, int h, const Floats &floats)
{
    auto image = std::make_unique<ImageBuffer>(w, h);
    std::copy(floats.begin(), floats.end(), image->data.get());
    return image;
}

Floats floatsOf(const ImageBuffer &image)
{
    return Floats(image.data.get(), image.data.get() + image.floatCount);
}

// A w x h image whose colour at (x, y) is value(x, y), alpha 1.
std::unique_ptr<ImageBuffer> imageOf(int w, int h, const std::function<RGB(int, int)> &value)
{
    auto image = std::make_unique<ImageBuffer>(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const RGB c = value(x, y);
            setPixel(*image, x, y, c[0], c[1], c[2]);
        }
    return image;
}

std::unique_ptr<ImageBuffer> filledImage(int w, int h, float r, float g, float b)
{
    return imageOf(w, h, [=](int, int) { return RGB{r, g, b}; });
}

std::unique_ptr<ImageBuffer> greyRow(const std::vector<float> &v)
{
    return imageOf(static_cast<int>(v.size()), 1, [&](int x, int) { return RGB{v[x], v[x], v[x]}; });
}

bool samePixels(const ImageBuffer &a, const ImageBuffer &b)
{
    return a.width == b.width && a.height == b.height && a.floatCount == b.floatCount
           && std::memcmp(a.data.get(), b.data.get(), static_cast<std::size_t>(a.floatCount) * sizeof(float)) == 0;
}

RGB rgbOf(const FloatRGB &p)
{
    return {p.r, p.g, p.b};
}

// The stored values, a NaN included (getPixel would read it as 0).
RGBA rgba(const ImageBuffer &image, int x, int y)
{
    const float *p = image.pixel(x, y);
    return {p[0], p[1], p[2], p[3]};
}

Levels levels(const ImageBuffer &image)
{
    return {image.whiteLevel, image.blackLevel, static_cast<float>(image.channels)};
}

void setLevels(ImageBuffer &image, const Levels &levels)
{
    image.whiteLevel = levels[0], image.blackLevel = levels[1], image.channels = static_cast<int>(levels[2]);
}

float combinedValue(CombineOperator op, float a, float b, float f)
{
    auto result = combineImages(op, *filledImage(1, 1, a, a, a), *filledImage(1, 1, b, b, b), f);
    EXPECT_TRUE(result);
    return result ? result->data[0] : kNaN;
}

void expectColour(const std::optional<FloatRGB> &c, float r, float g, float b)
{
    ASSERT_TRUE(c.has_value());
    EXPECT_FLOAT_EQ(c->r, r);
    EXPECT_FLOAT_EQ(c->g, g);
    EXPECT_FLOAT_EQ(c->b, b);
}

// Markers as x, y, r, g, b, five numbers each.
void addMarkers(bgmodeller &model, const std::vector<float> &markers)
{
    for (std::size_t i = 0; i + 4 < markers.size(); i += 5) {
        model.markerX << static_cast<int>(markers[i]);
        model.markerY << static_cast<int>(markers[i + 1]);
        model.markerR << markers[i + 2];
        model.markerG << markers[i + 3];
        model.markerB << markers[i + 4];
    }
}

// Seven markers with unlike colours, some on pixels of a 37 x 23 image, one outside it.
const std::vector<float> kScatteredMarkers = {
    0,    0,    0.1f, 0.2f, 0.3f,  36,   0,     0.4f, 0.1f, 0.2f,  5,     17,    0.25f, 0.35f, 0.15f, 20,   11,  0.9f,
    0.8f, 0.7f, 30,   22,   0.05f, 0.5f, 0.45f, 12,   3,    0.33f, 0.66f, 0.99f, 45,    30,    0.6f,  0.6f, 0.6f};

// Every bit of the two colours, their alphas and the ratio.
bool sameValue(const ModelValue &a, const ModelValue &b)
{
    static_assert(sizeof(ModelValue) == 2 * sizeof(FloatRGB) + sizeof(double), "no padding to compare");
    return std::memcmp(&a, &b, sizeof a) == 0;
}

} // namespace

TEST(RegionStats, SelectionBecomesInclusiveCornersOrTheWholeImageAndLuminanceHasTheProgramsWeights)
{
    const ImageBuffer image(40, 30);
    using Corners = std::array<int, 4>;
    const auto corners = [&](int w, int h) {
        const PixelRegion r = selectionRegion(image, 10, 20, w, h);
        return Corners{r.x1, r.y1, r.x2, r.y2};
    };
    EXPECT_EQ(corners(5, 3), (Corners{10, 20, 14, 22}));
    EXPECT_TRUE(corners(0, 3) == (Corners{0, 0, 39, 29}) && corners(-1, 3) == (Corners{0, 0, 39, 29}));
    EXPECT_TRUE(selectionRegion(image, 10, 20, 5, 0).isEmpty() && wholeImageRegion(ImageBuffer(0, 0)).isEmpty());
    EXPECT_EQ((std::array<double, 3>{colourLuminance({1, 0, 0, 0}), colourLuminance({0, 1, 0, 0}),
                                     colourLuminance({0, 0, 1, 0})}),
              (std::array<double, 3>{0.299, 0.586, 0.144}));
}

TEST(RegionStats, OnePixelAndPixelsOutsideTheBufferWhichCountAsBlackAndNanAsZero)
{
    auto image = filledImage(3, 3, 6.0f, 3.0f, 9.0f);
    setPixel(*image, 1, 2, 0.25f, 7.0f, -3.0f);
    const PixelRegion one{1, 2, 1, 2};
    expectColour(regionSigma(*image, one), 0.0f, 0.0f, 0.0f);
    // Bounds inclusive: with k = 0 the single pixel stays.
    expectColour(regionClippedMean(*image, 0.0f, one), 0.25f, 7.0f, -3.0f);
    // (-1, -1) .. (0, 0): one pixel inside, with a NaN red, three outside.
    setPixel(*image, 0, 0, kNaN, 3.0f, 9.0f);
    expectColour(regionMean(*image, PixelRegion{-1, -1, 0, 0}), 0.0f, 0.75f, 2.25f);
    expectColour(regionMean(*image, PixelRegion{5, 5, 6, 6}), 0.0f, 0.0f, 0.0f);
}

// regionStatistics takes its mean, sigma and clipped mean from the single functions, so they are pinned here.
TEST(RegionStats, TextbookVectorGivesMeanSigmaClippedMeanRejectingPerPixelExtremesAndMedians)
{
    // Population standard deviation of 2, 4, 4, 4, 5, 5, 7, 9 is 2 around a mean of 5; a NaN counts as 0.
    auto image = greyRow({2, 4, 4, 4, 5, 5, 7, 9});
    setPixel(*image, 7, 0, 9.0f, 1.0f, kNaN);
    const auto all = regionStatistics(*image, wholeImageRegion(*image), 1.0f);
    ASSERT_TRUE(all.has_value());
    expectColour(all->minimum, 2.0f, 1.0f, 0.0f);
    expectColour(all->maximum, 9.0f, 7.0f, 7.0f);
    // An even count averages the two middle samples.
    expectColour(all->median, 4.5f, 4.0f, 4.0f);
    expectColour(all->mean, 5.0f, 4.0f, 31.0f / 8.0f);
    EXPECT_FLOAT_EQ(all->sigma.r, 2.0f);
    // Within one sigma in all three channels: the pixels 4, 4, 4, 5, 5.
    expectColour(all->clippedMean, 4.4f, 4.4f, 4.4f);
    expectColour(regionStatistics(*image, PixelRegion{0, 0, 2, 0}, 1.0f)->median, 4.0f, 4.0f, 4.0f);
    EXPECT_FALSE(regionStatistics(*image, PixelRegion{}, 1.0f).has_value());
    // A pixel outlying in one channel only is rejected in all three.
    auto star = pixelsOf(5, 1, {0, 1, 1, 1, 2, 1, 1, 1, 1, 1, 100, 1, 1, 1, 1, 1, 1, 1, 1, 1});
    expectColour(regionClippedMean(*star, 1.0f, wholeImageRegion(*star)), 1.0f, 1.0f, 1.0f);
    // Nothing to average gives no result. Mean 0.5, sigma 0.5: with k = 0 only an exact 0.5 would be kept.
    auto pair = greyRow({0, 1});
    EXPECT_FALSE(regionMean(*pair, PixelRegion{1, 0, 0, 0}) || regionSigma(*pair, PixelRegion{})
                 || regionClippedMean(*pair, 1.0f, PixelRegion{})
                 || regionClippedMean(*pair, 0.0f, wholeImageRegion(*pair)));
}

TEST(RegionStats, BackgroundIgnoresBrightStarsAndRefusesEmptyOrInfiniteImages)
{
    expectColour(estimateBackgroundColor(*filledImage(16, 9, 1200.0f, 800.0f, 400.0f)), 1200.0f, 800.0f, 400.0f);
    // 96 sky pixels at 100 and four stars at 10000: the plain mean is about 500.
    auto image = filledImage(10, 10, 100.0f, 100.0f, 100.0f);
    for (int i = 0; i < 4; ++i)
        setPixel(*image, i, i, 10000.0f, 10000.0f, 10000.0f);
    // The iteration stops within one data unit of luminance (weights sum to 1.029).
    const std::optional<FloatRGB> bg = estimateBackgroundColor(*image);
    ASSERT_TRUE(bg.has_value());
    for (float v : rgbOf(*bg))
        EXPECT_NEAR(v, 100.0f, 1.5f);
    EXPECT_FALSE(estimateBackgroundColor(ImageBuffer(0, 0)).has_value());
    setPixel(*image, 2, 2, kInf, 1.0f, 1.0f);
    EXPECT_FALSE(estimateBackgroundColor(*image).has_value());
}

TEST(SimpleOperations, CutAboveReplacesOnlyBrighterPixelsByTheMeanAndRemoveBackgroundKeepsNegatives)
{
    auto source = pixelsOf(3, 1, {1, 1, 1, 1, 1, 1, 1, 1, 4, 4, 4, 0.5f});
    auto before = source->clone();
    auto cut = cutAboveAverage(*source, wholeImageRegion(*source));
    ASSERT_TRUE(cut);
    // Mean 2: the pixels at 1 stay, the one at 4 becomes 2 and keeps its alpha.
    EXPECT_EQ(floatsOf(*cut), (Floats{1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 0.5f}));
    EXPECT_TRUE(samePixels(*source, *before));
    // All of one luminance: nothing is strictly above the mean.
    auto even = filledImage(3, 3, 0.3f, 0.6f, 0.9f);
    EXPECT_TRUE(samePixels(*cutAboveAverage(*even, wholeImageRegion(*even)), *even)
                && !cutAboveAverage(*source, PixelRegion{}));
    auto sky = filledImage(8, 8, 10.0f, 20.0f, 30.0f);
    setPixel(*sky, 0, 0, 4.0f, 20.0f, 30.0f);
    auto removed = removeBackgroundColour(*sky);
    ASSERT_TRUE(removed && sky->getPixel(0, 0).r == 4.0f && removed->getPixel(0, 0).r < 0.0f);
    EXPECT_TRUE(std::fabs(removed->getPixel(5, 5).g) < 1e-4f && !removeBackgroundColour(ImageBuffer(0, 0)));
}

TEST(SimpleOperations, NormalizedCopyMapsLevelsToZeroAndOne)
{
    auto source = pixelsOf(3, 1, {0, 65535, 0, 0, 65535, 0, 0, 0, 0, 0, 0, 0});
    setLevels(*source, {65535, 0, 2});
    EXPECT_EQ(floatsOf(*normalizedCopy(*source)), (Floats{0, 1, 0, 1, 1, 0, 0, 1, 0, 0, 0, 1}));
    EXPECT_EQ(source->readCursor, source->floatCount) << "the walk runs on the source's cursor";
    // With a black level: (v - black) / (white - black).
    setLevels(*source, {3000, 1000, 2});
    setPixel(*source, 2, 0, 2000.0f, 1000.0f, 3000.0f);
    auto shifted = normalizedCopy(*source);
    EXPECT_TRUE(rgba(*shifted, 2, 0) == (RGBA{0.5f, 0, 1, 1}) && levels(*shifted) == (Levels{1, 0, 2}));
    source->whiteLevel = source->blackLevel;
    EXPECT_FALSE(normalizedCopy(*source));
}

TEST(SimpleOperations, CropCopiesTheSelectionWithLevels)
{
    auto source = imageOf(40, 30, [](int x, int y) { return RGB{float(x), float(y), float(x * y)}; });
    setLevels(*source, {255, 2, 2});
    setPixel(*source, 10, 20, 10, 20, 200, 0.25f);
    auto crop = cropCopy(*source, 10, 20, 5, 3);
    ASSERT_TRUE(crop && crop->width == 5 && crop->height == 3);
    EXPECT_EQ((std::array{rgba(*crop, 0, 0), rgba(*crop, 4, 2)}),
              (std::array{RGBA{10, 20, 200, 0.25f}, RGBA{14, 22, 14 * 22, 1}}));
    EXPECT_EQ(levels(*crop), (Levels{255, 2, 2}));
    // Reaching past the right edge: the outside part is black with alpha 0.
    EXPECT_EQ(floatsOf(*cropCopy(*source, 38, 0, 3, 1)), (Floats{38, 0, 0, 1, 39, 0, 0, 1, 0, 0, 0, 0}));
    EXPECT_FALSE(cropCopy(*source, 10, 20, 0, 3) || cropCopy(*source, 10, 20, 5, -1));
}

TEST(InvalidValues, EachHitIsOneLineInPixelAndTestOrderThenTheExtremes)
{
    // A NaN first pixel starts the extremes at 0.
    auto image = pixelsOf(3, 2, {kNaN, 0.1f,  0.2f,  1, 0.5f, 0.25f, 0.75f, 1, 0,    -kInf, kNaN,  1,
                                 0.5f, 0.25f, 0.75f, 1, kInf, 0,     0,     1, 0.5f, 0.25f, 0.75f, 1});
    CapturingLog log;
    EXPECT_EQ(scanInvalidValues(*image, log).reported, 7);
    EXPECT_EQ(log.lines(),
              QStringList({"'Not a number' Red: 0,0", "Infinite Green: 2,0", "'Not a number' Blue: 2,0",
                           "Zero Red: 2,0", "Infinite Red: 1,1", "Zero Green: 1,1", "Zero Blue: 1,1",
                           "Minimum color values: R=0 G=-inf B=0", "Maximum color values: R=inf G=0.25 B=0.75"}));
    // An image of zeros comes in batches, and the abort flag stops it between them.
    ImageBuffer zeros(100, 100);
    CapturingLog many;
    int batches = 0;
    scanInvalidValues(zeros, many, [&] { ++batches; });
    EXPECT_EQ(std::pair(many.lines().size(), batches),
              std::pair(3 * 100 * 100 + 2, 3 * 100 * 100 / kInvalidValueBatchLines));
    std::atomic<bool> abort{true};
    CapturingLog stopped;
    EXPECT_TRUE(scanInvalidValues(zeros, stopped, {}, &abort).aborted);
    const int lines = stopped.lines().size();
    EXPECT_TRUE(lines >= kInvalidValueBatchLines && lines < kInvalidValueBatchLines + 3) << "one batch, no extremes";
}

TEST(Neutralization, ReferenceChannelAndFactorsOfTheWorkedExamples)
{
    const struct {
        FloatRGB background;
        ReferenceChannel reference;
        RGB factors;
    } cases[] = {
        {{2, 4, 8, 0}, ReferenceChannel::Blue, {4.0f, 2.0f, 1.0f}},
        {{8, 4, 2, 0}, ReferenceChannel::Red, {1.0f, 2.0f, 4.0f}},   // blue not above green: red, the larger
        {{8, 4, 6, 0}, ReferenceChannel::Blue, {0.75f, 1.5f, 1.0f}}, // blue above green although red is larger
        {{5, 5, 1, 0}, ReferenceChannel::Green, {1.0f, 1.0f, 5.0f}}, // a tie of red and green
    };
    for (const auto &c : cases) {
        const NeutralizationFactors f = neutralizationFactors(c.background);
        EXPECT_TRUE(f.reference == c.reference && f.allFinite) << c.factors[0];
        EXPECT_EQ((RGB{f.red, f.green, f.blue}), c.factors);
    }
    EXPECT_EQ(rgbOf(neutralizationFactors(FloatRGB{2, 4, 8, 0}).scaledBackground), (RGB{0.25f, 0.5f, 1.0f}));
    // A zero background component is reported, not hidden.
    const NeutralizationFactors zeroRed = neutralizationFactors(FloatRGB{0, 4, 2, 0});
    EXPECT_TRUE(!zeroRed.allFinite && std::isinf(zeroRed.red) && zeroRed.blue == 2.0f);
}

TEST(Neutralization, CopyGreysTheClippedBackgroundOfTheRegionAndGainReadsNanAsZero)
{
    auto source = filledImage(6, 6, 2.0f, 4.0f, 8.0f);
    setPixel(*source, 5, 5, 50.0f, 0.0f, 9.0f); // a hot pixel, clipped away
    NeutralizedImage result = neutralizedCopy(*source, wholeImageRegion(*source));
    ASSERT_TRUE(result.image && result.factors.reference == ReferenceChannel::Blue);
    EXPECT_TRUE(rgba(*result.image, 0, 0) == (RGBA{8, 8, 8, 1}) && source->getPixel(0, 0).r == 2.0f);
    // A selection measures only its own pixels: here a sky of (8, 4, 2), red reference.
    setPixel(*source, 0, 0, 8.0f, 4.0f, 2.0f);
    setPixel(*source, 1, 0, 8.0f, 4.0f, 2.0f);
    result = neutralizedCopy(*source, selectionRegion(*source, 0, 0, 2, 1));
    EXPECT_EQ(result.factors.reference, ReferenceChannel::Red);
    EXPECT_FLOAT_EQ(result.image->getPixel(3, 3).g, 8.0f);
    EXPECT_FALSE(neutralizedCopy(*source, PixelRegion{}).image);
    setPixel(*source, 1, 1, kNaN, 0.75f, kNaN, 0.5f);
    applyGain(*source, 1.0f, 1.0f, 1.0f);
    EXPECT_EQ(rgba(*source, 1, 1), (RGBA{0, 0.75f, 0, 0.5f}));
    applyGain(*source, 2.0f, 0.5f, 0.0f);
    EXPECT_EQ(rgba(*source, 2, 2), (RGBA{4, 2, 0, 1}));
}

TEST(Combination, EachOperatorAtOpacity100And50And0WithItsLogLine)
{
    // A = 0.8, B = 0.5. Opacity 0 always gives A back.
    const struct {
        CombineOperator op;
        float full, half;
        const char *line;
    } cases[] = {
        {CombineOperator::Add, 1.3f, 1.05f, "Image addition..."},
        {CombineOperator::Subtract, 0.3f, 0.55f, "Image substraction..."},
        {CombineOperator::Multiply, 0.4f, 0.6f, "Image multiplication..."}, // 0.5 * 0.4 + 0.5 * 0.8
        {CombineOperator::Divide, 1.6f, 1.2f, "Image division..."},
        {CombineOperator::NegativeMultiply, 0.9f, 0.85f, "Image negative multiplication..."}, // 1 - 0.5 * 0.2
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(combineLogLine(c.op), c.line);
        EXPECT_FLOAT_EQ(combinedValue(c.op, 0.8f, 0.5f, 1.0f), c.full);
        EXPECT_FLOAT_EQ(combinedValue(c.op, 0.8f, 0.5f, 0.5f), c.half);
        EXPECT_FLOAT_EQ(combinedValue(c.op, 0.8f, 0.5f, 0.0f), 0.8f);
    }
    // Division by zero gives 1 (NaN samples read as 0), except at opacity 0, where the infinite quotient times 0 is
    // NaN; zero by zero stays NaN.
    for (float f : {1.0f, 0.5f, 0.01f})
        EXPECT_EQ(combinedValue(CombineOperator::Divide, 0.3f, 0.0f, f), 1.0f) << f;
    EXPECT_EQ(combinedValue(CombineOperator::Divide, 0.3f, kNaN, 1.0f), 1.0f);
    EXPECT_TRUE(std::isnan(combinedValue(CombineOperator::Divide, 0.3f, 0.0f, 0.0f)));
    EXPECT_TRUE(std::isnan(combinedValue(CombineOperator::Divide, 0.0f, 0.0f, 0.5f)));
}

TEST(Combination, ResultTakesAsGeometryAndAlphaOneAndSizesMustAgree)
{
    auto a = filledImage(3, 2, 0.2f, 0.4f, 0.6f);
    setLevels(*a, {65535, 10, 2});
    setPixel(*a, 0, 0, kNaN, 0.4f, 0.6f, 0.0f);
    auto b = filledImage(3, 2, 1.0f, 1.0f, 1.0f);
    auto sum = combineAdd(*a, *b, 1.0f);
    ASSERT_TRUE(sum && sum->width == 3 && sum->height == 2);
    EXPECT_TRUE(sum->getPixel(0, 0).r == 1.0f && sum->getPixel(0, 0).a == 1.0f);
    // The bare operator leaves normalised levels; the combine tool's entry copies A's.
    EXPECT_EQ(levels(*sum), (Levels{1, 0, 2}));
    EXPECT_EQ(levels(*combineImages(CombineOperator::Add, *a, *b, 1.0f)), (Levels{65535, 10, 2}));
    EXPECT_FALSE(combineImages(CombineOperator::Divide, *a, *filledImage(4, 2, 1, 1, 1), 1.0f)
                 || combineImages(CombineOperator::Divide, *a, *filledImage(3, 3, 1, 1, 1), 1.0f)
                 || combineImages(static_cast<CombineOperator>(7), *a, *a, 1.0f));
}

TEST(BackgroundModel, TwoMarkersMeetMidwayAPixelOnOneIsZeroAndExponentOneHalfExactlyTakesTheFastRoot)
{
    bgmodeller model;
    addMarkers(model, {0, 0, 0.2f, 0.4f, 0.6f, 10, 0, 1, 1, 1});
    model.exponent = 1.0;
    const FloatRGB mid = model.evaluateModel(5, 0);
    for (float error : {mid.r - 0.6f, mid.b - 0.8f, model.lastPlain.r - 0.6f})
        EXPECT_NEAR(error, 0.0f, 3e-7f);
    EXPECT_NEAR(model.lastRatio, 1.0, 1e-6);
    model.exponent = 0.5;
    // On a marker with offset 0 the smooth weight is infinite, so the colour is NaN and becomes 0, and so does the
    // ratio.
    EXPECT_EQ(rgbOf(model.evaluateModel(0, 0)), (RGB{0, 0, 0}));
    EXPECT_TRUE(model.lastRatio == 0.0 && model.lastPlain.g == 0.0f);
    // With an offset only the plain weight is infinite: the ratio becomes the sum of smooth weights, 1/4 + 1/5 for
    // markers at 0 and 3 (within the fast root's accuracy).
    model.markerX[1] = 3;
    model.offset = 16;
    EXPECT_NEAR(model.evaluateModel(0, 0).r, (0.2 / 4 + 1.0 / 5) / 0.45, 1e-3);
    EXPECT_NEAR(model.lastRatio, 0.45, 1e-3);
    // At distances 3 and 4 with offset 3 the exact weights are 1/sqrt(12) and 1/sqrt(19).
    const double exact = (0.2 / std::sqrt(12.0) + 1 / std::sqrt(19.0)) / (1 / std::sqrt(12.0) + 1 / std::sqrt(19.0));
    model.markerX[1] = 7;
    model.offset = 3;
    const double fast = model.evaluateModel(3, 0).r;
    EXPECT_TRUE(std::fabs(fast - exact) > 1e-6 && std::fabs(fast - exact) < 2e-3) << fast;
    model.exponent = 0.5000001;
    EXPECT_NEAR(model.evaluateModel(3, 0).r, exact, 1e-6);
}

TEST(BackgroundModel, NearestTwoAndTheAutomaticOffset)
{
    // Index, nearest and second squared distance from (0, 0).
    using Nearest = std::array<std::int64_t, 3>;
    const auto nearest = [](bgmodeller &m) { return Nearest{m.nearestTwo(0, 0), m.nearestSq, m.secondSq}; };
    bgmodeller model, tie;
    addMarkers(model, {5, 0, 0, 0, 0, 0, 7, 0, 0, 0, 0, -6, 0, 0, 0});
    EXPECT_EQ(nearest(model), (Nearest{0, 25, 36}));
    // A tie: the first is the nearest and the second candidate starts at the same distance.
    addMarkers(tie, {-5, 0, 0, 0, 0, 5, 0, 1, 1, 1});
    EXPECT_EQ(nearest(tie), (Nearest{0, 25, 25}));
    // The automatic offset at (0, 3), 34 from both, is (2 * 34) / 4.
    tie.offset = kAutomaticOffset;
    tie.exponent = 1.3;
    const ModelValue automatic = tie.modelValueAt(0, 3);
    tie.offset = (2 * 34) / 4;
    EXPECT_TRUE(sameValue(automatic, tie.modelValueAt(0, 3)));
    bgmodeller none;
    EXPECT_EQ(nearest(none), (Nearest{-1, 0, 0}));
}

TEST(BackgroundModel, RowKernelEqualsPixelEvaluationBitForBit)
{
    // Both group widths: the SSE2 one and the widest this processor offers. The markers are more than one chunk of the
    // wide kernel, whose sums must carry across chunks.
    bgmodeller model;
    addMarkers(model, kScatteredMarkers);
    for (int i = 0; i < 70; ++i)
        addMarkers(model, {(i * 7) % 41 - 2.0f, (i * 5) % 27 - 2.0f, 0.01f * i, 0.5f, 1.0f - 0.01f * i});
    std::vector<ModelValue> row(37);
    for (int lanes : {4, 0})
        for (double exponent : {0.5, 1.3})
            for (int offset : {0, 10, kAutomaticOffset}) {
                model.vectorLanes = lanes, model.exponent = exponent, model.offset = offset;
                for (int y = 0; y < 23; ++y) {
                    model.modelRow(y, 37, row.data());
                    for (int x = 0; x < 37; ++x)
                        ASSERT_TRUE(sameValue(row[x], model.modelValueAt(x, y)))
                            << lanes << " lanes, exponent " << exponent << " offset " << offset << " at " << x << ","
                            << y;
                }
            }
}

TEST(BackgroundModel, GenerationLogsAndScalesTheModelAndNoThreadCountChangesABit)
{
    auto image = filledImage(64, 200, 0.0f, 0.0f, 0.0f);
    setLevels(*image, {65535, 3, 3});
    for (const auto &[exponent, offset] : {std::pair{0.5, 0}, {0.5, kAutomaticOffset}, {1.3, 100}}) {
        std::unique_ptr<ImageBuffer> first;
        double firstFactor = 0.0;
        QStringList firstLines;
        for (int threads : {1, 3}) { // 200 rows do not split evenly over 3 threads
            SCOPED_TRACE(testing::Message() << threads << " threads, exponent " << exponent << ", offset " << offset);
            CapturingLog log;
            bgmodeller model;
            addMarkers(model, kScatteredMarkers);
            model.exponent = exponent, model.offset = offset, model.multiplier = 1.5;
            model.console = &log, model.threadCount = threads;
            bool delivered = false;
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [&] { delivered = true; }, Qt::QueuedConnection);
            auto result = model.getSmoothBg(*image);
            ASSERT_TRUE(result && delivered) << "events are processed during the generation";
            const QList<float> progress = log.progressValues();
            EXPECT_TRUE(!progress.isEmpty() && std::is_sorted(progress.begin(), progress.end())
                        && progress.first() >= 0.0f && progress.last() < 100.0f
                        && progress.last() == std::trunc(progress.last()));
            QStringList lines = log.lines();
            ASSERT_EQ(lines.size(), 11) << lines.join('|').toStdString();
            lines[5] = lines[6] = "(timing)"; // the two lines that depend on the clock
            if (first) {
                EXPECT_TRUE(samePixels(*result, *first) && lines == firstLines
                            && std::memcmp(&model.compensationFactor, &firstFactor, sizeof firstFactor) == 0);
                continue;
            }
            const double *f = model.colourCorrection;
            EXPECT_EQ(lines,
                      QStringList({"Benchmark: Starting getSmoothBg() main loop", "Benchmark:      Pixels: 12800",
                                   "Benchmark: Box markers: 7", "Benchmark:    Look-Ups: 89600",
                                   "Benchmark: getSmoothBg() main loop end", "(timing)", "(timing)",
                                   "compensation factor = " + logNumber(model.compensationFactor),
                                   "color correction factors: " + logNumber(f[0]) + "; " + logNumber(f[1]) + "; "
                                       + logNumber(f[2]),
                                   "applying color correction to background...", "Finished background generation."}));
            // The scale is C times the multiplier times the single-precision 2.2; the colour factors change nothing.
            EXPECT_DOUBLE_EQ(model.outputScale, model.compensationFactor * 1.5 * 2.200000047683716);
            const FloatRGB m = model.modelValueAt(5, 3).smooth;
            const double scale = model.outputScale;
            EXPECT_EQ(rgbOf(result->getPixel(5, 3)), (RGB{float(m.r * scale), float(m.g * scale), float(m.b * scale)}));
            EXPECT_TRUE(result->getPixel(4, 4).a == 1.0f && levels(*result) == levels(*image));
            // With offset 0 the weight sums agree except on the seven marker pixels, whose ratio is 0.
            EXPECT_TRUE(offset != 0
                        || (std::fabs(model.compensationFactor - (12800 - 7) / 12800.0) < 1e-5
                            && result->getPixel(20, 11).r == 0.0f));
            first = std::move(result), firstFactor = model.compensationFactor, firstLines = lines;
        }
    }
    EXPECT_FALSE(bgmodeller().getSmoothBg(ImageBuffer(0, 0)));
}

TEST(BackgroundModel, SubtractChannelMinimumAndSubtractClamped)
{
    auto image = pixelsOf(2, 2, {3, 12, 9, 0.5f, 4, 5, 8, 1, 6, 6, 7, 1, 10, 10, 10, 1});
    // Minus the channel minima (3, 5, 7), alpha kept; the source stays as it was.
    EXPECT_EQ(floatsOf(*subtractChannelMinimum(*image)), (Floats{0, 7, 2, 0.5f, 1, 0, 1, 1, 3, 1, 0, 1, 7, 5, 3, 1}));
    EXPECT_EQ(image->getPixel(0, 0).r, 3.0f);
    // Never negative (6 - 7), never NaN (NaN reads as 0; inf - inf), alpha 1, the image's levels.
    setLevels(*image, {255, 1, 2});
    setPixel(*image, 1, 0, kNaN, 5.0f, kInf, 0.0f);
    auto model = filledImage(2, 2, 2.0f, 7.0f, 5.0f);
    setPixel(*model, 1, 0, 2.0f, 1.0f, kInf);
    auto flat = subtractClamped(*image, *model);
    EXPECT_EQ(floatsOf(*flat), (Floats{1, 5, 4, 1, 0, 4, 0, 1, 4, 0, 2, 1, 8, 3, 5, 1}));
    EXPECT_EQ(levels(*flat), (Levels{255, 1, 2}));
}

TEST(FlattenGrid, StepCoversTheImageFromTheBoxSizeAndBrightBoxesAreSkipped)
{
    auto image = filledImage(1000, 500, 0.0f, 0.0f, 0.0f);
    float step = 0.0f;
    std::vector<GridMarker> markers = gridMarkerPositions(*image, 11, 100, 0.1, step);
    EXPECT_NEAR(step, std::sqrt(5000.0), 1e-3);
    // x: 11 + k * 70.71 < 1000 for k = 0 ... 13; y: 11 + k * 70.71 < 500 for k = 0 ... 6.
    ASSERT_EQ(markers.size(), 14u * 7u);
    EXPECT_TRUE(markers[0].x == 11 && markers[0].y == 11 && markers[1].x == 81 && markers[14].x == 11
                && markers[14].y == 81);
    EXPECT_FLOAT_EQ(markers[1].gridX, 11.0f + step);
    // A bright patch over the box of the second grid point (81, 11): box 76 ... 86, 6 ... 16.
    for (int y = 0; y < 20; ++y)
        for (int x = 70; x < 95; ++x)
            setPixel(*image, x, y, 1.0f, 1.0f, 1.0f);
    markers = gridMarkerPositions(*image, 11, 100, 0.1, step);
    ASSERT_TRUE(markers.size() == 14u * 7u - 1u && markers[1].x == 152 && markers[1].y == 11);
    EXPECT_TRUE(gridMarkerPositions(ImageBuffer(0, 0), 11, 100, 0.1, step).empty()
                && gridMarkerPositions(*image, 11, 0, 0.1, step).empty());
}

TEST(FlattenGrid, MarkerSamplesAreClippedMeansOfTheirBoxes)
{
    auto image = imageOf(30, 30, [](int x, int) { return RGB{x + 1.0f, x + 1.0f, x + 1.0f}; });
    const QVector<int> xs{10, 10, 0}, ys{10, 10, 0};
    // Size 3: columns 9 ... 11 (values 10, 11, 12), one sigma keeps 11.
    EXPECT_FLOAT_EQ(sampleMarkers(*image, xs, ys, 3)[0]->g, 11.0f);
    // Size 4: half 2, columns 8 ... 11 (9 ... 12), one sigma keeps 10 and 11.
    EXPECT_FLOAT_EQ(sampleMarkers(*image, xs, ys, 4)[0]->g, 10.5f);
    // At the corner five of nine pixels are outside and count as black: one sigma keeps the five zeros and the two
    // ones.
    EXPECT_FLOAT_EQ(sampleMarkers(*image, xs, ys, 3)[2]->r, 2.0f / 7.0f);
    setPixel(*image, 10, 10, kInf, 1.0f, 1.0f);
    EXPECT_FALSE(sampleMarkers(*image, xs, ys, 3)[0].has_value());
}

TEST(FlattenModel, ShiftsTheModelClampsTheFlatImageAndTakesTheOffsetFromTheGridStep)
{
    auto image = imageOf(40, 30, [](int x, int y) { return RGB{0.1f + 0.002f * x, 0.2f + 0.001f * y, 0.3f}; });
    setLevels(*image, {255, 0, 2});
    auto before = image->clone();
    CapturingLog log;
    FlattenParams placed, typed;
    placed.autoStep = 7.9f;
    typed.distance = 7;
    const FlattenResult a = flattenImage(*image, {5, 35, 20}, {5, 5, 25}, placed, log);
    ASSERT_TRUE(a.status == FlattenStatus::Done && a.background && a.flat);
    EXPECT_TRUE(samePixels(*image, *before));
    EXPECT_EQ(log.lines().mid(0, 4),
              QStringList({"Calculating background model from 3 markers...", "Generating background...",
                           "Calculating smooth background...", "Benchmark: Starting getSmoothBg() main loop"}));
    // The model is shifted to start at 0; the flat image never goes below 0.
    a.background->scanRange();
    a.flat->scanRange();
    EXPECT_TRUE(a.background->minValue == 0.0f && a.flat->minValue >= 0.0f);
    EXPECT_TRUE(a.flat->getPixel(39, 29).a == 1.0f && levels(*a.flat) == (Levels{255, 0, 2})
                && a.background->whiteLevel == 255.0f);
    // A grid step of 7.9 gives the offset of a distance of 7; one below 1 counts as none, and -1 (automatic) is no
    // distance to square.
    EXPECT_TRUE(modelOffset(0.9f, 5) == 25 && modelOffset(0.0f, kAutomaticOffset) == kAutomaticOffset);
    const FlattenResult b = flattenImage(*image, {5, 35, 20}, {5, 5, 25}, typed, log);
    EXPECT_TRUE(b.flat && samePixels(*a.background, *b.background) && samePixels(*a.flat, *b.flat));
}

TEST(FlattenModel, UnsampledMarkersAreLeftOutAndFewerThanTwoRefusedBeforeAnyLine)
{
    auto image = imageOf(40, 30, [](int x, int y) { return RGB{0.1f + 0.002f * x, 0.2f + 0.001f * y, 0.3f}; });
    CapturingLog log;
    FlattenResult result = flattenImage(*image, {5}, {5}, FlattenParams{}, log);
    EXPECT_TRUE(result.status == FlattenStatus::TooFewMarkers && !result.background && !result.flat);
    result = flattenImage(ImageBuffer(0, 0), {1, 2}, {1, 2}, FlattenParams{}, log);
    EXPECT_EQ(result.status, FlattenStatus::NoImage);
    EXPECT_EQ(flattenRefusalLines(result.status), QStringList({"Please focus a valid image window first."}));
    EXPECT_TRUE(flattenRefusalLines(FlattenStatus::TooFewMarkers).size() == 2
                && flattenRefusalLines(FlattenStatus::Done).isEmpty());
    EXPECT_TRUE(log.lines().isEmpty());
    setPixel(*image, 20, 25, kInf, 0.0f, 0.0f);
    EXPECT_EQ(flattenImage(*image, {5, 35, 20}, {5, 5, 25}, FlattenParams{}, log).status, FlattenStatus::Done);
    EXPECT_TRUE(log.contains("Skipped 1 markers without a measurable background.", Severity::Warning)
                && log.contains("Benchmark: Box markers: 2"));
    EXPECT_EQ(flattenImage(*image, {5, 20}, {5, 25}, FlattenParams{}, log).status, FlattenStatus::TooFewMarkers);
}
