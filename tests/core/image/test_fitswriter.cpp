#include "image/fitswriter.h"
#include "imagetests.h"
#include "platform/newfile.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <limits>

namespace {
// BITPIX, NAXIS1 ... 3, whether BSCALE or BZERO is present, then the samples, read with
// cfitsio alone; empty on failure.
std::vector<double> readWithCfitsio(const QString &path)
{
    fitsfile *file = nullptr;
    int status = 0, bitpix = 0, noBscale = 0, noBzero = 0; // KEY_NO_EXIST when absent
    long axes[3] = {0, 0, 0};
    char value[FLEN_VALUE], comment[FLEN_COMMENT];
    if (ffdkopn(&file, QFile::encodeName(path).constData(), READONLY, &status) != 0)
        return {};
    ffgidt(file, &bitpix, &status);
    ffgisz(file, 3, axes, &status);
    ffgkey(file, "BSCALE", value, comment, &noBscale);
    ffgkey(file, "BZERO", value, comment, &noBzero);
    std::vector<double> contents{double(bitpix), double(axes[0]), double(axes[1]), double(axes[2]),
                                 double(noBscale == 0 || noBzero == 0)};
    std::vector<float> samples(static_cast<std::size_t>(axes[0] * axes[1] * axes[2]));
    long first[3] = {1, 1, 1};
    ffgpxv(file, TFLOAT, first, static_cast<long>(samples.size()), nullptr, samples.data(), nullptr, &status);
    ffclos(file, &status);
    contents.insert(contents.end(), samples.begin(), samples.end());
    return status == 0 ? contents : std::vector<double>{};
}

// Sample (x, y, c) = seed + 100 c + y width + x, so that every float tells where it came from.
std::unique_ptr<ImageBuffer> numberedImage(int width, int height, float seed = 0.0f)
{
    auto buffer = std::make_unique<ImageBuffer>(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 4; ++c)
                buffer->pixel(x, y)[c] = c == 3 ? 1.0f : seed + static_cast<float>(c * 100 + y * width + x);
    return buffer;
}

class FitsWriter : public ::testing::Test {
protected:
    void SetUp() override { QDir::setCurrent(dir.path()); }
    void TearDown() override { QDir::setCurrent(previousDir); }
    QString path(const QString &name) const { return dir.filePath(name); }
    QStringList entries() const
    {
        return QDir(dir.path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    }
    const QString previousDir = QDir::currentPath();
    QTemporaryDir dir;
    testsupport::CapturingLog log;
};
} // namespace

TEST_F(FitsWriter, WritesPlanesRowByRowAsUnscaledFloatsThatLoadBackIdenticalAndMissingMemoryIsAStatus)
{
    auto buffer = numberedImage(3, 2, 0.125f);
    buffer->pixel(1, 0)[1] = std::numeric_limits<float>::quiet_NaN();
    buffer->pixel(2, 1)[2] = -1e30f;
    const QString name = QStringLiteral("M\u00e4dchen \u00f1.fits"), file = path(name);
    ASSERT_EQ(saveFitsImage(*buffer, file, log), 0);
    EXPECT_EQ(log.lines(), (QStringList{QStringLiteral("Saving FITS file ") + file, QStringLiteral("Preparing..."),
                                        QStringLiteral("Done, writing file..."), QStringLiteral("File written.")}));
    // BITPIX, NAXIS1 ... 3, BSCALE or BZERO present, then red 0 ... 5, green (NaN as 0), blue.
    EXPECT_EQ(readWithCfitsio(file),
              (std::vector<double>{-32,     3,       2,       3,       0,       0.125,   1.125,         2.125,
                                   3.125,   4.125,   5.125,   100.125, 0,       102.125, 103.125,       104.125,
                                   105.125, 200.125, 201.125, 202.125, 203.125, 204.125, double(-1e30f)}));
    buffer->pixel(1, 0)[1] = 0.0f;
    EXPECT_TRUE(sameImage(loadInto(file).get(), buffer.get())) << "normalised, so loaded as written";
    // Missing memory or pixels is a status, not a crash, and leaves no file.
    ImageBuffer huge(1, 1);
    huge.width = huge.height = INT_MAX;
    EXPECT_EQ(saveFitsImage(huge, path(QStringLiteral("huge.fits")), log), kNotEnoughMemory);
    EXPECT_TRUE(log.lines().last().startsWith(QStringLiteral("Saving failed: Not enough memory"))
                && log.lines().last().contains(QStringLiteral("1103")));
    EXPECT_TRUE(fitsStatusText(213).startsWith(QStringLiteral("Saving failed: Unknown error 213")));
    EXPECT_EQ(saveFitsImage(ImageBuffer(0, 0), path(QStringLiteral("empty.fits")), log), kFitsNothingToWrite);
    EXPECT_EQ(entries(), QStringList{name});
    if (!QFile::exists(QStringLiteral("/usr/bin/fitsverify")))
        GTEST_SKIP() << "fitsverify is not installed";
    QProcess verify;
    verify.start(QStringLiteral("/usr/bin/fitsverify"), {file});
    ASSERT_TRUE(verify.waitForFinished(60000));
    EXPECT_TRUE(verify.readAll().contains("Verification found 0 warning(s) and 0 error(s)"));
}

TEST_F(FitsWriter, AWriteThatFailsPartWayLeavesNoFileBehindAndNoExistingFileIsEverReplacedWhateverTheNameSays)
{
    // The file size limit fails the write part-way, as a full disk would. On file systems without
    // unnamed files the bytes go to a named scratch file: that one must go as well.
    for (const bool unnamed : {true, false}) {
        setUnnamedFilesAllowed(unnamed);
        rlimit previous{};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit small{16 * 1024, previous.rlim_max};
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        const int status = saveFitsImage(*numberedImage(128, 128), path(QStringLiteral("partial.fits")), log);
        setrlimit(RLIMIT_FSIZE, &previous);
        std::signal(SIGXFSZ, previousHandler);
        setUnnamedFilesAllowed(true);
        EXPECT_EQ(status, kFitsWriteError);
        EXPECT_EQ(log.lines().at(log.lines().size() - 2),
                  QStringLiteral("Saving failed: error writing to FITS file, error 106"));
        EXPECT_EQ(log.lines().last(), QStringLiteral("cannot write '%1': file too large").arg(path("partial.fits")));
        EXPECT_EQ(entries(), QStringList{});
    }
    ASSERT_TRUE(writeBytes(path(QStringLiteral("x.fits")), "the user's file"));
    ASSERT_TRUE(QFile::link(path(QStringLiteral("nowhere.fits")), path(QStringLiteral("link.fits"))));
    const std::pair<const char *, const char *> refused[] = {
        {"x.fits", "it exists already"}, {"link.fits", "a symbolic link of that name exists"},
        {".", "it exists already"},      {"no/such/folder.fits", "the folder '"},
        {"mem://m.fits", "the folder '"}};
    for (const auto &[name, why] : refused) {
        EXPECT_EQ(saveFitsImage(*numberedImage(2, 2), QString::fromLatin1(name), log), kFitsFileNotCreated);
        // The designed line stays; the reason follows it in words.
        EXPECT_EQ(log.lines().at(log.lines().size() - 2),
                  QStringLiteral("Could not create FITS file (may be it already exists?), error 105"))
            << name;
        const QString reason = log.lines().last();
        EXPECT_TRUE(reason.startsWith(QStringLiteral("cannot write '%1': ").arg(QLatin1String(name)))
                    && reason.contains(QLatin1String(why)))
            << reason.toStdString();
    }
    // cfitsio would read "!" as "overwrite" and "[1]" as an extension.
    EXPECT_EQ(saveFitsImage(*numberedImage(2, 2), QStringLiteral("!x.fits"), log), 0);
    EXPECT_EQ(saveFitsImage(*numberedImage(2, 2), QStringLiteral("x.fits[1]"), log), 0);
    EXPECT_EQ(readAll(path(QStringLiteral("x.fits"))), "the user's file");
    EXPECT_EQ(readWithCfitsio(path(QStringLiteral("x.fits[1]"))).size(), 5u + 12u);
    EXPECT_EQ(entries(), (QStringList{QStringLiteral("!x.fits"), QStringLiteral("link.fits"), QStringLiteral("x.fits"),
                                      QStringLiteral("x.fits[1]")}));
}

// A writer killed at any moment leaves the whole file or nothing: never an empty file under
// the name, never a scratch file beside it, so the next run is not refused. SIGKILL cannot be
// handled; a named scratch file (no unnamed files) is removed by the handler of SIGTERM.
TEST_F(FitsWriter, AWriterKilledAtAnyMomentLeavesTheWholeFileOrNothing)
{
    const auto image = numberedImage(1500, 1000);
    // -1: the moment a named scratch file is seen, which a busy machine may never hit by delay.
    for (const int signal : {SIGKILL, SIGTERM}) {
        for (const int delayMicroseconds : {0, 2000, 8000, 30000, -1}) {
            if (delayMicroseconds < 0 && signal == SIGKILL)
                continue;
            const QString name = path(QStringLiteral("killed.fits"));
            const pid_t child = ::fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                removeScratchFilesOnEndingSignals();
                setUnnamedFilesAllowed(signal == SIGKILL);
                testsupport::CapturingLog quiet;
                for (;;) {
                    saveFitsImage(*image, name, quiet);
                    QFile::remove(name);
                }
            }
            ::usleep(static_cast<useconds_t>(std::max(delayMicroseconds, 0)));
            for (int wait = 0; delayMicroseconds < 0 && wait++ < 10000 && entries().filter(".verdanix-").isEmpty();)
                ::usleep(1000);
            ::kill(child, signal);
            int status = 0;
            ::waitpid(child, &status, 0);
            const QStringList left = entries();
            EXPECT_TRUE(left.isEmpty()
                        || (left == QStringList{QStringLiteral("killed.fits")}
                            && readWithCfitsio(name).size() == 5u + 1500u * 1000u * 3u))
                << left.join(QLatin1Char(' ')).toStdString() << " after signal " << signal << ", delay "
                << delayMicroseconds << " us, status " << status;
            QFile::remove(name);
        }
    }
}
