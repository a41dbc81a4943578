#include "starfield.h"

#include "image/fitswriter.h"
#include "log/messagelog.h"

#include <QFile>

#include <cmath>
#include <stdexcept>

namespace testsupport {

std::unique_ptr<ImageBuffer> flatImage(int width, int height, float level, bool colour)
{
    auto image = std::make_unique<ImageBuffer>(width, height);
    image->channels = colour ? 3 : 2;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            float *p = image->pixel(x, y);
            p[0] = p[1] = p[2] = level;
            p[3] = 1.0f;
        }
    }
    return image;
}

void setGray(ImageBuffer &image, int x, int y, float value)
{
    if (!image.contains(x, y))
        return;
    float *p = image.pixel(x, y);
    p[0] = p[1] = p[2] = value;
}

void addGaussianStar(ImageBuffer &image, double x, double y, double peak, double sigmaX, double sigmaY)
{
    const int reach = static_cast<int>(std::ceil(4.0 * std::max(sigmaX, sigmaY)));
    for (int py = static_cast<int>(y) - reach; py <= static_cast<int>(y) + reach; ++py) {
        for (int px = static_cast<int>(x) - reach; px <= static_cast<int>(x) + reach; ++px) {
            if (!image.contains(px, py))
                continue;
            const double dx = (px - x) / sigmaX;
            const double dy = (py - y) / sigmaY;
            const float add = static_cast<float>(peak * std::exp(-0.5 * (dx * dx + dy * dy)));
            float *p = image.pixel(px, py);
            p[0] += add;
            p[1] += add;
            p[2] += add;
        }
    }
}

void addCountedBlob(ImageBuffer &image, int x, int y, int corePixels, float rim, float core)
{
    setGray(image, x, y, rim);
    for (int i = 0; i < corePixels; ++i)
        setGray(image, x - 1 + i % 4, y + 1 + i / 4, core);
}

int nearestStar(const std::vector<StarRecord> &stars, double x, double y, double maxDistance)
{
    int best = -1;
    double bestDistance = maxDistance;
    for (int i = 0; i < static_cast<int>(stars.size()); ++i) {
        const double d = std::hypot(stars[i].x - x, stars[i].y - y);
        if (d <= bestDistance) {
            bestDistance = d;
            best = i;
        }
    }
    return best;
}

std::vector<PatternStar> patternStars(const double (&xy)[4][2])
{
    std::vector<PatternStar> stars;
    for (int i = 0; i < 4; ++i)
        stars.push_back(PatternStar{static_cast<float>(xy[i][0]), static_cast<float>(xy[i][1]),
                                    static_cast<float>(4 - i), 0.0f});
    return stars;
}

SyntheticFrames writeSyntheticFrames(const QString &prefix, const std::vector<FieldMove> &moves, int width, int height)
{
    SyntheticFrames frames;
    NullMessageLog quiet;
    for (std::size_t i = 0; i < moves.size(); ++i) {
        SyntheticFieldOptions options;
        options.width = width;
        options.height = height;
        options.colour = false;
        options.starCount = width * height / 400;
        options.noiseSeed = static_cast<std::uint32_t>(i + 1);
        options.shiftX = moves[i].shiftX;
        options.shiftY = moves[i].shiftY;
        options.rotationDegrees = moves[i].degrees;
        const QString path = QStringLiteral("%1-%2.fits").arg(prefix).arg(i);
        QFile::remove(path);
        // A test that cannot write its frames fails on this exception, naming the file.
        if (saveFitsImage(*makeSyntheticField(options).image, path, quiet) != 0)
            throw std::runtime_error("cannot write " + path.toStdString());
        frames.paths << path;
        frames.truth.push_back(trueRegistration(options));
    }
    return frames;
}

} // namespace testsupport
