// Opening an image into a new window and saving the current one.
#include "verdanix.h"

#include "calib/resourcelimits.h"
#include "console/outputwindow.h"
#include "filedialogs.h"
#include "image/fitswriter.h"
#include "image/histogram.h"
#include "image/imageloader.h"
#include "log/errorcodes.h"
#include "log/outofmemory.h"
#include "previewfile.h"
#include "view/mdiimage.h"

#include <QFileInfo>

namespace {

// Qt's file dialog separates the patterns of one filter by spaces.
const char *const kOpenFilter = "All supported types (*.cr2 *.nef *.fit *.fts *.fits *.fz *.fit.gz *.fits.gz *.fts.gz "
                                "*.jpg *.jpeg *.png *.tif *.tiff *.bmp)\n"
                                "Canon RAW (*.cr2)\n"
                                "Nikon RAW (*.nef)\n"
                                "FITS (*.fit *.fts *.fits *.fz *.fit.gz *.fits.gz *.fts.gz)\n"
                                "Standard images (*.jpg *.jpeg *.png *.tif *.tiff *.bmp)";
const char *const kSaveFilter = "JPG (*.jpg)\nFITS (*.fit *.fts *.fits)";
// The dialog starts on FITS: it keeps every value, the JPEG only what the window shows.
const char *const kSaveDefaultFilter = "FITS (*.fit *.fts *.fits)";

bool isFitsSuffix(const QString &suffix)
{
    return suffix == QLatin1String("fts") || suffix == QLatin1String("fit") || suffix == QLatin1String("fits");
}

} // namespace

void Verdanix::loadImage()
{
    const QString file = filedialogs::openFile(this, QStringLiteral("Open Image"), QString::fromLatin1(kOpenFilter));
    if (file.isEmpty())
        return;

    ImageLoader loader;
    loader.log = outputWindow;
    loader.options.debayer = readRunPreferences().debayerFits;
    std::unique_ptr<ImageBuffer> buffer = loader.loadFile(file, true);
    if (!buffer) {
        outputWindow->logMessage(QStringLiteral("An error occoured while opening the image."));
        outputWindow->logMessage(QStringLiteral("Cannot open %1: %2.")
                                     .arg(QFileInfo(file).fileName().toHtmlEscaped(),
                                          fileFailureText(file, loader.errorCode).toHtmlEscaped()), Severity::Error);
        return;
    }

    guardMemory(*outputWindow, [&] {
        auto window = std::make_unique<mdiImage>();
        newestWindow = window.get();
        window->buffer = std::move(buffer);
        window->zoom = 1.0;
        window->updateBuffer();
        window->displayBuffer();
        window->setName(QFileInfo(file).fileName());

        outputWindow->logMessage(QStringLiteral("Calculating histogram..."));
        window->buffer->scanRange();
        const auto histogram = buildHistogram(*window->buffer);
        outputWindow->logMessage(QStringLiteral(" 0.1% value: ")
                                 + logNumber(clipLuminance(*histogram, *window->buffer, 0.001f)));
        outputWindow->logMessage(QStringLiteral("99.9% value: ")
                                 + logNumber(clipLuminance(*histogram, *window->buffer, 0.999f)));

        outputWindow->logMessage(QStringLiteral("Loading done."));
        addImageWindow(window.release());
    });
    outputWindow->setStatusText(QStringLiteral("Ready."));
}

void Verdanix::saveImage()
{
    const ImageLock window = lockImage();
    if (!window || !window->buffer) {
        return;
    }
    saveWindow(window, QStringLiteral("Save Image"));
}

bool Verdanix::saveWindow(mdiImage *window, const QString &caption)
{
    const QString file = filedialogs::saveFile(this, caption, QString::fromLatin1(kSaveFilter),
                                               QString::fromLatin1(kSaveDefaultFilter));
    const QString suffix = QFileInfo(file).suffix().toLower();
    if (!file.isEmpty() && !isFitsSuffix(suffix) && suffix != QLatin1String("jpg")) {
        // Nothing would be written: say so (in the log and, as an error line, in the status
        // bar) rather than end as if the file had been saved.
        const QString reason = suffix.isEmpty() ? QStringLiteral("the name has no extension")
                                                : QStringLiteral("the program cannot write .%1 files").arg(suffix);
        outputWindow->logMessage(QStringLiteral("Not saved: %1 (%2). End the name in .fit, "
                                                ".fts, .fits or .jpg.")
                                     .arg(reason, file.toHtmlEscaped()), Severity::Error);
        return false;
    }
    bool written = false;
    if (!file.isEmpty() && isFitsSuffix(suffix)) {
        written = saveFitsImage(*window->buffer, file, *outputWindow) == 0;
    } else if (!file.isEmpty() && suffix == QLatin1String("jpg")) {
        // The JPEG is the image as the window shows it, through its view correction.
        outputWindow->setStatusText(QStringLiteral("Saving JPG ") + file);
        outputWindow->logMessage(QStringLiteral("Saving JPG file ") + file);
        if (!window->previewBuilt)
            window->updateBuffer();
        const QString error = writePreviewFile(window->previewImage, file, "jpg");
        written = error.isEmpty();
        if (written)
            outputWindow->logMessage(QStringLiteral("File written."));
        else
            outputWindow->logMessage(error.toHtmlEscaped(), Severity::Error);
    }
    if (written)
        window->markSaved();
    outputWindow->setStatusText(QStringLiteral("Ready."));
    return written;
}
