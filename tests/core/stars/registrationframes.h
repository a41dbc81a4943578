#pragma once
// Small synthetic frames of one star field, shifted and turned by known amounts, written as
// FITS files for the registration tests.
#include "image/fitswriter.h"
#include "image/imagebuffer.h"
#include "log/messagelog.h"
#include "stars/syntheticfield.h"
#include "support/capturinglog.h"
#include "support/fitsfixture.h"

#include <QFile>
#include <QStringList>

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

namespace registrationtest {

constexpr int kWidth = 400;
constexpr int kHeight = 300;
// Bright enough for the synthetic stars over their sky at a fraction of a second per frame.
constexpr float kThreshold = 0.02f;
// How closely the pattern estimate recovers a known move on such small frames (pixels, degrees).
constexpr double kOffsetTolerance = 0.5;
constexpr double kAngleTolerance = 0.15;

struct Move {
    double shiftX;
    double shiftY;
    double degrees;
};

struct Frames {
    QStringList paths;
    std::vector<SyntheticRegistration> truth;
};

inline SyntheticFieldOptions frameOptions(const Move &move, int index)
{
    SyntheticFieldOptions options;
    options.width = kWidth;
    options.height = kHeight;
    options.colour = false;
    options.starCount = 300;
    options.noiseSeed = static_cast<std::uint32_t>(index + 1);
    options.shiftX = move.shiftX;
    options.shiftY = move.shiftY;
    options.rotationDegrees = move.degrees;
    return options;
}

// Writes "<prefix>-<i>.fits" for each move (replacing files an earlier test left).
inline Frames writeFrames(const QString &prefix, const std::vector<Move> &moves)
{
    Frames frames;
    NullMessageLog quiet;
    for (std::size_t i = 0; i < moves.size(); ++i) {
        const SyntheticFieldOptions options = frameOptions(moves[i], static_cast<int>(i));
        const QString path = QStringLiteral("%1-%2.fits").arg(prefix).arg(i);
        QFile::remove(path);
        EXPECT_EQ(saveFitsImage(*makeSyntheticField(options).image, path, quiet), 0);
        frames.paths << path;
        frames.truth.push_back(trueRegistration(options));
    }
    return frames;
}

// A grey FITS master of one value everywhere: 16-bit (white level 65535) or float.
inline QString writeMaster(const QString &path, int width, int height, double value, int bitpix = -32)
{
    testsupport::FitsImage image;
    image.bitpix = bitpix;
    image.bzero = bitpix == 16 ? 32768.0 : 0.0;
    image.axes = {width, height};
    image.values.assign(static_cast<std::size_t>(width) * height, value);
    EXPECT_EQ(testsupport::writeFitsFile(path, image), 0);
    return path;
}

// Sets the abort flag the moment a given line is logged, from whichever thread logs it.
class AbortingLog : public testsupport::CapturingLog {
public:
    AbortingLog(QString trigger, std::atomic<bool> &flag) : trigger(std::move(trigger)), flag(flag) {}

protected:
    void appendLine(const QString &text) override
    {
        CapturingLog::appendLine(text);
        if (text == trigger)
            flag = true;
    }

private:
    const QString trigger;
    std::atomic<bool> &flag;
};

} // namespace registrationtest
