// Applying the view correction to the current image, and the preview copies.
#include "verdanix.h"

#include "console/outputwindow.h"
#include "image/autostretch.h"
#include "log/outofmemory.h"
#include "platform/settingsfile.h"
#include "view/mdiimage.h"
#include "view/wndviewcorrection.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDoubleSpinBox>
#include <QElapsedTimer>

void Verdanix::updateVC()
{
    QElapsedTimer clock;
    clock.start();
    if (!viewTarget)
        viewTarget = currentImageWindow();
    mdiImage *window = viewTarget;
    if (!window) {
        outputWindow->logMessage(QStringLiteral("Nothing to update!"));
        outputWindow->setStatusText(QStringLiteral("Ready."));
        return;
    }
    outputWindow->setStatusText(QStringLiteral("Updating view..."));
    QCoreApplication::processEvents();
    // Events processed above may have closed the window.
    if (!viewTarget || viewTarget != window) {
        outputWindow->setStatusText(QStringLiteral("Ready."));
        return;
    }

    if (vcWindow->cbAuto->isChecked()) {
        if (window->buffer && !applyAutoStretch(window)) {
            outputWindow->setStatusText(QStringLiteral("Ready."));
            return;
        }
    } else {
        const QDoubleSpinBox *minimum[3] = {vcWindow->dsMinR, vcWindow->dsMinG, vcWindow->dsMinB};
        const QDoubleSpinBox *middle[3] = {vcWindow->dsMidR, vcWindow->dsMidG, vcWindow->dsMidB};
        const QDoubleSpinBox *maximum[3] = {vcWindow->dsMaxR, vcWindow->dsMaxG, vcWindow->dsMaxB};
        for (int c = 0; c < 3; ++c) {
            window->vcBlack[c] = static_cast<float>(minimum[c]->value());
            window->vcGamma[c] = static_cast<float>(middle[c]->value());
            window->vcWhite[c] = static_cast<float>(maximum[c]->value());
        }
    }

    window->updateBuffer();
    if (window->displayError) {
        outputWindow->logMessage(QStringLiteral("[lastChild->updateBuffer();] Nothing to update!"));
        outputWindow->setStatusText(QStringLiteral("Ready."));
        return;
    }
    window->displayBuffer();
    if (window->displayError) {
        outputWindow->logMessage(QStringLiteral("[lastChild->displayBuffer();] Nothing to display!"));
        outputWindow->setStatusText(QStringLiteral("Ready."));
        return;
    }
    outputWindow->logMessage(QStringLiteral("Updated view correction"));
    outputWindow->setStatusText(QStringLiteral("Ready."));

    // An update quicker than a millisecond is reported as taking one.
    const qint64 ms = std::max<qint64>(1, clock.nsecsElapsed() / 1000000);
    const qint64 screenPixels = static_cast<qint64>(window->width()) * window->height();
    outputWindow->logMessage(QStringLiteral("[DEBUG] Update took ") + logNumber(ms * 0.001) + QStringLiteral(" seconds (")
                             + QString::number(screenPixels / ms) + QStringLiteral(" Pixels/Millisecond)"));
}

bool Verdanix::applyAutoStretch(mdiImage *window)
{
    outputWindow->logMessage(QStringLiteral("Auto stretching preview..."));
    const float clip = static_cast<float>(vcWindow->dsbAuto->value());
    StretchPoints points;
    if (!guardMemory(*outputWindow, [&] { points = autoStretchPoints(*window->buffer, clip); }))
        return false;
    outputWindow->logMessage(QStringLiteral("Minimum value: ") + logNumber(points.black));
    outputWindow->logMessage(QStringLiteral("Maximum value: ") + logNumber(points.white));
    points = normalisedStretch(points, window->buffer->whiteLevel);
    for (int c = 0; c < 3; ++c) {
        window->vcBlack[c] = points.black;
        window->vcGamma[c] = 1.0f;
        window->vcWhite[c] = points.white;
    }
    return true;
}

void Verdanix::stretchNewWindow(mdiImage *window)
{
    if (!settingsfile::stretchNewWindows() || !window->buffer || !window->buffer->hasPixels())
        return;
    if (applyAutoStretch(window)) {
        window->updateBuffer();
        window->displayBuffer();
    }
}

mdiImage *Verdanix::makePreviewWindow()
{
    mdiImage *source = viewTarget;
    if (!source || !source->buffer)
        return nullptr;

    int outWidth = 640;
    int outHeight = 480;
    double scale = 0.5;
    int offsetX = 0;
    int offsetY = 0;
    if (source->hasSelection()) {
        outWidth = static_cast<int>(source->selection.width * source->zoom);
        outHeight = static_cast<int>(source->selection.height * source->zoom);
        scale = source->zoom;
        offsetX = source->selection.x;
        offsetY = source->selection.y;
    }

    mdiImage *window = nullptr;
    guardMemory(*outputWindow, [&] {
        auto copy = std::make_unique<ImageBuffer>(outWidth, outHeight);
        const double step = 1.0 / scale;
        for (int j = 0; j < copy->height; ++j) {
            for (int i = 0; i < copy->width; ++i) {
                const FloatRGB value = source->buffer->getPixel(static_cast<int>(i * step + offsetX),
                                                                static_cast<int>(j * step + offsetY));
                float *p = copy->pixel(i, j);
                p[0] = value.r;
                p[1] = value.g;
                p[2] = value.b;
                p[3] = value.a;
            }
        }
        copy->whiteLevel = source->buffer->whiteLevel;
        copy->blackLevel = source->buffer->blackLevel;
        copy->channels = source->buffer->channels;

        auto preview = std::make_unique<mdiImage>();
        preview->buffer = std::move(copy);
        preview->updateBuffer();
        preview->displayBuffer();
        preview->setName(QStringLiteral("Preview"));
        preview->isPreview = true;
        window = preview.release();
        newestWindow = window;
        addImageWindow(window);
    });
    return window;
}

void Verdanix::testPreview()
{
    const ImageLock window = lockImage();
    if (!window) {
        outputWindow->logMessage(QStringLiteral("Please focus a valid image window first."));
        return;
    }
    guardMemory(*outputWindow, [&] { window->testPreview(outputWindow); });
}
