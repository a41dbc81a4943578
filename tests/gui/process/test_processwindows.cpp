#include "gui/guitest.h"
#include "process/flattenbgwnd.h"
#include "process/gainwindow.h"
#include "process/wndcombineimg.h"

namespace {

// A normalised grey sky of `sky` plus a horizontal gradient, red `tint` times as bright, and
// four white stars.
std::unique_ptr<ImageBuffer> skyImage(int width, int height, float sky, float gradient = 0.0f, float tint = 1.0f)
{
    auto buffer = greyImage(width, height, [=](int x, int) { return sky + gradient * x / width; });
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            buffer->pixel(x, y)[0] *= tint;
    for (int i = 1; i < 5; ++i)
        std::fill_n(buffer->pixel(i * width / 5, i * height / 5), 3, 1.0f);
    return buffer;
}

using ProcessTest = MainWindowTest;

} // namespace

TEST_F(ProcessTest, OperationsNeedAnImageNeutralizationMakesAGreyBackgroundCopyAndCropCopiesTheSelection)
{
    window->documentArea()->setActiveSubWindow(window->documentArea()->subWindowList().first());
    for (void (Verdanix::*slot)() : {&Verdanix::avgColor, &Verdanix::cutAbove, &Verdanix::getStdDev,
                                     &Verdanix::normalize, &Verdanix::neutralizeBackground, &Verdanix::removeBackground,
                                     &Verdanix::getBackgroundColor, &Verdanix::fillBlack, &Verdanix::mediumBright}) {
        (window.get()->*slot)();
        EXPECT_EQ(lastLine(), "Please focus a valid image window first.");
    }
    EXPECT_TRUE(imageWindowCount() == 0 && !window->lockActive);
    mdiImage *source = open(skyImage(40, 30, 0.1f, 0.0f, 2.0f), "sky.fits");
    window->neutralizeBackground();
    mdiImage *result = window->newestWindow;
    ASSERT_NE(result, source);
    EXPECT_EQ(result->windowTitle(), "sky.fits (1)");
    const FloatRGB sky = result->buffer->getPixel(0, 0);
    EXPECT_NEAR(sky.r, sky.g, 1e-6) << "the source's red was twice its green";
    EXPECT_TRUE(consoleLines(*window).contains("Neutralizing background color of sky.fits"));
    EXPECT_TRUE(lastLine() == "Background neutralization done." && !window->lockActive);
    window->documentArea()->setActiveSubWindow(frameOf(source));
    window->cropImg();
    EXPECT_EQ(lastLine(), "Please make a selection, first!");
    source->selection = SelectionRect{8, 6, 5, 3, 1};
    window->cropImg();
    mdiImage *crop = window->newestWindow;
    ASSERT_TRUE(crop != source && window->viewTarget == source);
    EXPECT_EQ(std::make_tuple(crop->buffer->width, crop->buffer->height, crop->buffer->getPixel(0, 0).r),
              std::make_tuple(5, 3, 1.0f))
        << "the star at (8, 6)";
}

TEST_F(ProcessTest, GainPreviewNeverCompoundsAndOkAppliesToTheFullImageTheDialogWasOpenedOn)
{
    mdiImage *source = open(skyImage(40, 30, 0.2f), "gain.fits");
    window->setGain();
    auto *dialog = window->findChild<GainWindow *>();
    ASSERT_TRUE(dialog && dialog->previewWindow);
    const float first = dialog->previewWindow->buffer->getPixel(0, 0).r;
    dialog->dsRed->setValue(2.0);
    EXPECT_FLOAT_EQ(dialog->previewWindow->buffer->getPixel(0, 0).r, 2.0f * first);
    dialog->dsRed->setValue(1.0);
    EXPECT_FLOAT_EQ(dialog->previewWindow->buffer->getPixel(0, 0).r, first);
    dialog->dsBlue->setValue(0.5);
    open(skyImage(40, 30, 0.4f), "second.fits");
    dialog->pbOK->click();
    mdiImage *result = window->newestWindow;
    ASSERT_TRUE(result && !result->isPreview);
    EXPECT_EQ(result->buffer->width, 40) << "the full image, not the preview's copy";
    EXPECT_EQ(std::make_pair(result->buffer->getPixel(0, 0).b, source->buffer->getPixel(0, 0).b),
              std::make_pair(0.1f, 0.2f))
        << "0.5 x the first image's 0.2, which stays";
    // A dialog whose image was closed refuses, and its preview goes.
    const int before = imageWindowCount();
    mdiImage *third = open(skyImage(8, 8, 0.2f), "third.fits");
    window->setGain();
    dialog = window->findChildren<GainWindow *>().last();
    third->parentWidget()->close();
    ASSERT_TRUE(waitUntil([&] { return dialog->sourceWindow == nullptr; }));
    dialog->pbOK->click();
    EXPECT_EQ(lastLine(), "The image the gain was chosen for has been closed; no gain was applied.");
    ASSERT_TRUE(waitUntil([&] { return imageWindowCount() == before; })) << "only the preview goes";
}

TEST_F(ProcessTest, CombiningSubtractsAnImageFromItselfAndRefusesOtherSizesOrClosedImages)
{
    open(skyImage(20, 10, 0.2f), "a.fits");
    mdiImage *b = open(skyImage(10, 10, 0.2f), "b.fits");
    window->showCombineWnd();
    auto *tool = window->findChild<wndCombineImg *>();
    ASSERT_NE(tool, nullptr);
    tool->cbOperator->setCurrentIndex(1);
    tool->pbApply->click();
    mdiImage *combined = window->newestWindow;
    ASSERT_NE(combined, b);
    EXPECT_EQ(std::make_tuple(combined->windowTitle(), combined->buffer->width, combined->buffer->getPixel(16, 8).g),
              std::make_tuple(QString("Combined"), 20, 0.0f));
    EXPECT_TRUE(consoleLines(*window).contains("Image substraction...") && lastLine() == "Done.");
    tool->cbImageB->setCurrentIndex(1);
    const int before = imageWindowCount();
    tool->pbApply->click();
    EXPECT_EQ(imageWindowCount(), before);
    EXPECT_TRUE(lastLine().contains("20 x 10 and 10 x 10"));
    b->parentWidget()->close();
    ASSERT_TRUE(waitUntil([&] { return imageWindowCount() == before - 1; }));
    tool->pbApply->click();
    EXPECT_EQ(lastLine(), "ERROR: Image B not found! (Did you close it?)");
}

TEST_F(ProcessTest, FlattenToolRefusesOneMarkerAndFlattensAGradient)
{
    mdiImage *source = open(skyImage(120, 80, 0.1f, 0.2f), "grad.fits");
    window->flattenBg();
    auto *panel = window->findChild<flattenbgwnd *>();
    ASSERT_TRUE(panel && source->markerMode);
    source->addMarker(10, 10, 5, 5);
    panel->pbApply->click();
    const QStringList lines = consoleLines(*window);
    EXPECT_EQ(lines.mid(lines.size() - 2),
              (QStringList{"This function requires at least two background probes!", "Aborting."}));
    panel->sbBoxCount->setValue(20);
    panel->dsbSigma->setValue(3.0); // accept every sky box, the brighter end of the gradient too
    panel->pbPlace->click();
    const int firstGrid = source->markerXs.size();
    EXPECT_GT(firstGrid, 2);
    panel->pbPlace->click();
    EXPECT_TRUE(source->markerXs.size() == firstGrid && source->markerItems.size() == firstGrid)
        << "a second placement replaces the first";
    EXPECT_TRUE(source->autoStep > 0.0f && !window->lockActive);
    const int before = imageWindowCount();
    panel->pbApply->click();
    ASSERT_EQ(imageWindowCount(), before + 2);
    mdiImage *flat = window->newestWindow;
    EXPECT_EQ(flat->windowTitle(), "grad.fits (1)");
    // The gradient (0.2 from end to end) is gone.
    EXPECT_LT(std::abs(flat->buffer->getPixel(117, 40).r - flat->buffer->getPixel(2, 40).r), 0.1f);
    panel->pbClose->click();
    EXPECT_TRUE(!source->markerMode && source->markerXs.isEmpty() && lastLine() == "Box markers cleared.");
}
