#include "platform/settingsfile.h"

#include <QFile>
#include <QSettings>

#include <gtest/gtest.h>

namespace {
void removeSettingsFile()
{
    QFile::remove(QString::fromLatin1(settingsfile::kFileName));
}
} // namespace

TEST(SettingsFile, AbsentKeysGiveTheirDefaults)
{
    removeSettingsFile();
    EXPECT_TRUE(settingsfile::firstRun());
    EXPECT_TRUE(settingsfile::fileOpenPath().isEmpty());
    EXPECT_EQ(settingsfile::maxThreads(), 8);
    EXPECT_EQ(settingsfile::maxMem(), 1024);
    EXPECT_EQ(settingsfile::maxThreads(3), 3);
    EXPECT_EQ(settingsfile::memPercent(), 50);
    EXPECT_FALSE(settingsfile::usePreviewGamma());
    EXPECT_FLOAT_EQ(settingsfile::previewGamma(), 2.2f);
    EXPECT_FALSE(QFile::exists(QString::fromLatin1(settingsfile::kFileName))) << "reading must not create the file";
}

TEST(SettingsFile, ValuesLandInTheirGroupsAndAreSeenByTheNextRead)
{
    removeSettingsFile();
    settingsfile::setFirstRun(false);
    settingsfile::setFileOpenPath(QStringLiteral("/data/night 1"));
    settingsfile::setValue(QStringLiteral("Preferences"), QStringLiteral("maxThreads"), 64);

    EXPECT_FALSE(settingsfile::firstRun());
    EXPECT_EQ(settingsfile::fileOpenPath(), QStringLiteral("/data/night 1"));
    EXPECT_EQ(settingsfile::maxThreads(), 64);

    // Another reader of the same file sees the documented groups and keys.
    QSettings raw(QString::fromLatin1(settingsfile::kFileName), QSettings::IniFormat);
    EXPECT_EQ(raw.value(QStringLiteral("FirstRun")).toBool(), false);
    EXPECT_EQ(raw.value(QStringLiteral("History/FileOpenPath")).toString(), QStringLiteral("/data/night 1"));
    EXPECT_EQ(raw.value(QStringLiteral("Preferences/maxThreads")).toInt(), 64);

    QFile file(QString::fromLatin1(settingsfile::kFileName));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    EXPECT_TRUE(text.contains("[General]\nFirstRun=false")) << text.constData();
    EXPECT_TRUE(text.contains("[Preferences]")) << text.constData();
}
