#include "image/imagebuffer.h"
#include "log/messagelog.h"
#include "log/outofmemory.h"
#include "support/capturinglog.h"

#include <gtest/gtest.h>

TEST(MessageLog, CoreWritesToTheInstalledLogUnlessMutedAndToNothingWithoutOne)
{
    testsupport::CapturingLog log;
    messageLog().logMessage(QStringLiteral("before"));
    installMessageLog(&log);
    for (const char *line : {"one", "dropped", "two"}) {
        log.muted = QLatin1String(line) == QLatin1String("dropped");
        messageLog().logMessage(QString::fromLatin1(line));
    }
    installMessageLog(nullptr);
    messageLog().logMessage(QStringLiteral("after"));
    EXPECT_EQ(log.lines(), (QStringList{QStringLiteral("one"), QStringLiteral("two")}));
    // Numbers use six significant digits.
    EXPECT_EQ(QStringList({logNumber(0.1234567), logNumber(65535.0), logNumber(1234567.0)}),
              QStringList({"0.123457", "65535", "1.23457e+06"}));
}

TEST(OutOfMemory, AFailedAllocationBecomesOneLineWithTheSizeAndNothingElseHappens)
{
    testsupport::CapturingLog log;
    bool finished = false;
    EXPECT_FALSE(guardMemory(log, [&] { ImageBuffer tooLarge(1 << 20, 1 << 20); finished = true; }));
    EXPECT_TRUE(guardMemory(log, [] {}) && !finished);
    EXPECT_EQ(log.lines(),
              QStringList{"Not enough memory: 17592186044416 bytes (16777216.0 MB) could not be allocated."});
}
