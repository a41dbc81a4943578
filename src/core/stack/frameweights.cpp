#include "frameweights.h"

#include "log/messagelog.h"

#include <cmath>

namespace {

double varianceOf(const FrameSky &sky)
{
    double sum = 0.0;
    for (float noise : sky.noise)
        sum += static_cast<double>(noise) * noise;
    return sum / 3.0;
}

// Replaces values that are not usable by the mean of those that are (1 when none is).
void fillUnusable(std::vector<double> &values)
{
    double sum = 0.0;
    int usable = 0;
    for (double v : values)
        if (std::isfinite(v) && v > 0.0) {
            sum += v;
            ++usable;
        }
    const double fallback = usable > 0 ? sum / usable : 1.0;
    for (double &v : values)
        if (!(std::isfinite(v) && v > 0.0))
            v = fallback;
}

} // namespace

std::vector<float> frameWeights(StackWeighting mode, const std::vector<FrameSky> &skies,
                                const std::vector<float> &fwhm)
{
    std::vector<float> weights(skies.size(), 1.0f);
    if (mode == StackWeighting::None || skies.empty())
        return weights;
    std::vector<double> variance;
    for (const FrameSky &sky : skies)
        variance.push_back(varianceOf(sky));
    fillUnusable(variance);
    std::vector<double> width(skies.size(), 1.0);
    if (mode == StackWeighting::NoiseFwhm) {
        for (std::size_t i = 0; i < width.size(); ++i)
            width[i] = i < fwhm.size() ? static_cast<double>(fwhm[i]) : 0.0;
        fillUnusable(width);
    }
    std::vector<double> raw;
    double sum = 0.0;
    for (std::size_t i = 0; i < skies.size(); ++i) {
        raw.push_back(1.0 / (variance[i] * width[i] * width[i]));
        sum += raw.back();
    }
    // Equal frames give raw weights that are equal to the bit, and each is then exactly the mean.
    const double mean = sum / static_cast<double>(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i)
        weights[i] = raw[i] == mean ? 1.0f : static_cast<float>(raw[i] / mean);
    return weights;
}

QString weightingName(StackWeighting mode)
{
    switch (mode) {
    case StackWeighting::Noise:
        return QStringLiteral("Noise");
    case StackWeighting::NoiseFwhm:
        return QStringLiteral("Noise and FWHM");
    case StackWeighting::None:
        break;
    }
    return QStringLiteral("None");
}

QString weightLine(const QString &path, float weight)
{
    return QStringLiteral("Weight of %1: %2").arg(path, logNumber(weight));
}
