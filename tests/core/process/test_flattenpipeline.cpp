// The flatten tool's shared work: grid placement, marker sampling, the model offset, and the model with the flattened
// image.
#include "process/bgmodeller.h"
#include "process/flattenpipeline.h"
#include "processfixtures.h"

using namespace processtest;

namespace {

// Grey sky rising from left to right with alpha 1.
std::unique_ptr<ImageBuffer> gradientSky(int w, int h)
{
    return imageOf(w, h, [](int x, int y) { return RGB{0.1f + 0.002f * x, 0.2f + 0.001f * y, 0.3f}; });
}

} // namespace

TEST(FlattenGrid, StepCoversTheImageFromTheBoxSizeAndBrightBoxesAreSkipped)
{
    auto image = filledImage(1000, 500, 0.0f, 0.0f, 0.0f);
    float step = 0.0f;
    std::vector<GridMarker> markers = gridMarkerPositions(*image, 11, 100, 0.1, step);
    EXPECT_NEAR(step, std::sqrt(5000.0), 1e-3);
    // x: 11 + k * 70.71 < 1000 for k = 0 ... 13; y: 11 + k * 70.71 < 500 for k = 0 ... 6.
    ASSERT_EQ(markers.size(), 14u * 7u);
    EXPECT_TRUE(markers[0].x == 11 && markers[0].y == 11 && markers[1].x == 81);
    EXPECT_FLOAT_EQ(markers[1].gridX, 11.0f + step);
    EXPECT_TRUE(markers[14].x == 11 && markers[14].y == 81);
    // A bright patch over the box of the second grid point (81, 11): box 76 ... 86, 6 ... 16.
    for (int y = 0; y < 20; ++y)
        for (int x = 70; x < 95; ++x)
            setPixel(*image, x, y, 1.0f, 1.0f, 1.0f);
    markers = gridMarkerPositions(*image, 11, 100, 0.1, step);
    ASSERT_EQ(markers.size(), 14u * 7u - 1u);
    EXPECT_TRUE(markers[1].x == 152 && markers[1].y == 11);
    EXPECT_TRUE(gridMarkerPositions(ImageBuffer(0, 0), 11, 100, 0.1, step).empty());
    EXPECT_TRUE(gridMarkerPositions(*image, 11, 0, 0.1, step).empty());
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

TEST(FlattenModel, OffsetFromGridStepOrDistance)
{
    // A distance of -1 (automatic) is not a distance to square.
    for (const auto &[step, distance, offset] : {std::tuple{70.71f, 100, 4900},
                                                 {70.71f, kAutomaticOffset, 4900},
                                                 {0.0f, 100, 10000},
                                                 {0.9f, 5, 25},
                                                 {0.0f, -1, kAutomaticOffset}})
        EXPECT_EQ(modelOffset(step, distance), offset) << step << ", " << distance;
}

TEST(FlattenModel, ShiftsTheModelClampsTheFlatImageAndTakesTheOffsetFromTheGridStep)
{
    auto image = gradientSky(40, 30);
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
    // A grid step of 7.9 gives the offset of a distance of 7.
    const FlattenResult b = flattenImage(*image, {5, 35, 20}, {5, 5, 25}, typed, log);
    EXPECT_TRUE(b.flat && samePixels(*a.background, *b.background) && samePixels(*a.flat, *b.flat));
}

TEST(FlattenModel, UnsampledMarkersAreLeftOutAndFewerThanTwoRefusedBeforeAnyLine)
{
    auto image = gradientSky(40, 30);
    CapturingLog log;
    FlattenResult result = flattenImage(*image, {5}, {5}, FlattenParams{}, log);
    EXPECT_TRUE(result.status == FlattenStatus::TooFewMarkers && !result.background && !result.flat);
    result = flattenImage(ImageBuffer(0, 0), {1, 2}, {1, 2}, FlattenParams{}, log);
    EXPECT_EQ(result.status, FlattenStatus::NoImage);
    EXPECT_EQ(flattenRefusalLines(result.status), QStringList({"Please focus a valid image window first."}));
    EXPECT_EQ(flattenRefusalLines(FlattenStatus::TooFewMarkers).size(), 2);
    EXPECT_TRUE(flattenRefusalLines(FlattenStatus::Done).isEmpty());
    EXPECT_TRUE(log.lines().isEmpty());

    setPixel(*image, 20, 25, kInf, 0.0f, 0.0f);
    EXPECT_EQ(flattenImage(*image, {5, 35, 20}, {5, 5, 25}, FlattenParams{}, log).status, FlattenStatus::Done);
    EXPECT_TRUE(log.contains("Skipped 1 markers without a measurable background.", Severity::Warning));
    EXPECT_TRUE(log.contains("Benchmark: Box markers: 2"));
    EXPECT_EQ(flattenImage(*image, {5, 20}, {5, 25}, FlattenParams{}, log).status, FlattenStatus::TooFewMarkers);
}
