#include "app/filedialogs.h"
#include "app/verdanix.h"
#include "console/outputwindow.h"
#include "image/imageloader.h"
#include "platform/settingsfile.h"
#include "support/guihelpers.h"
#include "support/fitsfixture.h"
#include "view/mdiimage.h"
#include "view/wndviewcorrection.h"

#include <QCheckBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileInfo>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QRegularExpression>
#include <QTextEdit>

#include <gtest/gtest.h>

using testsupport::consoleLines;

namespace {

QString answer;
QString askedDirectory;
int questionsAsked = 0;

QString scriptedDialog(QWidget *, const QString &, const QString &directory, const QString &)
{
    ++questionsAsked;
    askedDirectory = directory;
    return answer;
}

class OpenSaveTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        filedialogs::askOpenFileName = scriptedDialog;
        filedialogs::askSaveFileName = scriptedDialog;
        answer.clear();
        questionsAsked = 0;
        QDir().mkpath(QStringLiteral("frames"));
        window = testsupport::startMainWindow();
    }
    void TearDown() override { window.reset(); }

    // A 16-bit 20 x 10 grey FITS file whose pixel (x, y) holds 100 * x + y.
    QString writeFrame(const QString &name)
    {
        testsupport::FitsImage image;
        image.bitpix = 16;
        image.axes = {20, 10};
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 20; ++x)
                image.values.push_back(100.0 * x + y);
        const QString path = QDir::current().filePath(QStringLiteral("frames/") + name);
        QFile::remove(path);
        EXPECT_EQ(testsupport::writeFitsFile(path, image), 0);
        return path;
    }

    mdiImage *openFrame(const QString &path)
    {
        answer = path;
        window->loadImage();
        return window->newestWindow;
    }

    std::unique_ptr<Verdanix> window;
};

} // namespace

TEST_F(OpenSaveTest, OpeningShowsTheImageLogsItsClipPointsAndRemembersTheFolder)
{
    const QString path = writeFrame(QStringLiteral("M42.fits"));
    mdiImage *image = openFrame(path);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->windowTitle(), QStringLiteral("M42.fits"));
    EXPECT_EQ(image->buffer->width, 20);
    EXPECT_EQ(image->buffer->height, 10);
    EXPECT_EQ(image->buffer->whiteLevel, 65536.0f);
    EXPECT_EQ(window->viewTarget, image);
    EXPECT_EQ(settingsfile::fileOpenPath(), QFileInfo(path).absolutePath());

    const QStringList lines = consoleLines(*window);
    const int histogramLine = lines.indexOf(QStringLiteral("Calculating histogram..."));
    ASSERT_GE(histogramLine, 0);
    EXPECT_TRUE(lines[histogramLine + 1].startsWith(QStringLiteral(" 0.1% value: ")));
    EXPECT_TRUE(lines[histogramLine + 2].startsWith(QStringLiteral("99.9% value: ")));
    EXPECT_EQ(lines[histogramLine + 3], QStringLiteral("Loading done."));

    // The next dialog starts where the last file was chosen.
    answer.clear();
    window->loadImage();
    EXPECT_EQ(askedDirectory, QFileInfo(path).absolutePath());
}

TEST_F(OpenSaveTest, CancellingOrFailingToOpenLeavesTheWindowsAsTheyWere)
{
    const int windowsBefore = window->documentArea()->subWindowList().size();
    answer.clear();
    window->loadImage();
    EXPECT_FALSE(QFile::exists(QString::fromLatin1(settingsfile::kFileName)) && !settingsfile::fileOpenPath().isEmpty());

    QFile garbage(QStringLiteral("frames/broken.fits"));
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
    garbage.write("SIMPLE  = not really a FITS file");
    garbage.close();
    answer = QFileInfo(garbage).absoluteFilePath();
    window->loadImage();
    EXPECT_EQ(window->documentArea()->subWindowList().size(), windowsBefore);
    EXPECT_EQ(consoleLines(*window).last(), QStringLiteral("An error occoured while opening the image."));
}

TEST_F(OpenSaveTest, SavingWritesAFitsFileThatLoadsBackIdenticallyAndNeverOverwrites)
{
    mdiImage *image = openFrame(writeFrame(QStringLiteral("source.fits")));
    ASSERT_NE(image, nullptr);
    const QString target = QDir::current().filePath(QStringLiteral("frames/saved.FITS"));
    answer = target;
    window->saveImage();
    EXPECT_TRUE(consoleLines(*window).contains(QStringLiteral("File written.")));
    EXPECT_FALSE(window->lockActive);

    ImageLoader loader;
    auto reloaded = loader.loadFile(target, false);
    ASSERT_NE(reloaded, nullptr);
    EXPECT_EQ(reloaded->whiteLevel, 1.0f);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 20; ++x)
            ASSERT_EQ(reloaded->getPixel(x, y).g, 100.0f * x + y);

    const qint64 sizeBefore = QFileInfo(target).size();
    const int writtenBefore = consoleLines(*window).count(QStringLiteral("File written."));
    window->saveImage();
    EXPECT_EQ(consoleLines(*window).count(QStringLiteral("File written.")), writtenBefore);
    EXPECT_EQ(QFileInfo(target).size(), sizeBefore);
    EXPECT_TRUE(consoleLines(*window).last().contains(QStringLiteral("105")));
}

TEST_F(OpenSaveTest, SavingAsJpgWritesThePreviewAsShown)
{
    mdiImage *image = openFrame(writeFrame(QStringLiteral("preview.fits")));
    ASSERT_NE(image, nullptr);
    const QString target = QDir::current().filePath(QStringLiteral("frames/preview.jpg"));
    answer = target;
    window->saveImage();
    ASSERT_TRUE(QFile::exists(target));
    QImage written(target);
    EXPECT_EQ(written.size(), QSize(20, 10));

    // A name that is neither FITS nor JPG writes nothing.
    answer = QDir::current().filePath(QStringLiteral("frames/preview.dat"));
    window->saveImage();
    EXPECT_FALSE(QFile::exists(answer));
}

TEST_F(OpenSaveTest, AutomaticStretchOfARawScaledImageUsesNormalisedPoints)
{
    mdiImage *image = openFrame(writeFrame(QStringLiteral("stretch.fits")));
    ASSERT_NE(image, nullptr);
    window->viewCorrectionPanel()->cbAuto->setChecked(true);
    window->viewCorrectionPanel()->dsbAuto->setValue(0.01);
    window->viewCorrectionPanel()->pbUpdate->click();

    const QStringList lines = consoleLines(*window);
    int minimumLine = -1;
    for (int i = 0; i < lines.size(); ++i)
        if (lines[i].startsWith(QStringLiteral("Minimum value: ")))
            minimumLine = i;
    ASSERT_GE(minimumLine, 0) << lines.join('\n').toStdString();
    const float black = lines[minimumLine].mid(15).toFloat();
    const float white = lines[minimumLine + 1].mid(15).toFloat();
    EXPECT_GT(white, 1.0f) << "logged in the image's own units";
    // The log shows six significant digits.
    EXPECT_NEAR(image->vcBlack[0], black / 65536.0f, 1e-5 * black / 65536.0f);
    EXPECT_NEAR(image->vcWhite[2], white / 65536.0f, 1e-5 * white / 65536.0f);
    EXPECT_EQ(image->vcGamma[1], 1.0f);
    EXPECT_TRUE(lines.contains(QStringLiteral("Updated view correction")));
    EXPECT_TRUE(lines.last().startsWith(QStringLiteral("[DEBUG] Update took ")));
}

TEST_F(OpenSaveTest, StretchByHandAppliesThePanelValues)
{
    mdiImage *image = openFrame(writeFrame(QStringLiteral("hand.fits")));
    ASSERT_NE(image, nullptr);
    auto grey = std::make_unique<ImageBuffer>(1, 1);
    grey->pixel(0, 0)[0] = grey->pixel(0, 0)[1] = grey->pixel(0, 0)[2] = 0.3f;
    image->buffer = std::move(grey);
    wndViewCorrection *panel = window->viewCorrectionPanel();
    panel->cbAuto->setChecked(false);
    for (QDoubleSpinBox *box : {panel->dsMinR, panel->dsMinG, panel->dsMinB})
        box->setValue(0.1);
    for (QDoubleSpinBox *box : {panel->dsMaxR, panel->dsMaxG, panel->dsMaxB})
        box->setValue(0.5);
    window->updateVC();
    EXPECT_EQ(qRed(image->previewImage.pixel(0, 0)), 127);
}

TEST_F(OpenSaveTest, UpdatingWithoutAnImageSaysSo)
{
    window->updateVC();
    EXPECT_EQ(consoleLines(*window).last(), QStringLiteral("Nothing to update!"));
}

TEST_F(OpenSaveTest, PreviewCopiesTheSelectionAndIsNeverTheTarget)
{
    mdiImage *image = openFrame(writeFrame(QStringLiteral("sel.fits")));
    ASSERT_NE(image, nullptr);
    image->selection = SelectionRect{4, 2, 6, 3, 1};
    mdiImage *preview = window->makePreviewWindow();
    ASSERT_NE(preview, nullptr);
    EXPECT_TRUE(preview->isPreview);
    EXPECT_EQ(preview->windowTitle(), QStringLiteral("Preview"));
    EXPECT_EQ(preview->buffer->width, 6);
    EXPECT_EQ(preview->buffer->height, 3);
    EXPECT_EQ(preview->buffer->getPixel(0, 0).r, 402.0f);
    EXPECT_EQ(preview->buffer->whiteLevel, 65536.0f);
    EXPECT_EQ(window->viewTarget, image);

    window->documentArea()->setActiveSubWindow(qobject_cast<QMdiSubWindow *>(preview->parentWidget()));
    EXPECT_EQ(window->lockImage(), image);
    window->releaseImage();

    image->selection.width = -1;
    mdiImage *whole = window->makePreviewWindow();
    ASSERT_NE(whole, nullptr);
    EXPECT_EQ(whole->buffer->width, 640);
    EXPECT_EQ(whole->buffer->getPixel(2, 1).r, 402.0f) << "half scale: every second pixel";
}
