// Choosing a reader by extension, the log lines of a load, size queries, and the failures
// every format shares (missing files, folders).
#include "image/standardimagedecoder.h"
#include "imagetests.h"
#include "support/dngwriter.h"
#include "support/fitsfixture.h"

#include <QDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <thread>
#include <vector>

using namespace testsupport;

namespace {

struct Loaded {
    std::unique_ptr<ImageBuffer> image;
    int code = 0;
    QStringList lines;
};

Loaded loadLogged(const QString &path, bool verbose = false)
{
    CapturingLog log;
    ImageLoader loader;
    loader.log = &log;
    Loaded result;
    result.image = loader.loadFile(path, verbose);
    result.code = loader.errorCode;
    result.lines = log.lines();
    return result;
}

QSize sizeOf(ImageLoader &loader, const QString &path)
{
    int width = -1, height = -1;
    loader.querySize(path, width, height);
    return {width, height};
}

} // namespace

TEST(ImageLoader, ExtensionChoosesTheReaderWhateverItsCaseForLoadsAndSizes)
{
    for (const char *name : {"IMG_0001.CR2", "img_0001.cr2", "DSC_0001.Nef"})
        ASSERT_TRUE(writeDng(name, dngImage(64, 48, DngLayout::LinearRgb)));
    ASSERT_EQ(writeFitsFile("frame.FITS", fitsImage(16, 8, 6)), 0);
    ASSERT_EQ(writeFitsFile("frame.Fit", fitsImage(16, 8, 6, 3)), 0);
    // The white level tells the reader: 65535 developed by the RAW reader, 65536 read as FITS.
    ImageLoader loader;
    for (const auto &[name, whiteLevel, size] : {std::tuple{"IMG_0001.CR2", 65535.0f, QSize(64, 48)},
                                                 {"img_0001.cr2", 65535.0f, QSize(64, 48)},
                                                 {"DSC_0001.Nef", 65535.0f, QSize(64, 48)},
                                                 {"frame.FITS", 65536.0f, QSize(8, 6)},
                                                 {"frame.Fit", 65536.0f, QSize(8, 6)}}) {
        Loaded loaded = loadLogged(name);
        ASSERT_TRUE(loaded.image) << name;
        EXPECT_EQ(loaded.code, 0);
        EXPECT_EQ(loaded.image->whiteLevel, whiteLevel) << name;
        EXPECT_EQ(sizeOf(loader, name), size) << name;
        EXPECT_EQ(loader.errorCode, 0) << name;
    }
    // A FITS file under another name is not looked at: no reader, no line in the log.
    ASSERT_TRUE(QFile::copy("frame.FITS", "frame.dat"));
    ASSERT_TRUE(QDir().mkdir("night.fits"));
    ASSERT_TRUE(QFile::copy("frame.FITS", "night.fits/frame"));
    for (const char *name : {"frame.dat", "night.fits/frame", "frame"}) {
        Loaded loaded = loadLogged(name, true);
        EXPECT_FALSE(loaded.image) << name;
        EXPECT_EQ(loaded.code, kUnreadableExtension) << name;
        EXPECT_TRUE(loaded.lines.isEmpty()) << name;
        EXPECT_EQ(sizeOf(loader, name), QSize(0, 0)) << name;
        EXPECT_EQ(loader.errorCode, kUnreadableExtension) << name;
    }
}

TEST(ImageLoader, VerboseLoadsLogTheirProgressAndQuietOnesDoNot)
{
    ASSERT_EQ(writeFitsFile("m31.fits", fitsImage(16, 8, 6)), 0);
    ASSERT_TRUE(writeDng("m31.cr2", dngImage(64, 48, DngLayout::LinearRgb)));
    EXPECT_EQ(loadLogged("m31.fits", true).lines,
              QStringList({"Loading FITS file m31.fits", "File read, processing...", "Loading done."}));
    EXPECT_EQ(loadLogged("m31.cr2", true).lines, QStringList({"Opening RAW file m31.cr2", "Loading done."}));
    EXPECT_TRUE(loadLogged("m31.fits", false).lines.isEmpty());
    EXPECT_TRUE(loadLogged("m31.cr2", false).lines.isEmpty());
    // Band reads and size queries never write to the log.
    CapturingLog log;
    ImageLoader loader;
    loader.log = &log;
    EXPECT_TRUE(loader.loadRows("m31.fits", 0, 8, 2));
    EXPECT_FALSE(loader.loadRows("missing.fits", 0, 8, 2));
    sizeOf(loader, "m31.cr2");
    sizeOf(loader, "missing.cr2");
    EXPECT_TRUE(log.lines().isEmpty());
}

TEST(ImageLoader, MissingFilesAndWhatIsNoRegularFileFailWithOneLineUnopened)
{
    ASSERT_TRUE(QDir().mkdir("folder.fits"));
    ASSERT_TRUE(QDir().mkdir("folder.cr2"));
    // Opening a pipe would wait for a writer for ever; a device would be read without end.
    ASSERT_EQ(::mkfifo("pipe.fits", 0600), 0);
    ASSERT_TRUE(QFile::link("/dev/zero", "device.png"));
    const struct {
        const char *name;
        int code; // 0: the reader's own code
        const char *line;
    } cases[] = {{"missing.fits", 0, "Error reading FITS file."},
                 {"missing.cr2", 0, "Error loading RAW file."},
                 {"folder.fits", kNotARegularFile, "Cannot read 'folder.fits': it is a folder, not a file"},
                 {"folder.cr2", kNotARegularFile, "Cannot read 'folder.cr2': it is a folder, not a file"},
                 {"pipe.fits", kNotARegularFile, "Cannot read 'pipe.fits': it is a pipe, not a file"},
                 {"device.png", kNotARegularFile, "Cannot read 'device.png': it is a device, not a file"}};
    for (const auto &c : cases) {
        Loaded loaded = loadLogged(c.name);
        EXPECT_FALSE(loaded.image) << c.name;
        EXPECT_TRUE(loaded.code != 0 && (c.code == 0 || loaded.code == c.code)) << c.name << " " << loaded.code;
        EXPECT_EQ(loaded.lines, QStringList{c.line}) << c.name;
        ImageLoader loader;
        EXPECT_EQ(sizeOf(loader, c.name), QSize(0, 0)) << c.name;
        EXPECT_NE(loader.errorCode, 0) << c.name;
        EXPECT_FALSE(loader.loadRows(c.name, 0, 10, 10)) << c.name;
        EXPECT_NE(loader.errorCode, 0) << c.name;
    }
}

namespace {

// Every band of both files, loaded by one loader; empty entries for failed loads.
std::vector<std::unique_ptr<ImageBuffer>> loadAllBands()
{
    std::vector<std::unique_ptr<ImageBuffer>> bands;
    ImageLoader loader;
    for (int band = 0; band < 8; ++band) {
        bands.push_back(loader.loadRows("stack.fits", band * 25, 64, 25));
        bands.push_back(loader.loadRows("stack.cr2", band * 6, 64, 6));
    }
    return bands;
}

} // namespace

TEST(ImageLoader, BandsLoadedOnSeveralThreadsAtOnceMatchOneAtATime)
{
    ASSERT_EQ(writeFitsFile("stack.fits", fitsImage(-32, 64, 200, 3)), 0);
    ASSERT_TRUE(writeDng("stack.cr2", dngImage(64, 48, DngLayout::BayerRggb)));
    const auto expected = loadAllBands();
    std::vector<std::vector<std::unique_ptr<ImageBuffer>>> results(4);
    std::vector<std::thread> threads;
    for (auto &result : results)
        threads.emplace_back([&result] { result = loadAllBands(); });
    for (auto &thread : threads)
        thread.join();
    for (const auto &bands : results) {
        ASSERT_EQ(bands.size(), expected.size());
        for (size_t i = 0; i < bands.size(); ++i)
            EXPECT_TRUE(sameImage(bands[i].get(), expected[i].get())) << "band " << i;
    }
}

TEST(ImageLoader, AFitsBandReadIntoAReusedBufferEqualsAFreshOne)
{
    ASSERT_EQ(writeFitsFile("reuse.fits", fitsImage(16, 64, 200, 3)), 0);
    const auto fresh = [](int first, int rows) { return ImageLoader().loadRows("reuse.fits", first, 64, rows); };
    ImageLoader loader;
    loader.reusableBuffer = loader.loadRows("reuse.fits", 0, 64, 25);
    ASSERT_TRUE(loader.reusableBuffer);
    loader.reusableBuffer->whiteLevel = 1.0f; // as a stack leaves it after normalising
    const float *storage = loader.reusableBuffer->data.get();
    auto reused = loader.loadRows("reuse.fits", 25, 64, 25);
    EXPECT_FALSE(loader.reusableBuffer);
    ASSERT_TRUE(sameImage(reused.get(), fresh(25, 25).get()));
    EXPECT_EQ(reused->data.get(), storage);
    EXPECT_EQ(reused->whiteLevel, 65536.0f);
    // The shorter last band fits in it too; a buffer of another width is let go.
    loader.reusableBuffer = std::move(reused);
    const auto last = loader.loadRows("reuse.fits", 190, 64, 30);
    ASSERT_TRUE(sameImage(last.get(), fresh(190, 10).get()));
    EXPECT_EQ(last->data.get(), storage);
    EXPECT_EQ(last->floatCount, 64 * 10 * 4);
    loader.reusableBuffer = std::make_unique<ImageBuffer>(32, 25);
    EXPECT_TRUE(sameImage(loader.loadRows("reuse.fits", 0, 64, 25).get(), fresh(0, 25).get()));
}

namespace {

// A stand-in for the front end's decoder, without a size reader: a 5 x 4 grey image whose
// pixel (x, y) is 10 y + x.
std::unique_ptr<ImageBuffer> fakeDecode(const QString &path, int &errorCode)
{
    if (!path.contains("good")) {
        errorCode = kStandardImageUnreadable;
        return nullptr;
    }
    auto image = std::make_unique<ImageBuffer>(5, 4);
    for (int i = 0; i < 5 * 4 * 4; ++i)
        image->data[i] = i % 4 == 3 ? 1.0f : static_cast<float>(i / 4 / 5 * 10 + i / 4 % 5);
    image->whiteLevel = 255.0f;
    image->channels = 2;
    return image;
}

// Removes the fake decoder even when an assertion ends the test early.
struct DecoderGuard {
    explicit DecoderGuard(StandardImageDecoder decoder) { setStandardImageDecoder(decoder); }
    ~DecoderGuard() { setStandardImageDecoder(nullptr); }
};

} // namespace

TEST(ImageLoader, StandardImagesNeedTheFrontEndsDecoder)
{
    ASSERT_EQ(standardImageDecoder(), nullptr);
    for (const char *name : {"photo.jpg", "photo.JPEG", "photo.png", "photo.tif", "photo.TIFF", "photo.bmp"}) {
        Loaded loaded = loadLogged(name);
        EXPECT_FALSE(loaded.image) << name;
        EXPECT_EQ(loaded.code, kUnreadableExtension) << name;
        EXPECT_EQ(loaded.lines, QStringList{QStringLiteral("Loading standard image ") + name});
    }
    DecoderGuard guard(fakeDecode);
    EXPECT_EQ(loadLogged("good.png").image->whiteLevel, 255.0f);
    Loaded loaded = loadLogged("bad.png");
    EXPECT_FALSE(loaded.image);
    EXPECT_EQ(loaded.code, kStandardImageUnreadable);
    EXPECT_EQ(loaded.lines, QStringList({"Loading standard image bad.png", "Error loading standard image."}));
    // Bands and sizes go through the same decoder.
    ImageLoader loader;
    auto band = loader.loadRows("good.png", 2, 5, 10);
    ASSERT_TRUE(band);
    EXPECT_EQ(band->height, 2);
    EXPECT_EQ(band->getPixel(3, 1).g, 33.0f);
    EXPECT_EQ(band->channels, 2);
    EXPECT_EQ(sizeOf(loader, "good.png"), QSize(5, 4));
    EXPECT_EQ(sizeOf(loader, "bad.png"), QSize(0, 0));
    EXPECT_EQ(loader.errorCode, kStandardImageUnreadable);
}
