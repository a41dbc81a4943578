#include "invalidvalues.h"

#include "image/imagebuffer.h"
#include "log/messagelog.h"

#include <algorithm>
#include <cmath>

namespace {

const char *const kChannelNames[3] = {"Red", "Green", "Blue"};

float asExtreme(float v)
{
    return std::isnan(v) ? 0.0f : v;
}

QString extremesLine(const char *what, const FloatRGB &c)
{
    return QStringLiteral("%1 color values: R=%2 G=%3 B=%4")
        .arg(QLatin1String(what), logNumber(c.r), logNumber(c.g), logNumber(c.b));
}

} // namespace

InvalidValueScan scanInvalidValues(const ImageBuffer &image, MessageLog &log,
                                   const std::function<void()> &betweenBatches, const std::atomic<bool> *abort)
{
    InvalidValueScan scan;
    QStringList batch;
    const auto flush = [&] {
        log.logMessages(batch);
        batch.clear();
        if (betweenBatches)
            betweenBatches();
        return !(abort && abort->load());
    };
    float low[3] = {0.0f, 0.0f, 0.0f};
    float high[3] = {0.0f, 0.0f, 0.0f};
    if (image.hasPixels())
        for (int c = 0; c < 3; ++c)
            low[c] = high[c] = asExtreme(image.pixel(0, 0)[c]);

    for (int y = 0; y < image.height; ++y) {
        const float *p = image.hasPixels() ? image.pixel(0, y) : nullptr;
        for (int x = 0; p && x < image.width; ++x, p += ImageBuffer::kFloatsPerPixel) {
            const float rgb[3] = {p[0], p[1], p[2]};
            for (int c = 0; c < 3; ++c) {
                low[c] = std::min(low[c], asExtreme(rgb[c]));
                high[c] = std::max(high[c], asExtreme(rgb[c]));
            }
            // Most pixels are none of these: test all three at once before building any line.
            if (std::isfinite(rgb[0]) && std::isfinite(rgb[1]) && std::isfinite(rgb[2]) && rgb[0] != 0.0f
                && rgb[1] != 0.0f && rgb[2] != 0.0f)
                continue;
            const QString where = QStringLiteral("%1,%2").arg(x).arg(y);
            const auto report = [&](const char *test, bool (*hit)(float)) {
                for (int c = 0; c < 3; ++c)
                    if (hit(rgb[c]))
                        batch.append(QLatin1String(test) + QLatin1String(kChannelNames[c]) + QLatin1String(": ")
                                     + where);
            };
            report("Infinite ", [](float v) { return std::isinf(v); });
            report("'Not a number' ", [](float v) { return std::isnan(v); });
            report("Zero ", [](float v) { return v == 0.0f; });
            if (batch.size() >= kInvalidValueBatchLines) {
                scan.reported += batch.size();
                if (!flush()) {
                    scan.aborted = true;
                    return scan;
                }
            }
        }
    }
    scan.reported += batch.size();
    scan.minimum = FloatRGB{low[0], low[1], low[2], 0.0f};
    scan.maximum = FloatRGB{high[0], high[1], high[2], 0.0f};
    batch.append(extremesLine("Minimum", scan.minimum));
    batch.append(extremesLine("Maximum", scan.maximum));
    log.logMessages(batch);
    return scan;
}
