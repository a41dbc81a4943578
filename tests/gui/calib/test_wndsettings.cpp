#include "calib/resourcelimits.h"
#include "calib/wndsettings.h"
#include "gui/guitest.h"

TEST(PreferencesTest, WithNothingStoredTheDialogProposesHalfTheMachineWhileRunsKeepTheirOwnDefaults)
{
    QFile::remove(QString::fromLatin1(settingsfile::kFileName));
    wndSettings dialog(nullptr, 12, 16384);
    EXPECT_TRUE(dialog.windowTitle() == "Preferences" && dialog.windowModality() == Qt::ApplicationModal);
    EXPECT_EQ(std::make_tuple(dialog.sbThreads->value(), dialog.sbThreads->maximum(), dialog.sbMemory->value(),
                              dialog.sbMemPercent->value(), dialog.cbPreviewGamma->isChecked(),
                              dialog.dsbPreviewGamma->value(), dialog.cbDebayer->isChecked()),
              std::make_tuple(6, 12, 8192, 50, false, 2.2, false));
    EXPECT_EQ(dialog.cbDebayer->text(), "Debayer colour camera FITS (BAYERPAT)");
    EXPECT_EQ(settingsfile::maxThreads(), 8) << "the runs use 8 until the dialog is saved";
    // Large machines show at most the form's memory but allow all of it.
    wndSettings large(nullptr, 8, 65536);
    EXPECT_EQ(std::make_tuple(large.sbMemory->value(), large.sbMemory->maximum(), large.sbMemory->suffix(),
                              large.sbMemory->singleStep()),
              std::make_tuple(16368, 65536, QString(" MB"), 256));
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
    EXPECT_EQ(std::make_pair(dialog.sbThreads->value(), settingsfile::maxThreads()), std::make_pair(8, 64))
        << "unsaved, the runs use the stored value as it is";
    dialog.cbPreviewGamma->setChecked(true);
    dialog.dsbPreviewGamma->setValue(1.8);
    dialog.sbMemPercent->setValue(75);
    dialog.cbDebayer->setChecked(true);
    dialog.pbOK->click();
    EXPECT_EQ(std::make_tuple(settingsfile::maxThreads(), settingsfile::maxMem(), settingsfile::usePreviewGamma(),
                              settingsfile::previewGamma(), settingsfile::memPercent(),
                              readRunPreferences().debayerFits),
              std::make_tuple(8, 8192, true, 1.8f, 75, true));
    EXPECT_TRUE(wndSettings(nullptr, 4, 8192).cbDebayer->isChecked());
}
