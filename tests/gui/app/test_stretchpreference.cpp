#include "app/verdanix.h"
#include "calib/wndsettings.h"
#include "image/autostretch.h"
#include "platform/settingsfile.h"
#include "support/guihelpers.h"
#include "view/mdiimage.h"
#include "view/wndviewcorrection.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QPushButton>

#include <gtest/gtest.h>

namespace {

// A sky-limited frame: everything between 0.010 and 0.012 of the white level, one star.
std::unique_ptr<ImageBuffer> skyFrame()
{
    auto buffer = std::make_unique<ImageBuffer>(64, 48);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x) {
            float *p = buffer->pixel(x, y);
            p[0] = p[1] = p[2] = 0.010f + 0.002f * static_cast<float>((x + y) % 5) / 4.0f;
            p[3] = 1.0f;
        }
    buffer->pixel(10, 10)[0] = 1.0f;
    return buffer;
}

} // namespace

TEST(StretchPreference, OffByDefaultOnItStretchesNewWindowsAtThePanelsClipValue)
{
    auto window = testsupport::startMainWindow();
    wndSettings dialog;
    EXPECT_EQ(dialog.cbStretchNew->text(), QStringLiteral("Stretch new windows automatically"));
    EXPECT_FALSE(dialog.cbStretchNew->isChecked());
    mdiImage *plain = window->openResultWindow(skyFrame(), QStringLiteral("plain.fits"));
    EXPECT_EQ(plain->vcBlack[0], 0.0f) << "opening stays as it was";
    EXPECT_EQ(plain->vcWhite[0], 1.0f);
    EXPECT_EQ(qRed(plain->previewImage.pixel(0, 0)), 2) << "trunc(0.010 x 255): nearly black";

    dialog.cbStretchNew->setChecked(true);
    dialog.pbOK->click();
    ASSERT_TRUE(settingsfile::stretchNewWindows());
    window->viewCorrectionPanel()->dsbAuto->setValue(0.05);
    auto frame = skyFrame();
    const StretchPoints expected = normalisedStretch(autoStretchPoints(*frame, 0.05f), frame->whiteLevel);
    mdiImage *stretched = window->openResultWindow(std::move(frame), QStringLiteral("stretched.fits"));
    EXPECT_FLOAT_EQ(stretched->vcBlack[1], expected.black);
    EXPECT_FLOAT_EQ(stretched->vcWhite[2], expected.white);
    EXPECT_GT(qGreen(stretched->previewImage.pixel(2, 0)), 64) << "the sky is no longer black";
}

TEST(StretchPreference, ThePanelsAutoBoxIsRememberedFromOneRunToTheNext)
{
    auto window = testsupport::startMainWindow();
    EXPECT_FALSE(window->viewCorrectionPanel()->cbAuto->isChecked());
    window->viewCorrectionPanel()->cbAuto->setChecked(true);
    window.reset();
    window = std::make_unique<Verdanix>();
    EXPECT_TRUE(window->viewCorrectionPanel()->cbAuto->isChecked());
    window->viewCorrectionPanel()->cbAuto->setChecked(false);
    window.reset();
    window = std::make_unique<Verdanix>();
    EXPECT_FALSE(window->viewCorrectionPanel()->cbAuto->isChecked());
}
