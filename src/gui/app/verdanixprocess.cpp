// The single-image operations: statistics, simple operations, neutralization, colour gain
// and combination. None changes its source; results open in new image windows.
#include "verdanix.h"

#include "console/outputwindow.h"
#include "displaytexts.h"
#include "log/outofmemory.h"
#include "process/colourbalance.h"
#include "process/combination.h"
#include "process/gainwindow.h"
#include "process/regionstats.h"
#include "process/simpleoperations.h"
#include "process/wndcombineimg.h"
#include "view/mdiimage.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDoubleSpinBox>
#include <QGraphicsScene>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QPushButton>

#include <cmath>

namespace {

PixelRegion operationRegion(const mdiImage &window)
{
    return selectionRegion(*window.buffer, window.selection.x, window.selection.y, window.selection.width,
                           window.selection.height);
}

QString colourText(const FloatRGB &colour)
{
    return QStringLiteral("Average: R=%1; G=%2; B=%3")
        .arg(logNumber(colour.r), logNumber(colour.g), logNumber(colour.b));
}

bool hasImage(const mdiImage *window)
{
    return window && window->buffer && window->buffer->hasPixels();
}

} // namespace

void Verdanix::reportNoImage()
{
    outputWindow->logMessage(QStringLiteral("Please focus a valid image window first."));
}

ImageLock Verdanix::lockImageWithPixels()
{
    ImageLock window = lockImage();
    if (hasImage(window))
        return window;
    reportNoImage();
    return ImageLock();
}

void Verdanix::showResult(const QString &title, const QString &text)
{
    QMessageBox box(QMessageBox::Information, title, text, QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("resultBox"));
    box.exec();
}

mdiImage *Verdanix::openResultWindow(std::unique_ptr<ImageBuffer> buffer, const QString &name, int titleCounter)
{
    auto window = std::make_unique<mdiImage>();
    window->buffer = std::move(buffer);
    window->zoom = 1.0;
    window->titleCounter = titleCounter;
    window->updateBuffer();
    window->displayBuffer();
    window->setName(name);
    window->unsavedResult = true;
    newestWindow = window.get();
    addImageWindow(window.get());
    return window.release();
}

mdiImage *Verdanix::findImageById(const QString &id) const
{
    for (QMdiSubWindow *sub : mdiArea->subWindowList(QMdiArea::CreationOrder)) {
        auto *window = qobject_cast<mdiImage *>(sub->widget());
        if (window && window->windowId.toString() == id)
            return window;
    }
    return nullptr;
}

void Verdanix::fillBlack()
{
    mdiImage *window = currentImageWindow();
    if (!window || window->previewImage.isNull() || !window->scene) {
        reportNoImage();
        return;
    }
    window->previewImage.fill(QColor(0, 0, 0));
    window->scene->addPixmap(QPixmap::fromImage(window->previewImage));
}

void Verdanix::mediumBright()
{
    mdiImage *window = currentImageWindow();
    if (!window || window->previewImage.isNull()) {
        reportNoImage();
        return;
    }
    const QImage &image = window->previewImage;
    float sum = 0.0f;
    for (int y = 0; y < image.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const FloatRGB colour{float(qRed(line[x])), float(qGreen(line[x])), float(qBlue(line[x])), 0.0f};
            sum += static_cast<float>(static_cast<int>(colourLuminance(colour)));
        }
    }
    const float average = sum / static_cast<float>(image.width() * image.height());
    showResult(QStringLiteral("Average brightness"), QStringLiteral("Average brightness: ") + logNumber(average));
}

void Verdanix::avgColor()
{
    mdiImage *window = currentImageWindow();
    const auto mean = hasImage(window) ? regionMean(*window->buffer, operationRegion(*window)) : std::nullopt;
    if (!mean) {
        reportNoImage();
        return;
    }
    showResult(QStringLiteral("Average Color"), colourText(*mean));
}

void Verdanix::cutAbove()
{
    const ImageLock window = lockImageWithPixels();
    if (!window)
        return;
    outputWindow->setStatusText(QStringLiteral("Getting average color..."));
    outputWindow->logMessage(QStringLiteral("Getting average color..."));
    QCoreApplication::processEvents();
    guardMemory(*outputWindow, [&] {
        const auto mean = regionMean(*window->buffer, operationRegion(*window));
        if (!mean)
            return;
        outputWindow->setStatusText(QStringLiteral("Processing..."));
        outputWindow->logMessage(QStringLiteral("Processing..."));
        openResultWindow(cutAboveColour(*window->buffer, *mean), window->getName(), window->titleCounter + 1);
    });
    outputWindow->setStatusText(QStringLiteral("Ready."));
    outputWindow->logMessage(QStringLiteral("Ready."));
}

void Verdanix::getBackgroundColor()
{
    mdiImage *window = currentImageWindow();
    const auto background = hasImage(window) ? estimateBackgroundColor(*window->buffer) : std::nullopt;
    if (!background) {
        reportNoImage();
        return;
    }
    showResult(QStringLiteral("Average Color"), colourText(*background));
}

void Verdanix::removeBackground()
{
    const ImageLock window = lockImageWithPixels();
    if (!window)
        return;
    guardMemory(*outputWindow, [&] {
        auto result = removeBackgroundColour(*window->buffer);
        if (result)
            openResultWindow(std::move(result), window->getName(), window->titleCounter + 1);
    });
}

void Verdanix::getStdDev()
{
    mdiImage *window = currentImageWindow();
    const auto sigma = hasImage(window) ? regionSigma(*window->buffer, operationRegion(*window)) : std::nullopt;
    if (!sigma) {
        reportNoImage();
        return;
    }
    outputWindow->logMessage(QStringLiteral("Sigma: %1; %2; %3").arg(logNumber(sigma->r), logNumber(sigma->g),
                                                                       logNumber(sigma->b)));
}

void Verdanix::normalize()
{
    const ImageLock window = lockImageWithPixels();
    if (!window)
        return;
    guardMemory(*outputWindow, [&] {
        auto result = normalizedCopy(*window->buffer);
        if (!result) {
            outputWindow->logMessage(QStringLiteral("This image cannot be normalized: its white "
                                                    "and black levels are equal."), Severity::Error);
            return;
        }
        openResultWindow(std::move(result), window->getName(), window->titleCounter + 1);
    });
}

void Verdanix::cropImg()
{
    mdiImage *window = viewTarget;
    if (!hasImage(window))
        return;
    if (!window->hasSelection()) {
        outputWindow->logMessage(QStringLiteral("<font color=\"#ffffff\"><b>Please make a selection, first!</b></font>"));
        return;
    }
    const SelectionRect &s = window->selection;
    guardMemory(*outputWindow, [&] {
        openResultWindow(cropCopy(*window->buffer, s.x, s.y, s.width, s.height), window->getName(),
                         window->titleCounter + 1);
    });
    viewTarget = window;
}

void Verdanix::testBuffer()
{
    guardMemory(*outputWindow, [] {
        ImageBuffer buffer(10, 10);
        buffer.clone();
    });
}

void Verdanix::neutralizeBackground()
{
    const ImageLock window = lockImageWithPixels();
    if (!window)
        return;
    outputWindow->setStatusText(QStringLiteral("Background neutralization..."));
    outputWindow->logMessage(QStringLiteral("Neutralizing background color of ") + window->windowTitle());
    guardMemory(*outputWindow, [&] {
        NeutralizedImage result = neutralizedCopy(*window->buffer, operationRegion(*window));
        if (!result.image) {
            outputWindow->logMessage(QStringLiteral("No background could be measured in this "
                                                    "region."), Severity::Error);
            return;
        }
        outputWindow->logMessage(QStringLiteral("Processing..."));
        if (!result.factors.allFinite)
            outputWindow->logMessage(QStringLiteral("The background is zero in at least one "
                                                    "channel; that channel cannot be scaled."), Severity::Warning);
        outputWindow->logMessage(QStringLiteral("Updating image display..."));
        openResultWindow(std::move(result.image), window->getName(), window->titleCounter + 1);
        outputWindow->logMessage(QStringLiteral("Background neutralization done."));
    });
    outputWindow->setStatusText(QStringLiteral("Ready."));
}

void Verdanix::setGain()
{
    if (!hasImage(viewTarget)) {
        reportNoImage();
        return;
    }
    auto *dialog = new GainWindow(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->sourceWindow = viewTarget;
    dialog->labelImage->setText(QStringLiteral("Image: ") + windowLabel(viewTarget));
    connect(dialog->pbOK, SIGNAL(clicked()), dialog, SLOT(emitOK()));
    connect(dialog->pbCancel, SIGNAL(clicked()), dialog, SLOT(cancel()));
    for (QDoubleSpinBox *box : {dialog->dsRed, dialog->dsGreen, dialog->dsBlue})
        connect(box, SIGNAL(valueChanged(double)), dialog, SLOT(valChanged(double)));
    dialog->setWindowFlags(dialog->windowFlags() | Qt::Tool);
    dialog->show();
    guardMemory(*outputWindow, [&] { dialog->attachPreview(makePreviewWindow()); });
    connect(dialog, SIGNAL(clickedOK(float, float, float)), this, SLOT(evSetGain(float, float, float)));
}

void Verdanix::evSetGain(float valueR, float valueG, float valueB)
{
    // The factors were chosen on the dialog's own image; the user may have activated another
    // window since, so the dialog, not the focus, says which image they belong to.
    auto *dialog = qobject_cast<GainWindow *>(sender());
    mdiImage *source = dialog ? dialog->sourceWindow.data() : viewTarget.data();
    if (dialog && !source) {
        outputWindow->logMessage(QStringLiteral("The image the gain was chosen for has been "
                                                "closed; no gain was applied."), Severity::Error);
        return;
    }
    if (!hasImage(source)) {
        reportNoImage();
        return;
    }
    const ImageLock lock = lockWindow(source);
    guardMemory(*outputWindow, [&] {
        auto result = source->buffer->clone();
        applyGain(*result, valueR, valueG, valueB);
        openResultWindow(std::move(result), QString());
    });
}

void Verdanix::showCombineWnd()
{
    auto *tool = new wndCombineImg(this);
    tool->setWindowOpacity(1.0);
    tool->setWindowFlags(tool->windowFlags() | Qt::Tool);
    // Titles, not bare names: a result and its source share the name but not the counter.
    const QList<mdiImage *> windows = imageWindows();
    QStringList titles;
    for (mdiImage *window : windows)
        titles << window->windowTitle();
    const QStringList labels = windowListLabels(titles);
    for (int i = 0; i < windows.size(); ++i)
        tool->addImage(labels[i], windows[i]->windowId.toString());
    tool->show();
    connect(tool, SIGNAL(applied(wndCombineImg *)), this, SLOT(applyCombine(wndCombineImg *)));
}

void Verdanix::applyCombine(wndCombineImg *wci)
{
    outputWindow->logMessage(QStringLiteral("Combining..."));
    mdiImage *a = findImageById(wci->cbImageA->currentData().toString());
    mdiImage *b = findImageById(wci->cbImageB->currentData().toString());
    if (!a || !a->buffer) {
        outputWindow->logMessage(QStringLiteral("<font color=\"#dd3333\">ERROR: Image A not found! (Did you close it?)</font>"));
        return;
    }
    if (!b || !b->buffer) {
        outputWindow->logMessage(QStringLiteral("<font color=\"#dd3333\">ERROR: Image B not found! (Did you close it?)</font>"));
        return;
    }
    outputWindow->logMessage(QStringLiteral("First image: ") + a->getName());
    outputWindow->logMessage(QStringLiteral("Second image: ") + b->getName());
    bool isNumber = false;
    int op = wci->cbOperator->currentData().toInt(&isNumber);
    if (!isNumber || op < 0 || op > static_cast<int>(CombineOperator::NegativeMultiply))
        op = 0;
    const auto combineOperator = static_cast<CombineOperator>(op);
    const float f = static_cast<float>(wci->dsbOpacity->value()) * 0.01f;
    outputWindow->logMessage(combineLogLine(combineOperator));
    guardMemory(*outputWindow, [&] {
        auto result = combineImages(combineOperator, *a->buffer, *b->buffer, f);
        if (!result) {
            outputWindow->logMessage(QStringLiteral("<font color=\"#dd3333\">ERROR: The images differ in size (%1 x %2 "
                                                    "and %3 x %4); nothing was combined.</font>")
                                         .arg(a->buffer->width)
                                         .arg(a->buffer->height)
                                         .arg(b->buffer->width)
                                         .arg(b->buffer->height));
            return;
        }
        result->whiteLevel = a->buffer->whiteLevel;
        result->blackLevel = a->buffer->blackLevel;
        openResultWindow(std::move(result), QStringLiteral("Combined"));
        outputWindow->logMessage(QStringLiteral("Done."));
    });
}
