#include "calib/resourcelimits.h"
#include "calib/wndsettings.h"
#include "gui/guitest.h"

TEST(PreferencesTest, ProposesHalfTheMachineWhileRunsKeepTheirDefaultsAndSavesStoredThreadsClamped)
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
    // Cancel writes nothing; stored threads above the machine are saved clamped.
    wndSettings(nullptr, 4, 8192).pbCancel->click();
    EXPECT_FALSE(QFile::exists(QString::fromLatin1(settingsfile::kFileName)));
    settingsfile::setValue("Preferences", "maxThreads", 64);
    wndSettings stored(nullptr, 8, 16384);
    EXPECT_EQ(std::make_pair(stored.sbThreads->value(), settingsfile::maxThreads()), std::make_pair(8, 64))
        << "unsaved, the runs use the stored value as it is";
    stored.cbPreviewGamma->setChecked(true);
    stored.dsbPreviewGamma->setValue(1.8);
    stored.sbMemPercent->setValue(75);
    stored.cbDebayer->setChecked(true);
    stored.pbOK->click();
    EXPECT_EQ(std::make_tuple(settingsfile::maxThreads(), settingsfile::maxMem(), settingsfile::usePreviewGamma(),
                              settingsfile::previewGamma(), settingsfile::memPercent(),
                              readRunPreferences().debayerFits),
              std::make_tuple(8, 8192, true, 1.8f, 75, true));
    EXPECT_TRUE(wndSettings(nullptr, 4, 8192).cbDebayer->isChecked());
}
