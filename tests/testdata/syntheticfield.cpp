#include "syntheticfield.h"

#include "image/imagebuffer.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kFwhmPerSigma = 2.3548200450309493; // 2 sqrt(2 ln 2)
// Sub-samples per pixel side: the profile is integrated over each pixel, not point-sampled.
constexpr int kSubSamples = 3;
// Sky colour of a colour field relative to its level: a little red, a little short of blue.
constexpr double kSkyColour[3] = {1.08, 1.0, 0.85};

struct CatalogueStar {
    double x, y, fwhm, peak;
    double colour[3];
};

double catalogueMargin(const SyntheticFieldOptions &o)
{
    return 50.0 + 0.05 * std::max(o.width, o.height);
}

// The catalogue depends only on the size, the density, the brightness and width ranges and
// starSeed, so that every frame of one night shows the same stars.
std::vector<CatalogueStar> makeCatalogue(const SyntheticFieldOptions &o)
{
    const double margin = catalogueMargin(o);
    const double areaRatio = (o.width + 2 * margin) * (o.height + 2 * margin) / (double(o.width) * o.height);
    const int count = static_cast<int>(std::lround(std::max(0, o.starCount) * areaRatio));
    std::mt19937 rng(o.starSeed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<CatalogueStar> stars(count);
    const double logMin = std::log(o.peakMin);
    const double logMax = std::log(std::max(o.peakMin, o.peakMax));
    for (CatalogueStar &star : stars) {
        star.x = -margin + unit(rng) * (o.width + 2 * margin);
        star.y = -margin + unit(rng) * (o.height + 2 * margin);
        star.fwhm = o.fwhmMin + unit(rng) * (o.fwhmMax - o.fwhmMin);
        star.peak = std::exp(logMin + unit(rng) * (logMax - logMin));
        for (double &c : star.colour)
            c = o.colour ? 0.85 + 0.3 * unit(rng) : 1.0;
    }
    return stars;
}

struct Placement {
    double cx, cy, cosT, sinT, shiftX, shiftY;
};

Placement placementOf(const SyntheticFieldOptions &o)
{
    const double theta = o.rotationDegrees * kPi / 180.0;
    return Placement{static_cast<double>(o.width / 2), static_cast<double>(o.height / 2), std::cos(theta),
                     std::sin(theta), o.shiftX, o.shiftY};
}

// Counter-clockwise on screen (y down): +x turns towards -y.
void toFrame(const Placement &p, double skyX, double skyY, double &x, double &y)
{
    const double X = skyX - p.cx;
    const double Y = skyY - p.cy;
    x = X * p.cosT + Y * p.sinT + p.cx + p.shiftX;
    y = -X * p.sinT + Y * p.cosT + p.cy + p.shiftY;
}

void toSky(const Placement &p, double x, double y, double &skyX, double &skyY)
{
    const double X = x - p.cx - p.shiftX;
    const double Y = y - p.cy - p.shiftY;
    skyX = X * p.cosT - Y * p.sinT + p.cx;
    skyY = X * p.sinT + Y * p.cosT + p.cy;
}

struct Profile {
    StarProfile kind;
    double beta;
    double sigma; // Gaussian
    double alpha; // Moffat

    Profile(const SyntheticFieldOptions &o, double fwhm)
        : kind(o.profile), beta(o.moffatBeta), sigma(fwhm / kFwhmPerSigma),
          alpha(fwhm / (2.0 * std::sqrt(std::pow(2.0, 1.0 / o.moffatBeta) - 1.0)))
    {
    }
    // Value at squared distance r2, 1 at the centre.
    double at(double r2) const
    {
        if (kind == StarProfile::Gaussian)
            return std::exp(-r2 / (2.0 * sigma * sigma));
        const double u = 1.0 + r2 / (alpha * alpha);
        return beta == 3.0 ? 1.0 / (u * u * u) : std::pow(u, -beta);
    }
    // Integral over the plane for a peak of 1.
    double volume() const
    {
        return kind == StarProfile::Gaussian ? 2.0 * kPi * sigma * sigma : kPi * alpha * alpha / (beta - 1.0);
    }
    // Noise-equivalent area 1 / sum(p^2) of the profile normalised to a sum of 1.
    double noiseArea() const
    {
        return kind == StarProfile::Gaussian ? 4.0 * kPi * sigma * sigma
                                             : (2.0 * beta - 1.0) * kPi * alpha * alpha / ((beta - 1.0) * (beta - 1.0));
    }
    double reach(double fwhm) const { return (kind == StarProfile::Gaussian ? 3.5 : 6.0) * fwhm; }
};

} // namespace

SyntheticField makeSyntheticField(const SyntheticFieldOptions &o)
{
    SyntheticField field;
    field.image = std::make_unique<ImageBuffer>(o.width, o.height);
    ImageBuffer &image = *field.image;
    image.whiteLevel = o.whiteLevel;
    image.blackLevel = 0.0f;
    image.channels = o.colour ? 3 : 2;
    if (!image.hasPixels())
        return field;

    // Sky and noise, everything in normalised units until the final scaling.
    std::mt19937 noiseRng(o.noiseSeed);
    std::normal_distribution<float> noise(0.0f, static_cast<float>(o.noiseSigma));
    for (int y = 0; y < o.height; ++y) {
        float *p = image.pixel(0, y);
        for (int x = 0; x < o.width; ++x, p += ImageBuffer::kFloatsPerPixel) {
            const double level = o.sky + o.gradientX * x / o.width + o.gradientY * y / o.height;
            if (o.colour) {
                for (int c = 0; c < 3; ++c)
                    p[c] = static_cast<float>(level * kSkyColour[c]) + noise(noiseRng);
            } else {
                const float v = static_cast<float>(level) + noise(noiseRng);
                p[0] = p[1] = p[2] = v;
            }
            p[3] = 1.0f;
        }
    }

    const Placement placement = placementOf(o);
    const double grayNoise = o.colour ? o.noiseSigma * std::sqrt(0.299 * 0.299 + 0.587 * 0.587 + 0.144 * 0.144)
                                      : o.noiseSigma;
    const double step = 1.0 / kSubSamples;
    for (const CatalogueStar &star : makeCatalogue(o)) {
        double fx = 0.0, fy = 0.0;
        toFrame(placement, star.x, star.y, fx, fy);
        const Profile profile(o, star.fwhm);
        const double reach = profile.reach(star.fwhm);
        if (fx < -reach || fy < -reach || fx > o.width + reach || fy > o.height + reach)
            continue;
        // Channel amplitudes that give the wanted peak in the gray image.
        const double grayWeight = o.colour
                                      ? 0.299 * star.colour[0] + 0.587 * star.colour[1] + 0.144 * star.colour[2]
                                      : 1.0;
        const double amplitude = star.peak / grayWeight;
        const int x1 = std::max(0, static_cast<int>(std::floor(fx - reach)));
        const int x2 = std::min(o.width - 1, static_cast<int>(std::ceil(fx + reach)));
        const int y1 = std::max(0, static_cast<int>(std::floor(fy - reach)));
        const int y2 = std::min(o.height - 1, static_cast<int>(std::ceil(fy + reach)));
        double centreValue = 0.0;
        for (int y = y1; y <= y2; ++y) {
            for (int x = x1; x <= x2; ++x) {
                double sum = 0.0;
                for (int j = 0; j < kSubSamples; ++j) {
                    const double dy = y - 0.5 + (j + 0.5) * step - fy;
                    for (int i = 0; i < kSubSamples; ++i) {
                        const double dx = x - 0.5 + (i + 0.5) * step - fx;
                        sum += profile.at(dx * dx + dy * dy);
                    }
                }
                const double value = amplitude * sum / (kSubSamples * kSubSamples);
                centreValue = std::max(centreValue, value);
                float *p = image.pixel(x, y);
                for (int c = 0; c < 3; ++c)
                    p[c] += static_cast<float>(value * star.colour[c]);
            }
        }
        if (fx < 0.0 || fy < 0.0 || fx >= o.width || fy >= o.height)
            continue;
        SyntheticStar truth;
        truth.x = fx;
        truth.y = fy;
        truth.skyX = star.x;
        truth.skyY = star.y;
        truth.fwhm = star.fwhm;
        truth.peak = star.peak;
        truth.flux = star.peak * profile.volume();
        truth.snr = truth.flux / (grayNoise * std::sqrt(profile.noiseArea()));
        const double skyHere = o.sky + o.gradientX * fx / o.width + o.gradientY * fy / o.height;
        truth.saturated = skyHere * kSkyColour[0] + centreValue * 1.15 >= 1.0;
        field.stars.push_back(truth);
    }

    std::uniform_int_distribution<int> column(0, o.width - 1);
    std::uniform_int_distribution<int> row(0, o.height - 1);
    std::uniform_real_distribution<float> hotLevel(0.3f, 0.95f);
    for (int i = 0; i < o.hotPixels; ++i) {
        // The row is drawn first, in a statement of its own: the order in which a call's
        // arguments are evaluated differs between compilers, and the field must not.
        const int y = row(noiseRng);
        const int x = column(noiseRng);
        float *p = image.pixel(x, y);
        p[0] = p[1] = p[2] = hotLevel(noiseRng);
    }

    // Full scale clips, as a sensor does; then the stored units.
    const float scale = o.whiteLevel;
    float *p = image.data.get();
    for (std::int64_t i = 0; i < image.floatCount; i += ImageBuffer::kFloatsPerPixel) {
        for (int c = 0; c < 3; ++c)
            p[i + c] = std::min(p[i + c], 1.0f) * scale;
    }
    return field;
}

SyntheticRegistration trueRegistration(const SyntheticFieldOptions &frame)
{
    // The frame is R(t)(sky - c) + c + s, so the sky is R(-t)(frame - c) + c - R(-t)s.
    const double theta = frame.rotationDegrees * kPi / 180.0;
    const double c = std::cos(theta);
    const double s = std::sin(theta);
    SyntheticRegistration truth;
    truth.angle = -frame.rotationDegrees;
    truth.offsetX = -(frame.shiftX * c - frame.shiftY * s);
    truth.offsetY = -(frame.shiftX * s + frame.shiftY * c);
    return truth;
}

double overlapWithReference(const SyntheticFieldOptions &frame)
{
    constexpr int kSamples = 200;
    const Placement placement = placementOf(frame);
    int inside = 0;
    for (int j = 0; j < kSamples; ++j) {
        for (int i = 0; i < kSamples; ++i) {
            const double x = (i + 0.5) * frame.width / kSamples;
            const double y = (j + 0.5) * frame.height / kSamples;
            double skyX = 0.0, skyY = 0.0;
            toSky(placement, x, y, skyX, skyY);
            if (skyX >= 0.0 && skyY >= 0.0 && skyX < frame.width && skyY < frame.height)
                ++inside;
        }
    }
    return static_cast<double>(inside) / (kSamples * kSamples);
}
