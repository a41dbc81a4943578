#include "calib/resourcelimits.h"
#include "calib/wndsettings.h"
#include "gui/guitest.h"

TEST(PreferencesTest, WithNothingStoredTheDialogProposesHalfTheMachineWhileRunsKeepTheirOwnDefaults)
{
    QFile::remove(QString::fromLatin1(settingsfile::kFileName));
    wndSettings dialog(nullptr, 12, 16384);
    EXPECT_EQ(dialog.windowTitle(), "Preferences");
    EXPECT_EQ(dialog.windowModality(), Qt::ApplicationModal);
    EXPECT_TRUE(dialog.sbThreads->value() == 6 && dialog.sbThreads->maximum() == 12);
    EXPECT_EQ(dialog.sbMemory->value(), 8192);
    EXPECT_EQ(dialog.sbMemPercent->value(), 50);
    EXPECT_FALSE(dialog.cbPreviewGamma->isChecked());
    EXPECT_DOUBLE_EQ(dialog.dsbPreviewGamma->value(), 2.2);
    EXPECT_EQ(dialog.cbDebayer->text(), "Debayer colour camera FITS (BAYERPAT)");
    EXPECT_FALSE(dialog.cbDebayer->isChecked() || readRunPreferences().debayerFits);
    EXPECT_EQ(settingsfile::maxThreads(), 8) << "the runs use 8 until the dialog is saved";
    EXPECT_EQ(settingsfile::maxMem(), 1024);
    // Large machines show at most the form's memory but allow all of it.
    wndSettings large(nullptr, 8, 65536);
    EXPECT_TRUE(large.sbMemory->value() == 16368 && large.sbMemory->maximum() == 65536);
    EXPECT_EQ(large.sbMemory->suffix(), " MB");
    EXPECT_EQ(large.sbMemory->singleStep(), 256);
}

TEST(PreferencesTest, StoredThreadsAboveTheMachineAreSavedClampedAndCancelWritesNothing)
{
    QFile::remove(QString::fromLatin1(settingsfile::kFileName));
    wndSettings cancelled(nullptr, 4, 8192);
    cancelled.sbThreads->setValue(1);
    cancelled.cbPreviewGamma->setChecked(true);
    cancelled.pbCancel->click();
    EXPECT_FALSE(QFile::exists(QString::fromLatin1(settingsfile::kFileName)));
    settingsfile::setValue("Preferences", "maxThreads", 64);
    wndSettings dialog(nullptr, 8, 16384);
    EXPECT_EQ(dialog.sbThreads->value(), 8);
    EXPECT_EQ(settingsfile::maxThreads(), 64) << "unsaved, the runs use the stored value as it is";
    dialog.cbPreviewGamma->setChecked(true);
    dialog.dsbPreviewGamma->setValue(1.8);
    dialog.sbMemPercent->setValue(75);
    dialog.cbDebayer->setChecked(true);
    dialog.pbOK->click();
    EXPECT_EQ(settingsfile::maxThreads(), 8);
    EXPECT_EQ(settingsfile::maxMem(), 8192);
    EXPECT_TRUE(settingsfile::usePreviewGamma());
    EXPECT_FLOAT_EQ(settingsfile::previewGamma(), 1.8f);
    EXPECT_EQ(settingsfile::memPercent(), 75);
    EXPECT_TRUE(settingsfile::debayerFits() && readRunPreferences().debayerFits);
    EXPECT_TRUE(wndSettings(nullptr, 4, 8192).cbDebayer->isChecked());
}
