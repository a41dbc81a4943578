#include "platform/settingsfile.h"

#include <QFile>
#include <QSettings>

#include <gtest/gtest.h>

TEST(SettingsFile, AbsentKeysGiveTheirDefaultsAndValuesLandInTheirGroups)
{
    const QString name = QString::fromLatin1(settingsfile::kFileName);
    QFile::remove(name);
    EXPECT_TRUE(settingsfile::firstRun());
    EXPECT_TRUE(settingsfile::fileOpenPath().isEmpty());
    EXPECT_EQ(settingsfile::maxThreads(3), 3);
    EXPECT_FALSE(settingsfile::usePreviewGamma());
    EXPECT_FLOAT_EQ(settingsfile::previewGamma(), 2.2f);
    EXPECT_FALSE(QFile::exists(name)) << "reading must not create the file";
    settingsfile::setFirstRun(false);
    settingsfile::setFileOpenPath(QStringLiteral("/data/night 1"));
    settingsfile::setValue(QStringLiteral("Preferences"), QStringLiteral("maxThreads"), 64);
    EXPECT_FALSE(settingsfile::firstRun());
    EXPECT_EQ(settingsfile::fileOpenPath(), QStringLiteral("/data/night 1"));
    EXPECT_EQ(settingsfile::maxThreads(), 64);
    // Another reader of the same file sees the documented groups and keys.
    QSettings raw(name, QSettings::IniFormat);
    EXPECT_EQ(raw.value(QStringLiteral("History/FileOpenPath")).toString(), QStringLiteral("/data/night 1"));
    EXPECT_EQ(raw.value(QStringLiteral("Preferences/maxThreads")).toInt(), 64);
    QFile file(name);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    EXPECT_TRUE(text.contains("[General]\nFirstRun=false")) << text.constData();
    QFile::remove(name);
}
