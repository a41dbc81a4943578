#include "app/filedialogs.h"
#include "app/verdanix.h"
#include "console/outputwindow.h"
#include "image/imageloader.h"
#include "platform/settingsfile.h"
#include "support/guihelpers.h"
#include "support/dngwriter.h"
#include "support/fitsfixture.h"
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
#include <QTextEdit>

#include <gtest/gtest.h>

#include <sys/stat.h>

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

QString offeredFilter;
QString scriptedSaveDialog(QWidget *parent, const QString &caption, const QString &directory, const QString &filter,
                           const QString &selectedFilter)
{
    offeredFilter = selectedFilter;
    return scriptedDialog(parent, caption, directory, filter);
}

class OpenSaveTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        filedialogs::askOpenFileName = scriptedDialog;
        filedialogs::askSaveFileName = scriptedSaveDialog;
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
    EXPECT_EQ(consoleLines(*window).at(consoleLines(*window).size() - 2),
              QStringLiteral("An error occoured while opening the image."));
}

TEST_F(OpenSaveTest, AFailedOpenNamesTheFileAndTheReasonInTheLogAndTheStatusBar)
{
    ASSERT_TRUE(testsupport::writeBytes(QStringLiteral("frames/garbage.fits"), QByteArray(2880, 'x')));
    ASSERT_TRUE(testsupport::writeDng(QStringLiteral("frames/damaged.cr2"),
                                      testsupport::dngImage(64, 48, testsupport::DngLayout::LinearRgb)));
    QFile damaged(QStringLiteral("frames/damaged.cr2"));
    ASSERT_TRUE(damaged.open(QIODevice::ReadWrite));
    damaged.resize(damaged.size() / 2);
    damaged.close();
    QByteArray oneAxis = testsupport::fitsHeaderBlock({"SIMPLE = T", "BITPIX = 16", "NAXIS = 1", "NAXIS1 = 10"});
    ASSERT_TRUE(testsupport::writeBytes(QStringLiteral("frames/line.fits"), oneAxis + QByteArray(2880, '\0')));

    // A folder or a pipe is refused before anything reads it: a pipe would wait for a writer.
    ASSERT_TRUE(QDir().mkpath(QStringLiteral("frames/folder.fits")));
    ASSERT_EQ(::mkfifo("frames/pipe.fits", 0600), 0);
    const struct {
        const char *file;
        const char *reason;
    } cases[] = {{"absent.fits", "no such file"},
                 {"folder.fits", "it is a folder, not a file"},
                 {"pipe.fits", "it is a pipe, not a file"},
                 {"damaged.cr2", "camera RAW file"},
                 {"line.fits", "a FITS file of a kind the program does not support"},
                 {"garbage.fits", "damaged or not a FITS file"}};
    auto *status = window->findChild<QLabel *>(QStringLiteral("statusLabel"));
    for (const auto &c : cases) {
        answer = QDir::current().filePath(QStringLiteral("frames/") + QLatin1String(c.file));
        window->loadImage();
        const QString cannot = QStringLiteral("Cannot open %1: ").arg(QLatin1String(c.file));
        const QStringList lines = consoleLines(*window);
        EXPECT_EQ(lines.at(lines.size() - 2), QStringLiteral("An error occoured while opening the image.")) << c.file;
        EXPECT_TRUE(lines.last().startsWith(cannot) && lines.last().contains(QLatin1String(c.reason)))
            << lines.last().toStdString();
        EXPECT_TRUE(status->text().startsWith(QStringLiteral("Error: ") + cannot)) << status->text().toStdString();
    }
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

    // The FITS and the JPEG writer refuse alike: a name that exists, a symbolic link (never
    // written through), a folder that does not exist. The designed line stays; the reason
    // follows it in words.
    const qint64 sizeBefore = QFileInfo(target).size();
    ASSERT_TRUE(QFile::link(QStringLiteral("elsewhere.fits"), QStringLiteral("frames/link.fits")));
    ASSERT_TRUE(QFile::link(QStringLiteral("elsewhere.jpg"), QStringLiteral("frames/link.jpg")));
    const struct {
        const char *name;
        const char *designedLine; // empty for the JPEG, whose failure is one red line
        const char *reason;
    } refused[] = {{"frames/saved.FITS", "Could not create FITS file (may be it already exists?), error 105",
                    "it exists already"},
                   {"frames/link.fits", "Could not create FITS file (may be it already exists?), error 105",
                    "a symbolic link of that name exists"},
                   {"no/folder.fits", "Could not create FITS file (may be it already exists?), error 105",
                    "the folder '"},
                   {"frames/link.jpg", "", "a symbolic link of that name exists"},
                   {"no/folder.jpg", "", "the folder '"}};
    const int writtenBefore = consoleLines(*window).count(QStringLiteral("File written."));
    for (const auto &r : refused) {
        answer = QDir::current().filePath(QLatin1String(r.name));
        window->saveImage();
        const QStringList lines = consoleLines(*window);
        if (r.designedLine[0] != '\0') {
            EXPECT_EQ(lines.at(lines.size() - 2), QLatin1String(r.designedLine)) << r.name;
        }
        EXPECT_TRUE(lines.last().startsWith(QStringLiteral("cannot write '%1': ").arg(answer)))
            << lines.last().toStdString();
        EXPECT_TRUE(lines.last().contains(QLatin1String(r.reason))) << lines.last().toStdString();
    }
    EXPECT_EQ(consoleLines(*window).count(QStringLiteral("File written.")), writtenBefore);
    EXPECT_EQ(QFileInfo(target).size(), sizeBefore);
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("frames/elsewhere.fits"))
                 || QFileInfo::exists(QStringLiteral("frames/elsewhere.jpg")));
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

}

TEST_F(OpenSaveTest, ANameWithoutAWritableExtensionWritesNothingAndSaysWhy)
{
    ASSERT_NE(openFrame(writeFrame(QStringLiteral("unsaved.fits"))), nullptr);
    auto *status = window->findChild<QLabel *>(QStringLiteral("statusLabel"));
    const struct {
        const char *name;
        const char *reason;
    } cases[] = {{"frames/unsaved.dat", "the program cannot write .dat files"},
                 {"frames/unsaved", "the name has no extension"}};
    for (const auto &c : cases) {
        answer = QDir::current().filePath(QLatin1String(c.name));
        window->saveImage();
        EXPECT_EQ(offeredFilter, QStringLiteral("FITS (*.fit *.fts *.fits)"));
        EXPECT_FALSE(QFile::exists(answer)) << c.name;
        const QString line = QStringLiteral("Not saved: %1 (%2). End the name in .fit, .fts, .fits or .jpg.")
                                 .arg(QLatin1String(c.reason), answer);
        EXPECT_EQ(consoleLines(*window).last(), line);
        EXPECT_EQ(status->text(), QStringLiteral("Error: ") + line);
        EXPECT_FALSE(window->lockActive);
    }
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
