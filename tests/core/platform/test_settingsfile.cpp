#include "platform/settingsfile.h"

#include <QFile>
#include <gtest/gtest.h>

TEST(SettingsFile, AbsentKeysGiveTheirDefaultsAndValuesLandInTheirGroups)
{
    const QString name = QString::fromLatin1(settingsfile::kFileName);
    QFile::remove(name);
    EXPECT_TRUE(settingsfile::firstRun() && settingsfile::fileOpenPath().isEmpty() && !settingsfile::usePreviewGamma());
    EXPECT_EQ(settingsfile::maxThreads(3), 3);
    EXPECT_FLOAT_EQ(settingsfile::previewGamma(), 2.2f);
    EXPECT_FALSE(QFile::exists(name)) << "reading must not create the file";
    settingsfile::setFirstRun(false);
    settingsfile::setFileOpenPath(QStringLiteral("/data/night 1"));
    settingsfile::setValue(QStringLiteral("Preferences"), QStringLiteral("maxThreads"), 64);
    EXPECT_TRUE(!settingsfile::firstRun() && settingsfile::fileOpenPath() == "/data/night 1"
                && settingsfile::maxThreads() == 64);
    // Another reader of the same file sees the documented groups and keys.
    QFile file(name);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "[General]\nFirstRun=false\n\n[History]\nFileOpenPath=/data/night 1\n\n"
                              "[Preferences]\nmaxThreads=64\n");
}
