#include "log/messagelog.h"
#include "log/outofmemory.h"

#include "image/imagebuffer.h"
#include "support/capturinglog.h"

#include <gtest/gtest.h>

using testsupport::CapturingLog;

TEST(MessageLog, MutedLogDiscardsLinesUntilUnmuted)
{
    CapturingLog log;
    log.logMessage(QStringLiteral("one"));
    log.muted = true;
    log.logMessage(QStringLiteral("dropped"));
    log.muted = false;
    log.logMessage(QStringLiteral("two"));
    EXPECT_EQ(log.lines(), (QStringList{QStringLiteral("one"), QStringLiteral("two")}));
}

TEST(MessageLog, CoreWritesToTheInstalledLogAndToNothingWithoutOne)
{
    CapturingLog log;
    messageLog().logMessage(QStringLiteral("before"));
    installMessageLog(&log);
    messageLog().logMessage(QStringLiteral("during"));
    installMessageLog(nullptr);
    messageLog().logMessage(QStringLiteral("after"));
    EXPECT_EQ(log.lines(), QStringList{QStringLiteral("during")});
}

TEST(MessageLog, NumbersUseSixSignificantDigits)
{
    EXPECT_EQ(logNumber(0.1234567), QStringLiteral("0.123457"));
    EXPECT_EQ(logNumber(65535.0), QStringLiteral("65535"));
    EXPECT_EQ(logNumber(1234567.0), QStringLiteral("1.23457e+06"));
}

TEST(OutOfMemory, AFailedAllocationBecomesOneLineWithTheSizeAndNothingElseHappens)
{
    CapturingLog log;
    bool finished = false;
    const bool ok = guardMemory(log, [&] {
        ImageBuffer tooLarge(1 << 20, 1 << 20);
        finished = true;
    });
    EXPECT_FALSE(ok);
    EXPECT_FALSE(finished);
    ASSERT_EQ(log.lines().size(), 1);
    EXPECT_TRUE(log.lines().first().startsWith(QStringLiteral("Not enough memory")));
    EXPECT_TRUE(log.lines().first().contains(QStringLiteral("17592186044416 bytes"))) << log.lines().first().toStdString();

    EXPECT_TRUE(guardMemory(log, [] {}));
    EXPECT_EQ(log.lines().size(), 1);
}
