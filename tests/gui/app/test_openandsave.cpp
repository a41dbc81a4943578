// Opening and saving images, and the view correction (stretch) applied to what is shown.
#include "app/filedialogs.h"
#include "app/verdanix.h"
#include "calib/wndsettings.h"
#include "image/autostretch.h"
#include "image/imageloader.h"
#include "platform/settingsfile.h"
#include "support/dngwriter.h"
#include "support/fitsfixture.h"
#include "support/guihelpers.h"
#include "view/mdiimage.h"
#include "view/wndviewcorrection.h"

#include <QCheckBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QRegularExpression>

#include <gtest/gtest.h>

using testsupport::consoleLines;

namespace {

QString answer;
QString askedDirectory;
QString offeredFilter;

QString scriptedDialog(QWidget *, const QString &, const QString &directory, const QString &)
{
    askedDirectory = directory;
    return answer;
}

QString scriptedSaveDialog(QWidget *, const QString &, const QString &directory, const QString &,
                           const QString &selectedFilter)
{
    offeredFilter = selectedFilter;
    askedDirectory = directory;
    return answer;
}

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

class OpenSaveTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        filedialogs::askOpenFileName = scriptedDialog;
        filedialogs::askSaveFileName = scriptedSaveDialog;
        answer.clear();
        QDir().mkpath("frames");
        window = testsupport::startMainWindow();
    }
    void TearDown() override { window.reset(); }

    // Opens a 16-bit 20 x 10 grey FITS file whose pixel (x, y) holds 100 * x + y.
    mdiImage *openFrame(const QString &name)
    {
        answer = QDir::current().filePath(testsupport::writeFrame(
            "frames/" + name, 20, 10, [](int x, int y, int) { return 100.0 * x + y; }, 16, 0));
        window->loadImage();
        return window->newestWindow;
    }
    QStringList save(const QString &name)
    {
        answer = QDir::current().filePath(name);
        window->saveImage();
        return consoleLines(*window);
    }
    QString status() { return window->findChild<QLabel *>("statusLabel")->text(); }

    std::unique_ptr<Verdanix> window;
};

} // namespace

TEST_F(OpenSaveTest, OpeningShowsTheImageLogsItsClipPointsAndRemembersTheFolder)
{
    mdiImage *image = openFrame("M42.fits");
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->windowTitle(), "M42.fits");
    EXPECT_TRUE(image->buffer->width == 20 && image->buffer->height == 10);
    EXPECT_EQ(image->buffer->whiteLevel, 65536.0f);
    EXPECT_EQ(window->viewTarget, image);
    const QString folder = QFileInfo(answer).absolutePath();
    EXPECT_EQ(settingsfile::fileOpenPath(), folder);

    const QStringList lines = consoleLines(*window);
    const int histogramLine = lines.indexOf("Calculating histogram...");
    ASSERT_GE(histogramLine, 0);
    EXPECT_TRUE(lines[histogramLine + 1].startsWith(" 0.1% value: "));
    EXPECT_TRUE(lines[histogramLine + 2].startsWith("99.9% value: "));
    EXPECT_EQ(lines[histogramLine + 3], "Loading done.");

    // The next dialog starts where the last file was chosen; cancelling it opens nothing.
    const int windowsBefore = window->documentArea()->subWindowList().size();
    answer.clear();
    window->loadImage();
    EXPECT_EQ(askedDirectory, folder);
    EXPECT_EQ(window->documentArea()->subWindowList().size(), windowsBefore);
}

TEST_F(OpenSaveTest, AFailedOpenNamesTheFileAndTheReasonInTheLogAndTheStatusBar)
{
    ASSERT_TRUE(testsupport::writeBytes("frames/garbage.fits", QByteArray(2880, 'x')));
    ASSERT_TRUE(testsupport::writeDng("frames/damaged.cr2",
                                      testsupport::dngImage(64, 48, testsupport::DngLayout::LinearRgb)));
    QFile damaged("frames/damaged.cr2");
    ASSERT_TRUE(damaged.resize(damaged.size() / 2));
    ASSERT_TRUE(testsupport::writeBytes(
        "frames/line.fits", testsupport::fitsHeaderBlock({"SIMPLE = T", "BITPIX = 16", "NAXIS = 1", "NAXIS1 = 10"})
                                + QByteArray(2880, '\0')));
    const int windowsBefore = window->documentArea()->subWindowList().size();
    const struct {
        const char *file;
        const char *reason;
    } cases[] = {{"absent.fits", "no such file"},
                 {"damaged.cr2", "camera RAW file"},
                 {"line.fits", "a FITS file of a kind the program does not support"},
                 {"garbage.fits", "damaged or not a FITS file"}};
    for (const auto &c : cases) {
        answer = QDir::current().filePath(QString("frames/") + c.file);
        window->loadImage();
        const QString cannot = QStringLiteral("Cannot open %1: ").arg(QLatin1String(c.file));
        const QStringList lines = consoleLines(*window);
        EXPECT_EQ(lines.at(lines.size() - 2), "An error occoured while opening the image.") << c.file;
        EXPECT_TRUE(lines.last().startsWith(cannot) && lines.last().contains(QLatin1String(c.reason)))
            << lines.last().toStdString();
        EXPECT_TRUE(status().startsWith("Error: " + cannot)) << status().toStdString();
    }
    EXPECT_EQ(window->documentArea()->subWindowList().size(), windowsBefore);
}

TEST_F(OpenSaveTest, SavingWritesFitsThatLoadsBackIdenticallyOrAJpgAndNeverOverwrites)
{
    ASSERT_NE(openFrame("source.fits"), nullptr);
    EXPECT_TRUE(save("frames/saved.FITS").contains("File written."));
    EXPECT_FALSE(window->lockActive);
    const QString target = answer;
    ImageLoader loader;
    auto reloaded = loader.loadFile(target, false);
    ASSERT_NE(reloaded, nullptr);
    EXPECT_EQ(reloaded->whiteLevel, 1.0f);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 20; ++x)
            ASSERT_EQ(reloaded->getPixel(x, y).g, 100.0f * x + y);
    save("frames/preview.jpg");
    EXPECT_EQ(QImage(answer).size(), QSize(20, 10)) << "the preview as shown";

    // The FITS and the JPEG writer refuse alike; the designed line stays, the reason follows.
    const qint64 sizeBefore = QFileInfo(target).size();
    ASSERT_TRUE(QFile::link("elsewhere.jpg", "frames/link.jpg"));
    const int writtenBefore = consoleLines(*window).count("File written.");
    QStringList lines = save("frames/saved.FITS");
    EXPECT_EQ(lines.at(lines.size() - 2), "Could not create FITS file (may be it already exists?), error 105");
    EXPECT_EQ(lines.last(),
              QStringLiteral("cannot write '%1': it exists already; it is never overwritten").arg(answer));
    lines = save("frames/link.jpg");
    EXPECT_TRUE(lines.last().startsWith(QStringLiteral("cannot write '%1': a symbolic link").arg(answer)));
    EXPECT_EQ(consoleLines(*window).count("File written."), writtenBefore);
    EXPECT_EQ(QFileInfo(target).size(), sizeBefore);
    EXPECT_FALSE(QFileInfo::exists("frames/elsewhere.jpg"));
}

TEST_F(OpenSaveTest, ANameWithoutAWritableExtensionWritesNothingAndSaysWhy)
{
    ASSERT_NE(openFrame("unsaved.fits"), nullptr);
    const struct {
        const char *name;
        const char *reason;
    } cases[] = {{"frames/unsaved.dat", "the program cannot write .dat files"},
                 {"frames/unsaved", "the name has no extension"}};
    for (const auto &c : cases) {
        const QString last = save(c.name).last();
        EXPECT_EQ(offeredFilter, "FITS (*.fit *.fts *.fits)");
        EXPECT_FALSE(QFile::exists(answer)) << c.name;
        const QString line = QStringLiteral("Not saved: %1 (%2). End the name in .fit, .fts, .fits or .jpg.")
                                 .arg(QLatin1String(c.reason), answer);
        EXPECT_EQ(last, line);
        EXPECT_EQ(status(), "Error: " + line);
        EXPECT_FALSE(window->lockActive);
    }
}

TEST_F(OpenSaveTest, AutomaticStretchOfARawScaledImageUsesNormalisedPoints)
{
    mdiImage *image = openFrame("stretch.fits");
    ASSERT_NE(image, nullptr);
    window->viewCorrectionPanel()->cbAuto->setChecked(true);
    window->viewCorrectionPanel()->dsbAuto->setValue(0.01);
    window->viewCorrectionPanel()->pbUpdate->click();

    const QStringList lines = consoleLines(*window);
    const int minimumLine = lines.lastIndexOf(QRegularExpression("Minimum value: .*"));
    ASSERT_GE(minimumLine, 0) << lines.join('\n').toStdString();
    const float black = lines[minimumLine].mid(15).toFloat();
    const float white = lines[minimumLine + 1].mid(15).toFloat();
    EXPECT_GT(white, 1.0f) << "logged in the image's own units";
    // The log shows six significant digits.
    EXPECT_NEAR(image->vcBlack[0], black / 65536.0f, 1e-5 * black / 65536.0f);
    EXPECT_NEAR(image->vcWhite[2], white / 65536.0f, 1e-5 * white / 65536.0f);
    EXPECT_EQ(image->vcGamma[1], 1.0f);
    EXPECT_TRUE(lines.contains("Updated view correction"));
    EXPECT_TRUE(lines.last().startsWith("[DEBUG] Update took "));
}

TEST_F(OpenSaveTest, StretchByHandAppliesThePanelValues)
{
    window->updateVC();
    EXPECT_EQ(consoleLines(*window).last(), "Nothing to update!");
    mdiImage *image = openFrame("hand.fits");
    ASSERT_NE(image, nullptr);
    image->buffer = std::make_unique<ImageBuffer>(1, 1);
    image->buffer->pixel(0, 0)[0] = image->buffer->pixel(0, 0)[1] = image->buffer->pixel(0, 0)[2] = 0.3f;
    wndViewCorrection *panel = window->viewCorrectionPanel();
    panel->cbAuto->setChecked(false);
    for (QDoubleSpinBox *box : {panel->dsMinR, panel->dsMinG, panel->dsMinB})
        box->setValue(0.1);
    for (QDoubleSpinBox *box : {panel->dsMaxR, panel->dsMaxG, panel->dsMaxB})
        box->setValue(0.5);
    window->updateVC();
    EXPECT_EQ(qRed(image->previewImage.pixel(0, 0)), 127);
}

TEST_F(OpenSaveTest, StretchingNewWindowsIsOffByDefaultAndOnUsesThePanelsClipValue)
{
    wndSettings dialog;
    EXPECT_EQ(dialog.cbStretchNew->text(), "Stretch new windows automatically");
    EXPECT_FALSE(dialog.cbStretchNew->isChecked());
    mdiImage *plain = window->openResultWindow(skyFrame(), "plain.fits");
    EXPECT_TRUE(plain->vcBlack[0] == 0.0f && plain->vcWhite[0] == 1.0f) << "opening stays as it was";
    EXPECT_EQ(qRed(plain->previewImage.pixel(0, 0)), 2) << "trunc(0.010 x 255): nearly black";

    dialog.cbStretchNew->setChecked(true);
    dialog.pbOK->click();
    ASSERT_TRUE(settingsfile::stretchNewWindows());
    window->viewCorrectionPanel()->dsbAuto->setValue(0.05);
    auto frame = skyFrame();
    const StretchPoints expected = normalisedStretch(autoStretchPoints(*frame, 0.05f), frame->whiteLevel);
    mdiImage *stretched = window->openResultWindow(std::move(frame), "stretched.fits");
    EXPECT_FLOAT_EQ(stretched->vcBlack[1], expected.black);
    EXPECT_FLOAT_EQ(stretched->vcWhite[2], expected.white);
    EXPECT_GT(qGreen(stretched->previewImage.pixel(2, 0)), 64) << "the sky is no longer black";

    // The panel's auto box is remembered from one run to the next.
    window->viewCorrectionPanel()->cbAuto->setChecked(true);
    window.reset();
    window = std::make_unique<Verdanix>();
    EXPECT_TRUE(window->viewCorrectionPanel()->cbAuto->isChecked());
    window->viewCorrectionPanel()->cbAuto->setChecked(false);
    window.reset();
    window = std::make_unique<Verdanix>();
    EXPECT_FALSE(window->viewCorrectionPanel()->cbAuto->isChecked());
}

TEST_F(OpenSaveTest, PreviewCopiesTheSelectionAndIsNeverTheTarget)
{
    mdiImage *image = openFrame("sel.fits");
    ASSERT_NE(image, nullptr);
    image->selection = SelectionRect{4, 2, 6, 3, 1};
    mdiImage *preview = window->makePreviewWindow();
    ASSERT_NE(preview, nullptr);
    EXPECT_TRUE(preview->isPreview);
    EXPECT_EQ(preview->windowTitle(), "Preview");
    EXPECT_TRUE(preview->buffer->width == 6 && preview->buffer->height == 3);
    EXPECT_EQ(preview->buffer->getPixel(0, 0).r, 402.0f);
    EXPECT_EQ(preview->buffer->whiteLevel, 65536.0f);
    EXPECT_EQ(window->viewTarget, image);
    window->documentArea()->setActiveSubWindow(qobject_cast<QMdiSubWindow *>(preview->parentWidget()));
    EXPECT_EQ(window->lockImage().get(), image);

    image->selection.width = -1;
    mdiImage *whole = window->makePreviewWindow();
    ASSERT_NE(whole, nullptr);
    EXPECT_EQ(whole->buffer->width, 640);
    EXPECT_EQ(whole->buffer->getPixel(2, 1).r, 402.0f) << "half scale: every second pixel";
}
