// Choosing a reader by extension, the log lines of a load, size queries, and the failures
// every format shares (missing files, folders).
#include "image/standardimagedecoder.h"
#include "imagetests.h"

#include <QDir>

#include <sys/stat.h>
#include <thread>

TEST(ImageLoader, ExtensionChoosesTheReaderOnlyVerboseLoadsLogAndMissingOrIrregularFilesFailWithOneLine)
{
    for (const char *name : {"IMG_0001.CR2", "DSC_0001.Nef"})
        ASSERT_TRUE(writeDng(name, dngImage(64, 48, DngLayout::LinearRgb)));
    ASSERT_EQ(writeFitsFile("frame.FITS", fitsImage(16, 8, 6)), 0);
    ASSERT_EQ(writeFitsFile("frame.Fit", fitsImage(16, 8, 6, 3)), 0);
    // The white level tells the reader: 65535 developed by the RAW reader, 65536 read as FITS.
    const QStringList raw{"Opening RAW file %1", "Loading done."},
        fits{"Loading FITS file %1", "File read, processing...", "Loading done."};
    for (const auto &[name, whiteLevel, size] : {std::tuple{"IMG_0001.CR2", 65535.0f, QSize(64, 48)},
                                                 {"DSC_0001.Nef", 65535.0f, QSize(64, 48)},
                                                 {"frame.FITS", 65536.0f, QSize(8, 6)},
                                                 {"frame.Fit", 65536.0f, QSize(8, 6)}}) {
        LoggedLoader loader;
        auto image = loader.loadFile(name, true);
        ASSERT_TRUE(image && loader.errorCode == 0) << name;
        EXPECT_EQ(image->whiteLevel, whiteLevel) << name;
        EXPECT_EQ(loader.captured.lines().join("\n"), (whiteLevel == 65535.0f ? raw : fits).join("\n").arg(name));
        // Quiet loads, band reads and size queries never write to the log.
        EXPECT_TRUE(loader.loadFile(name, false) && loader.loadRows(name, 0, size.width(), 2)) << name;
        EXPECT_TRUE(loader.size(name) == size && loader.errorCode == 0) << name;
        EXPECT_EQ(loader.captured.lines().size(), whiteLevel == 65535.0f ? 2 : 3) << name;
    }
    // A FITS file under another name is not looked at: no reader, no line in the log.
    ASSERT_TRUE(QFile::copy("frame.FITS", "frame.dat"));
    ASSERT_TRUE(QDir().mkdir("night.fits"));
    ASSERT_TRUE(QFile::copy("frame.FITS", "night.fits/frame"));
    for (const char *name : {"frame.dat", "night.fits/frame", "frame"}) {
        EXPECT_EQ(failure(name, 0, true), std::to_string(kUnreadableExtension)) << name;
        LoggedLoader loader;
        EXPECT_TRUE(loader.size(name).isNull() && loader.errorCode == kUnreadableExtension) << name;
    }
    // Missing files and what is no regular file fail with one line, unopened.
    ASSERT_TRUE(QDir().mkdir("folder.cr2"));
    // Opening a pipe would wait for a writer for ever; a device would be read without end.
    ASSERT_EQ(::mkfifo("pipe.fits", 0600), 0);
    ASSERT_TRUE(QFile::link("/dev/zero", "device.png"));
    // name, code (0: the reader's own), the one line
    const std::tuple<const char *, int, const char *> cases[] = {
        {"missing.fits", 0, "Error reading FITS file."},
        {"missing.cr2", 0, "Error loading RAW file."},
        {"folder.cr2", kNotARegularFile, "Cannot read 'folder.cr2': it is a folder, not a file"},
        {"pipe.fits", kNotARegularFile, "Cannot read 'pipe.fits': it is a pipe, not a file"},
        {"device.png", kNotARegularFile, "Cannot read 'device.png': it is a device, not a file"}};
    for (const auto &[name, expectedCode, line] : cases) {
        const std::string text = failure(name);
        const int code = std::atoi(text.c_str());
        EXPECT_TRUE(code != 0 && (expectedCode == 0 || code == expectedCode)) << text;
        EXPECT_EQ(text, std::to_string(code) + " | " + line) << name;
        // Failed band reads and size queries log nothing either.
        LoggedLoader loader;
        EXPECT_TRUE(loader.size(name).isNull() && loader.errorCode != 0) << name;
        EXPECT_TRUE(!loader.loadRows(name, 0, 10, 10) && loader.errorCode != 0) << name;
        EXPECT_TRUE(loader.captured.lines().isEmpty()) << name;
    }
}

TEST(ImageLoader, BandsLoadedOnSeveralThreadsAtOnceOrIntoAReusedBufferMatchFreshOnesLoadedOneAtATime)
{
    ASSERT_EQ(writeFitsFile("stack.fits", fitsImage(-32, 64, 200, 3)), 0);
    ASSERT_TRUE(writeDng("stack.cr2", dngImage(64, 48, DngLayout::BayerRggb)));
    // Every band of both files, loaded by one loader; empty entries for failed loads.
    const auto loadAllBands = [] {
        std::vector<std::unique_ptr<ImageBuffer>> bands;
        ImageLoader loader;
        for (int band = 0; band < 8; ++band) {
            bands.push_back(loader.loadRows("stack.fits", band * 25, 64, 25));
            bands.push_back(loader.loadRows("stack.cr2", band * 6, 64, 6));
        }
        return bands;
    };
    const auto expected = loadAllBands();
    std::vector<std::unique_ptr<ImageBuffer>> first, second;
    std::thread one([&] { first = loadAllBands(); }), other([&] { second = loadAllBands(); });
    one.join();
    other.join();
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_TRUE(sameImage(first[i].get(), expected[i].get()) && sameImage(second[i].get(), expected[i].get()))
            << "band " << i;
    // A FITS band read into a reused buffer equals a fresh one.
    ASSERT_EQ(writeFitsFile("reuse.fits", fitsImage(16, 64, 200, 3)), 0);
    const auto fresh = [](int first, int rows) { return ImageLoader().loadRows("reuse.fits", first, 64, rows); };
    ImageLoader loader;
    loader.reusableBuffer = loader.loadRows("reuse.fits", 0, 64, 25);
    ASSERT_TRUE(loader.reusableBuffer);
    loader.reusableBuffer->whiteLevel = 1.0f; // as a stack leaves it after normalising
    const float *storage = loader.reusableBuffer->data.get();
    auto reused = loader.loadRows("reuse.fits", 25, 64, 25);
    ASSERT_TRUE(sameImage(reused.get(), fresh(25, 25).get()));
    EXPECT_TRUE(!loader.reusableBuffer && reused->data.get() == storage && reused->whiteLevel == 65536.0f);
    // The shorter last band fits in it too; a buffer of another width is let go.
    loader.reusableBuffer = std::move(reused);
    const auto last = loader.loadRows("reuse.fits", 190, 64, 30);
    ASSERT_TRUE(sameImage(last.get(), fresh(190, 10).get()));
    EXPECT_TRUE(last->data.get() == storage && last->floatCount == 64 * 10 * 4);
    loader.reusableBuffer = std::make_unique<ImageBuffer>(32, 25);
    EXPECT_TRUE(sameImage(loader.loadRows("reuse.fits", 0, 64, 25).get(), fresh(0, 25).get()));
}

// Loads, bands and failures through the front end's decoder are the formats tests'.
TEST(ImageLoader, StandardImagesNeedTheFrontEndsDecoderAndWithoutASizeReaderAreDecodedForTheirSize)
{
    ASSERT_EQ(standardImageDecoder(), nullptr);
    for (const char *name : {"photo.JPEG", "photo.png", "photo.TIFF", "photo.bmp"})
        EXPECT_EQ(failure(name), std::to_string(kUnreadableExtension) + " | Loading standard image " + name);
    // A stand-in for the front end's decoder, without a size reader: a 5 x 4 image.
    setStandardImageDecoder([](const QString &path, int &errorCode) -> std::unique_ptr<ImageBuffer> {
        if (path.contains("good"))
            return std::make_unique<ImageBuffer>(5, 4);
        errorCode = kStandardImageUnreadable;
        return nullptr;
    });
    LoggedLoader loader;
    EXPECT_EQ(loader.size("good.png"), QSize(5, 4));
    EXPECT_TRUE(loader.size("bad.png").isNull() && loader.errorCode == kStandardImageUnreadable);
    setStandardImageDecoder(nullptr);
}
