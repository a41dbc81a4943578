#pragma once
// What the registration tests share: small synthetic frames of one star field, moved by known
// amounts (support/starfield.h), and a log that presses Abort at a given line.
#include "support/capturinglog.h"
#include "support/fitsfixture.h"
#include "testdata/starfield.h"

#include <atomic>

namespace registrationtest {

using testsupport::FieldMove;
using testsupport::SyntheticFrames;
using testsupport::writeSyntheticFrames;

constexpr int kWidth = 400;
constexpr int kHeight = 300;
// Bright enough for the synthetic stars over their sky at a fraction of a second per frame.
constexpr float kThreshold = 0.02f;
// How closely the pattern estimate recovers a known move on such small frames (pixels, degrees).
constexpr double kOffsetTolerance = 0.5;
constexpr double kAngleTolerance = 0.15;

// A grey master of one value everywhere: 16-bit (white level 65535) or float.
inline QString writeMaster(const QString &path, int width, int height, double value, int bitpix = -32)
{
    return testsupport::writeConstantFrame(path, width, height, value, bitpix, 0);
}

// Sets the abort flag the moment a given line is logged, from whichever thread logs it.
class AbortingLog : public testsupport::CapturingLog {
public:
    AbortingLog(QString trigger, std::atomic<bool> &flag) : trigger(std::move(trigger)), flag(flag) {}

protected:
    void appendLine(const QString &text, Severity severity) override
    {
        CapturingLog::appendLine(text, severity);
        if (text == trigger)
            flag = true;
    }

private:
    const QString trigger;
    std::atomic<bool> &flag;
};

} // namespace registrationtest
