#include "log/messagelog.h"
#include "log/outofmemory.h"

#include "image/imagebuffer.h"
#include "support/capturinglog.h"

#include <gtest/gtest.h>

using testsupport::CapturingLog;

TEST(MessageLog, CoreWritesToTheInstalledLogUnlessMutedAndToNothingWithoutOne)
{
    CapturingLog log;
    messageLog().logMessage(QStringLiteral("before"));
    installMessageLog(&log);
    messageLog().logMessage(QStringLiteral("one"));
    log.muted = true;
    messageLog().logMessage(QStringLiteral("dropped"));
    log.muted = false;
    messageLog().logMessage(QStringLiteral("two"));
    installMessageLog(nullptr);
    messageLog().logMessage(QStringLiteral("after"));
    EXPECT_EQ(log.lines(), (QStringList{QStringLiteral("one"), QStringLiteral("two")}));
    // Numbers use six significant digits.
    EXPECT_EQ(logNumber(0.1234567), QStringLiteral("0.123457"));
    EXPECT_EQ(logNumber(65535.0), QStringLiteral("65535"));
    EXPECT_EQ(logNumber(1234567.0), QStringLiteral("1.23457e+06"));
}

TEST(OutOfMemory, AFailedAllocationBecomesOneLineWithTheSizeAndNothingElseHappens)
{
    CapturingLog log;
    bool finished = false;
    EXPECT_FALSE(guardMemory(log, [&] {
        ImageBuffer tooLarge(1 << 20, 1 << 20);
        finished = true;
    }));
    EXPECT_FALSE(finished);
    EXPECT_EQ(log.lines(),
              QStringList{"Not enough memory: 17592186044416 bytes (16777216.0 MB) could not be allocated."});
    EXPECT_TRUE(guardMemory(log, [] {}));
    EXPECT_EQ(log.lines().size(), 1);
}
