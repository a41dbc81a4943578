// Star detection and registration: speed of one search on a 6000 x 4000 colour frame (whole
// and phase by phase), and accuracy on synthetic fields with known stars, reported as counters:
//
//   StarDetection/<threshold>   recall of injected stars with a signal-to-noise above 20 (and
//                               above 50 and 100), RMS centroid error of those found, and the
//                               share of reported stars that match no injected star
//   Registration/<size>/<thr>   RMS error of the recovered offset (px) and angle (degrees) over
//                               20 frame pairs shifted up to 30 px and turned up to 1 degree,
//                               and the share of frames overlapping more than 80 % that come
//                               out stackable
//
// The fields: Moffat stars (beta 3, FWHM 2.5-4 px) with peaks from 0.01 to 0.8 above a sky of
// 0.05 with a gradient, Gaussian noise of 0.002 per channel, hot pixels. The accuracy runs take
// one iteration each; `--benchmark_filter=Registration` etc. picks a part.
#include "stars/grayimage.h"
#include "stars/starcompare.h"
#include "stars/starfinder.h"
#include "stars/starmapping.h"
#include "stars/starmeasure.h"
#include "testdata/syntheticfield.h"
#include "image/imagebuffer.h"
#include "log/messagelog.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace {

NullMessageLog quiet;

constexpr int kPairs = 20;
constexpr double kMaxShift = 30.0;
constexpr double kMaxTurn = 1.0;

// A 6000 x 4000 colour frame with about 2300 stars, made once.
const SyntheticField &largeFrame()
{
    static const SyntheticField field = [] {
        SyntheticFieldOptions options;
        options.width = 6000;
        options.height = 4000;
        options.starCount = 2300;
        return makeSyntheticField(options);
    }();
    return field;
}

void SearchLargeColourFrame(benchmark::State &state)
{
    const SyntheticField &field = largeFrame();
    const float threshold = static_cast<float>(state.range(0)) / 1000.0f;
    int stars = 0;
    for (auto _ : state) {
        starFinder finder(field.image.get(), &quiet);
        finder.searchStars(10, threshold, 0.98f);
        stars = finder.starCount;
    }
    state.counters["stars"] = stars;
    state.counters["Mpixel_per_s"] = benchmark::Counter(6000.0 * 4000.0 / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(SearchLargeColourFrame)->Arg(100)->Arg(10)->Arg(5)->Unit(benchmark::kMillisecond)->Iterations(3);

// The phases one by one, default parameters.
void SearchPhases(benchmark::State &state)
{
    const ImageBuffer &image = *largeFrame().image;
    const int phase = static_cast<int>(state.range(0));
    const StarSearchParameters parameters;
    const float background = starBackgroundLevel(image);
    const GrayImage gray = makeGrayImage(image);
    std::vector<std::uint8_t> marks;
    const std::vector<StarRecord> candidates = mapStars(gray, background, parameters, marks);
    std::vector<StarRecord> stars = measureStars(gray, candidates, parameters.maxStarSize);
    std::stable_sort(stars.begin(), stars.end(),
                     [](const StarRecord &a, const StarRecord &b) { return a.brightness > b.brightness; });
    stars.resize(std::min<std::size_t>(stars.size(), kMaxPatternStars));
    for (auto _ : state) {
        switch (phase) {
        case 0:
            benchmark::DoNotOptimize(starBackgroundLevel(image));
            break;
        case 1:
            benchmark::DoNotOptimize(makeGrayImage(image).values.get());
            break;
        case 2:
            benchmark::DoNotOptimize(mapStars(gray, background, parameters, marks).size());
            break;
        case 3:
            benchmark::DoNotOptimize(measureStars(gray, candidates, parameters.maxStarSize).size());
            break;
        default:
            benchmark::DoNotOptimize(buildPatterns(stars, kPatternsByNeighbours).size());
            break;
        }
    }
    state.SetLabel(phase == 0   ? "background level"
                   : phase == 1 ? "gray image"
                   : phase == 2 ? "mapping"
                   : phase == 3 ? "measuring"
                                : "patterns");
}
BENCHMARK(SearchPhases)->DenseRange(0, 4)->Unit(benchmark::kMillisecond)->Iterations(3);

// Recall and centroid accuracy on the default 1024 x 768 field (about 280 stars in the frame).
void StarDetection(benchmark::State &state)
{
    const float threshold = static_cast<float>(state.range(0)) / 1000.0f;
    const SyntheticFieldOptions options;
    constexpr int kMargin = 21; // the search cannot see nearer than 2s + 1 to an edge
    int wanted[3] = {0, 0, 0};
    int found[3] = {0, 0, 0};
    double squares = 0.0;
    int reported = 0;
    int unknown = 0;
    for (auto _ : state) {
        // Five fields with different stars, to average over layouts.
        for (std::uint32_t seed = 1; seed <= 5; ++seed) {
            SyntheticFieldOptions o = options;
            o.starSeed = seed;
            o.noiseSeed = seed;
            const SyntheticField field = makeSyntheticField(o);
            starFinder finder(field.image.get(), &quiet);
            finder.searchStars(10, threshold, 0.98f);
            const std::vector<StarRecord> &stars = finder.acceptedStars();
            for (const SyntheticStar &star : field.stars) {
                if (star.saturated || star.x < kMargin || star.y < kMargin || star.x > o.width - kMargin
                    || star.y > o.height - kMargin)
                    continue;
                const double limits[3] = {20.0, 50.0, 100.0};
                double best = 1.5;
                for (const StarRecord &s : stars)
                    best = std::min(best, std::hypot(s.x - star.x, s.y - star.y));
                for (int k = 0; k < 3; ++k) {
                    if (star.snr <= limits[k])
                        continue;
                    ++wanted[k];
                    if (best < 1.5) {
                        ++found[k];
                        if (k == 0)
                            squares += best * best;
                    }
                }
            }
            for (const StarRecord &s : stars) {
                ++reported;
                const bool known = std::any_of(field.stars.begin(), field.stars.end(), [&](const SyntheticStar &t) {
                    return std::hypot(s.x - t.x, s.y - t.y) < 1.5;
                });
                if (!known)
                    ++unknown;
            }
        }
    }
    state.counters["recall_snr20"] = double(found[0]) / std::max(1, wanted[0]);
    state.counters["recall_snr50"] = double(found[1]) / std::max(1, wanted[1]);
    state.counters["recall_snr100"] = double(found[2]) / std::max(1, wanted[2]);
    state.counters["stars_snr20"] = wanted[0];
    state.counters["centroid_rms_px"] = std::sqrt(squares / std::max(1, found[0]));
    state.counters["spurious_share"] = double(unknown) / std::max(1, reported);
}
BENCHMARK(StarDetection)->Arg(100)->Arg(20)->Arg(10)->Arg(5)->Arg(2)->Unit(benchmark::kMillisecond)->Iterations(1);

// 20 frame pairs of one size against one reference. Arguments: width, height, stars per frame,
// threshold in thousandths.
void Registration(benchmark::State &state)
{
    SyntheticFieldOptions reference;
    reference.width = static_cast<int>(state.range(0));
    reference.height = static_cast<int>(state.range(1));
    reference.starCount = static_cast<int>(state.range(2));
    const float threshold = static_cast<float>(state.range(3)) / 1000.0f;
    double offsetSquares = 0.0;
    double angleSquares = 0.0;
    double worstOffset = 0.0;
    double worstAngle = 0.0;
    int overlapping = 0;
    int stackable = 0;
    int referenceStars = 0;
    double matches = 0.0;
    for (auto _ : state) {
        std::vector<StarPattern> referencePatterns;
        {
            const SyntheticField field = makeSyntheticField(reference);
            starFinder finder(field.image.get(), &quiet);
            finder.searchStars(10, threshold, 0.98f);
            referencePatterns = finder.patterns;
            referenceStars = finder.starCount;
        }
        std::mt19937 rng(2024);
        std::uniform_real_distribution<double> shift(-kMaxShift, kMaxShift);
        std::uniform_real_distribution<double> turn(-kMaxTurn, kMaxTurn);
        for (int pair = 0; pair < kPairs; ++pair) {
            SyntheticFieldOptions frame = reference;
            frame.noiseSeed = 100 + pair;
            frame.shiftX = shift(rng);
            frame.shiftY = shift(rng);
            frame.rotationDegrees = turn(rng);
            const SyntheticField field = makeSyntheticField(frame);
            starFinder finder(field.image.get(), &quiet);
            finder.searchStars(10, threshold, 0.98f);
            StarCompare compare(2, reference.width, reference.height, &quiet);
            compare.addFrame(referencePatterns);
            compare.addFrame(finder.patterns);
            const Transformation t = compare.computeTransformation(compare.matchPatterns(1));
            const SyntheticRegistration truth = trueRegistration(frame);
            const double offsetError = std::hypot(t.offsetX - truth.offsetX, t.offsetY - truth.offsetY);
            const double angleError = t.angle - truth.angle;
            // A frame that found no transformation counts with its whole shift as the error.
            const double offsetCounted = std::isfinite(offsetError) ? offsetError : std::hypot(truth.offsetX, truth.offsetY);
            const double angleCounted = std::isfinite(angleError) ? angleError : truth.angle;
            offsetSquares += offsetCounted * offsetCounted;
            angleSquares += angleCounted * angleCounted;
            worstOffset = std::max(worstOffset, offsetCounted);
            worstAngle = std::max(worstAngle, std::fabs(angleCounted));
            matches += t.matchCount;
            if (overlapWithReference(frame) > 0.8) {
                ++overlapping;
                if (t.stackable())
                    ++stackable;
            }
        }
    }
    state.counters["offset_rms_px"] = std::sqrt(offsetSquares / kPairs);
    state.counters["angle_rms_deg"] = std::sqrt(angleSquares / kPairs);
    state.counters["offset_max_px"] = worstOffset;
    state.counters["angle_max_deg"] = worstAngle;
    state.counters["stackable_share"] = double(stackable) / std::max(1, overlapping);
    state.counters["reference_stars"] = referenceStars;
    state.counters["mean_matches"] = matches / kPairs;
}
BENCHMARK(Registration)
    ->Args({1024, 768, 300, 10})
    ->Args({1024, 768, 300, 5})
    ->Args({1024, 768, 300, 100})
    ->Args({3000, 2000, 2300, 10})
    ->Args({3000, 2000, 2300, 100})
    ->Args({6000, 4000, 2300, 100})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

} // namespace

BENCHMARK_MAIN();
