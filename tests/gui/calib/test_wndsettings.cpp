#include "calib/resourcelimits.h"
#include "calib/wndsettings.h"
#include "platform/settingsfile.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QPushButton>
#include <QSpinBox>

#include <gtest/gtest.h>

namespace {

class PreferencesTest : public ::testing::Test {
protected:
    void SetUp() override { QFile::remove(QString::fromLatin1(settingsfile::kFileName)); }
    static void store(const char *key, const QVariant &value)
    {
        settingsfile::setValue(QStringLiteral("Preferences"), QString::fromLatin1(key), value);
    }
};

} // namespace

TEST_F(PreferencesTest, WithNothingStoredTheDialogProposesHalfTheMachineWhileRunsKeepTheirOwnDefaults)
{
    wndSettings dialog(nullptr, 12, 16384);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Preferences"));
    EXPECT_EQ(dialog.windowModality(), Qt::ApplicationModal);
    EXPECT_EQ(dialog.sbThreads->value(), 6);
    EXPECT_EQ(dialog.sbThreads->maximum(), 12);
    EXPECT_EQ(dialog.sbMemory->value(), 8192);
    EXPECT_EQ(dialog.sbMemPercent->value(), 50);
    EXPECT_FALSE(dialog.cbPreviewGamma->isChecked());
    EXPECT_DOUBLE_EQ(dialog.dsbPreviewGamma->value(), 2.2);
    EXPECT_EQ(settingsfile::maxThreads(), 8) << "the runs use 8 until the dialog is saved";
    EXPECT_EQ(settingsfile::maxMem(), 1024);
}

TEST_F(PreferencesTest, LargeMachinesShowAtMostTheFormsMemoryButAllowAllOfIt)
{
    wndSettings dialog(nullptr, 8, 65536);
    EXPECT_EQ(dialog.sbMemory->value(), 16368);
    EXPECT_EQ(dialog.sbMemory->maximum(), 65536);
    EXPECT_EQ(dialog.sbMemory->suffix(), QStringLiteral(" MB"));
    EXPECT_EQ(dialog.sbMemory->singleStep(), 256);
}

TEST_F(PreferencesTest, StoredThreadsAboveTheMachineAreClampedAndSavedClamped)
{
    store("maxThreads", 64);
    wndSettings dialog(nullptr, 8, 16384);
    EXPECT_EQ(dialog.sbThreads->value(), 8);
    EXPECT_EQ(settingsfile::maxThreads(), 64) << "unsaved, the runs use the stored value as it is";
    dialog.pbOK->click();
    EXPECT_EQ(settingsfile::maxThreads(), 8);
    EXPECT_EQ(settingsfile::maxMem(), 8192);
    EXPECT_EQ(settingsfile::memPercent(), 50);
}

TEST_F(PreferencesTest, CancelWritesNothingEvenAfterEdits)
{
    wndSettings dialog(nullptr, 4, 8192);
    dialog.sbThreads->setValue(1);
    dialog.cbPreviewGamma->setChecked(true);
    dialog.pbCancel->click();
    EXPECT_FALSE(QFile::exists(QString::fromLatin1(settingsfile::kFileName)));

    wndSettings again(nullptr, 4, 8192);
    again.cbPreviewGamma->setChecked(true);
    again.dsbPreviewGamma->setValue(1.8);
    again.sbMemPercent->setValue(75);
    again.pbOK->click();
    EXPECT_TRUE(settingsfile::usePreviewGamma());
    EXPECT_FLOAT_EQ(settingsfile::previewGamma(), 1.8f);
    EXPECT_EQ(settingsfile::memPercent(), 75);
}

TEST_F(PreferencesTest, DebayeringIsOffUntilTheBoxIsTickedAndSaved)
{
    wndSettings dialog(nullptr, 4, 8192);
    EXPECT_EQ(dialog.cbDebayer->text(), QStringLiteral("Debayer colour camera FITS (BAYERPAT)"));
    EXPECT_FALSE(dialog.cbDebayer->isChecked());
    EXPECT_FALSE(readRunPreferences().debayerFits);
    dialog.cbDebayer->setChecked(true);
    dialog.pbOK->click();
    EXPECT_TRUE(settingsfile::debayerFits());
    EXPECT_TRUE(readRunPreferences().debayerFits);
    wndSettings again(nullptr, 4, 8192);
    EXPECT_TRUE(again.cbDebayer->isChecked());
}
