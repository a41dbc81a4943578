// Opening and saving images, and the view correction (stretch) applied to what is shown.
#include "app/filedialogs.h"
#include "calib/wndsettings.h"
#include "gui/guitest.h"
#include "image/autostretch.h"
#include "image/imageloader.h"
#include "support/dngwriter.h"
#include "support/fitsfixture.h"
#include "view/wndviewcorrection.h"

namespace {

QString answer, askedDirectory, offeredFilter;

class OpenSaveTest : public MainWindowTest {
protected:
    void SetUp() override
    {
        filedialogs::askOpenFileName = [](QWidget *, const QString &, const QString &directory, const QString &) {
            askedDirectory = directory;
            return answer;
        };
        filedialogs::askSaveFileName = [](QWidget *, const QString &, const QString &, const QString &,
                                          const QString &filter) {
            offeredFilter = filter;
            return answer;
        };
        answer.clear();
        QDir().mkpath("frames");
        MainWindowTest::SetUp();
    }
    // Opens a 16-bit 20 x 10 grey FITS file whose pixel (x, y) holds 100 * x + y.
    mdiImage *openFrame(const QString &name)
    {
        answer = QDir::current().filePath(writeFrame(
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
};

} // namespace

TEST_F(OpenSaveTest, OpeningShowsTheImageLogsItsClipPointsRemembersTheFolderAndPreviewsASelection)
{
    mdiImage *image = openFrame("M42.fits");
    ASSERT_TRUE(image && window->viewTarget == image);
    EXPECT_EQ(std::make_tuple(image->windowTitle(), image->buffer->width, image->buffer->whiteLevel),
              std::make_tuple(QString("M42.fits"), 20, 65536.0f));
    const QString folder = QFileInfo(answer).absolutePath();
    EXPECT_EQ(settingsfile::fileOpenPath(), folder);
    const QRegularExpression clipPoints("Calculating histogram...\n 0.1% value: .*\n99.9% value: .*\nLoading done.");
    EXPECT_TRUE(consoleLines(*window).join('\n').contains(clipPoints));
    // The next dialog starts where the last file was chosen; cancelling it opens nothing.
    answer.clear();
    window->loadImage();
    EXPECT_TRUE(askedDirectory == folder && imageWindowCount() == 1);
    // A preview copies the selection, or the whole image at half scale, and is never the target.
    image->selection = SelectionRect{4, 2, 6, 3, 1};
    mdiImage *preview = window->makePreviewWindow();
    ASSERT_TRUE(preview && preview->isPreview && window->viewTarget == image);
    EXPECT_EQ(std::make_tuple(preview->windowTitle(), preview->buffer->width, preview->buffer->height,
                              preview->buffer->getPixel(0, 0).r, preview->buffer->whiteLevel),
              std::make_tuple(QString("Preview"), 6, 3, 402.0f, 65536.0f));
    window->documentArea()->setActiveSubWindow(frameOf(preview));
    EXPECT_EQ(window->lockImage().get(), image);
    image->selection.width = -1;
    mdiImage *whole = window->makePreviewWindow();
    EXPECT_TRUE(whole && whole->buffer->getPixel(2, 1).r == 402.0f) << "half scale: every second pixel";
}

TEST_F(OpenSaveTest, AFailedOpenNamesTheFileAndTheReasonInTheLogAndTheStatusBar)
{
    ASSERT_TRUE(writeBytes("frames/garbage.fits", QByteArray(2880, 'x')));
    ASSERT_TRUE(writeDng("frames/damaged.cr2", dngImage(64, 48, DngLayout::LinearRgb)));
    QFile damaged("frames/damaged.cr2");
    ASSERT_TRUE(damaged.resize(damaged.size() / 2));
    ASSERT_TRUE(
        writeBytes("frames/line.fits", fitsHeaderBlock({"SIMPLE = T", "BITPIX = 16", "NAXIS = 1", "NAXIS1 = 10"})
                                           + QByteArray(2880, '\0')));
    const std::pair<const char *, const char *> cases[] = {
        {"absent.fits", "no such file"},
        {"damaged.cr2", "camera RAW file"},
        {"line.fits", "a FITS file of a kind the program does not support"},
        {"garbage.fits", "damaged or not a FITS file"}};
    for (const auto &[file, reason] : cases) {
        answer = QDir::current().filePath(QString("frames/") + file);
        window->loadImage();
        const QString cannot = QStringLiteral("Cannot open %1: ").arg(QLatin1String(file));
        const QStringList lines = consoleLines(*window);
        EXPECT_EQ(lines.at(lines.size() - 2), "An error occoured while opening the image.") << file;
        EXPECT_TRUE(lines.last().startsWith(cannot) && lines.last().contains(QLatin1String(reason)))
            << lines.last().toStdString();
        EXPECT_TRUE(status().startsWith("Error: " + cannot)) << status().toStdString();
    }
    EXPECT_EQ(imageWindowCount(), 0);
}

TEST_F(OpenSaveTest, SavingWritesFitsThatLoadsBackIdenticallyOrAJpgNeverOverwritesAndNeedsAnExtension)
{
    ASSERT_NE(openFrame("source.fits"), nullptr);
    EXPECT_TRUE(save("frames/saved.FITS").contains("File written.") && !window->lockActive);
    const QString target = answer;
    auto reloaded = ImageLoader().loadFile(target, false);
    ASSERT_NE(reloaded, nullptr);
    EXPECT_EQ(std::make_pair(reloaded->whiteLevel, reloaded->getPixel(19, 7).g), std::make_pair(1.0f, 1907.0f));
    save("frames/preview.jpg");
    EXPECT_EQ(QImage(answer).size(), QSize(20, 10)) << "the preview as shown";
    // The designed line stays, the reason follows.
    const qint64 sizeBefore = QFileInfo(target).size();
    const int writtenBefore = consoleLines(*window).count("File written.");
    const QStringList lines = save("frames/saved.FITS");
    EXPECT_EQ(lines.at(lines.size() - 2), "Could not create FITS file (may be it already exists?), error 105");
    EXPECT_EQ(lines.last(),
              QStringLiteral("cannot write '%1': it exists already; it is never overwritten").arg(answer));
    EXPECT_EQ(consoleLines(*window).count("File written."), writtenBefore);
    EXPECT_EQ(QFileInfo(target).size(), sizeBefore);
    const std::pair<const char *, const char *> cases[] = {
        {"frames/unsaved.dat", "the program cannot write .dat files"}, {"frames/unsaved", "the name has no extension"}};
    for (const auto &[name, reason] : cases) {
        const QString last = save(name).last();
        EXPECT_TRUE(offeredFilter == "FITS (*.fit *.fts *.fits)" && !QFile::exists(answer) && !window->lockActive);
        const QString line = QStringLiteral("Not saved: %1 (%2). End the name in .fit, .fts, .fits or .jpg.")
                                 .arg(QLatin1String(reason), answer);
        EXPECT_TRUE(last == line && status() == "Error: " + line) << last.toStdString();
    }
}

TEST_F(OpenSaveTest, TheViewCorrectionStretchesByHandOrAutomaticallyInTheImagesOwnUnits)
{
    window->updateVC();
    EXPECT_EQ(lastLine(), "Nothing to update!");
    mdiImage *image = openFrame("stretch.fits");
    ASSERT_NE(image, nullptr);
    wndViewCorrection *panel = window->viewCorrectionPanel();
    panel->cbAuto->setChecked(true);
    panel->dsbAuto->setValue(0.01);
    panel->pbUpdate->click();
    const QStringList lines = consoleLines(*window);
    const int minimumLine = lines.lastIndexOf(QRegularExpression("Minimum value: .*"));
    ASSERT_GE(minimumLine, 0) << lines.join('\n').toStdString();
    const float white = lines[minimumLine + 1].mid(15).toFloat();
    EXPECT_GT(white, 1.0f) << "logged in the image's own units";
    EXPECT_NEAR(image->vcWhite[2], white / 65536.0f, 1e-5 * white / 65536.0f) << "six significant digits";
    EXPECT_TRUE(lines.contains("Updated view correction"));
    image->buffer = greyImage(1, 1, [](int, int) { return 0.3f; });
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
    // A sky-limited frame: everything between 0.010 and 0.012 of the white level, one star.
    const auto skyFrame = [] {
        auto buffer = greyImage(64, 48, [](int x, int y) { return 0.010f + 0.0005f * ((x + y) % 5); });
        buffer->pixel(10, 10)[0] = 1.0f;
        return buffer;
    };
    wndSettings dialog;
    const QCheckBox *stretchNew = dialog.cbStretchNew;
    ASSERT_TRUE(!stretchNew->isChecked() && stretchNew->text() == "Stretch new windows automatically");
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
    EXPECT_EQ(std::make_pair(stretched->vcBlack[1], stretched->vcWhite[2]),
              std::make_pair(expected.black, expected.white));
    EXPECT_GT(qGreen(stretched->previewImage.pixel(2, 0)), 64) << "the sky is no longer black";
}
