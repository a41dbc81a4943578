// Opening an image into a new window and saving the current one.
#include "verdanix.h"

#include "console/outputwindow.h"
#include "filedialogs.h"
#include "image/fitswriter.h"
#include "image/histogram.h"
#include "image/imageloader.h"
#include "log/outofmemory.h"
#include "previewfile.h"
#include "view/mdiimage.h"

#include <QFileInfo>

namespace {

// Qt's file dialog separates the patterns of one filter by spaces.
const char *const kOpenFilter = "All supported types (*.cr2 *.nef *.fit *.fts *.fits *.jpg *.jpeg *.png *.tif *.tiff *.bmp)\n"
                                "Canon RAW (*.cr2)\n"
                                "Nikon RAW (*.nef)\n"
                                "FITS (*.fit *.fts *.fits)\n"
                                "Standard images (*.jpg *.jpeg *.png *.tif *.tiff *.bmp)";
const char *const kSaveFilter = "JPG (*.jpg)\nFITS (*.fit *.fts *.fits)";

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
    std::unique_ptr<ImageBuffer> buffer = loader.loadFile(file, true);
    if (!buffer) {
        outputWindow->logMessage(QStringLiteral("An error occoured while opening the image."));
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
    mdiImage *window = lockImage();
    if (!window || !window->buffer) {
        releaseImage();
        return;
    }
    const QString file = filedialogs::saveFile(this, QStringLiteral("Save Image"), QString::fromLatin1(kSaveFilter));
    const QString suffix = QFileInfo(file).suffix().toLower();
    if (!file.isEmpty() && isFitsSuffix(suffix)) {
        saveFitsImage(*window->buffer, file, *outputWindow);
    } else if (!file.isEmpty() && suffix == QLatin1String("jpg")) {
        // The JPEG is the image as the window shows it, through its view correction.
        outputWindow->setStatusText(QStringLiteral("Saving JPG ") + file);
        outputWindow->logMessage(QStringLiteral("Saving JPG file ") + file);
        if (!window->previewBuilt)
            window->updateBuffer();
        const QString error = writePreviewFile(window->previewImage, file, "jpg");
        if (error.isEmpty())
            outputWindow->logMessage(QStringLiteral("File written."));
        else
            outputWindow->logMessage(QStringLiteral("<font color=\"#ff6666\">%1</font>").arg(error.toHtmlEscaped()));
    }
    releaseImage();
    outputWindow->setStatusText(QStringLiteral("Ready."));
}
