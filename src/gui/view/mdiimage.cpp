#include "mdiimage.h"

#include "image/previewrenderer.h"
#include "log/messagelog.h"
#include "process/flattenpipeline.h"
#include "platform/settingsfile.h"

#include <QApplication>
#include <QGraphicsPixmapItem>
#include <QGraphicsRectItem>
#include <QGraphicsScene>
#include <QMouseEvent>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kWheelStep = 120;

// Markers and the selection stay one screen pixel wide at any zoom.
QPen outlinePen(const QColor &colour, double zoom)
{
    return QPen(QBrush(colour), 1.0 / zoom, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
}

int renderThreads()
{
    return threadsAllowed(settingsfile::maxThreads());
}

} // namespace

mdiImage::mdiImage(QWidget *parent) : QGraphicsView(parent), windowId(QUuid::createUuid())
{
    setAttribute(Qt::WA_DeleteOnClose);
    setMouseTracking(true);
    setViewportUpdateMode(QGraphicsView::SmartViewportUpdate);
    connect(qApp, SIGNAL(focusChanged(QWidget *, QWidget *)), this, SLOT(focusChangedEvent(QWidget *, QWidget *)));
}

mdiImage::~mdiImage()
{
    if (sceneOwned)
        delete scene;
}

MessageLog &mdiImage::sink() const
{
    return log ? *log : messageLog();
}

void mdiImage::setName(const QString &newName)
{
    name = newName;
    setWindowTitle(titleCounter == 0 ? name : QStringLiteral("%1 (%2)").arg(name).arg(titleCounter));
}

QString mdiImage::getName()
{
    if (name.isEmpty())
        name = windowTitle();
    return name;
}

void mdiImage::updateBuffer()
{
    if (!buffer) {
        displayError = true;
        return;
    }
    displayError = false;
    previewImage = QImage(buffer->width, buffer->height, QImage::Format_RGB32);
    if (previewImage.isNull()) {
        previewBuilt = false;
        return;
    }
    PreviewParams params;
    std::copy(std::begin(vcBlack), std::end(vcBlack), params.vcBlack);
    std::copy(std::begin(vcGamma), std::end(vcGamma), params.vcGamma);
    std::copy(std::begin(vcWhite), std::end(vcWhite), params.vcWhite);
    // Read at every rendering, so that a change in the preferences shows at the next one.
    params.usePreviewGamma = settingsfile::usePreviewGamma();
    params.previewGamma = settingsfile::previewGamma();
    renderPreview(*buffer, params, reinterpret_cast<std::uint32_t *>(previewImage.bits()),
                  previewImage.bytesPerLine() / 4, renderThreads());
    previewBuilt = true;
}

void mdiImage::replaceScene(const QRectF &rect)
{
    // Items belong to the scene: the pointers to them die with it.
    QGraphicsScene *old = sceneOwned ? scene : nullptr;
    selectionItem = nullptr;
    selectionShown = false;
    markerItems.clear();
    scene = new QGraphicsScene(rect);
    sceneOwned = true;
    setScene(scene);
    delete old;
}

void mdiImage::displayBuffer()
{
    if (!buffer) {
        displayError = true;
        return;
    }
    displayError = false;
    if (!previewBuilt)
        updateBuffer();

    QRectF rememberedSelection;
    if (hasSelection()) {
        rememberedSelection = selectionShown && selectionItem
                                  ? selectionItem->rect()
                                  : QRectF(selection.x, selection.y, selection.width, selection.height);
    }

    replaceScene(QRectF(0, 0, buffer->width, buffer->height));
    scene->addPixmap(QPixmap::fromImage(previewImage));

    if (markerMode) {
        const int half = boxSize / 2;
        for (int i = 0; i < markerXs.size(); ++i)
            addMarkerItem(markerXs[i] - half, markerYs[i] - half);
    }
    if (hasSelection()) {
        selectionItem = scene->addRect(rememberedSelection, outlinePen(Qt::white, zoom), Qt::NoBrush);
        selectionShown = true;
    }
    scene->update();
}

void mdiImage::addMarkerItem(double left, double top)
{
    if (scene)
        markerItems.append(scene->addRect(left, top, boxSize, boxSize, outlinePen(Qt::green, zoom), Qt::NoBrush));
}

void mdiImage::addMarker(int x, int y, double left, double top)
{
    markerXs.append(x);
    markerYs.append(y);
    addMarkerItem(left, top);
}

void mdiImage::applyPenWidths()
{
    if (selectionShown && selectionItem)
        selectionItem->setPen(outlinePen(Qt::white, zoom));
    if (markerMode) {
        for (QGraphicsRectItem *item : qAsConst(markerItems))
            item->setPen(outlinePen(Qt::green, zoom));
    }
}

void mdiImage::clearMarkers()
{
    markerXs.clear();
    markerYs.clear();
    qDeleteAll(markerItems);
    markerItems.clear();
}

void mdiImage::enterMarkerMode()
{
    markerMode = true;
    if (testPreviewActive)
        destroyTestPreview();
    selection.width = -1;
    markerXs.clear();
    markerYs.clear();
    displayBuffer();
}

void mdiImage::leaveMarkerMode()
{
    clearMarkers();
    markerMode = false;
}

void mdiImage::placeAutoMarkers(const std::vector<GridMarker> &markers, int size, float step)
{
    clearMarkers();
    const int half = size / 2;
    for (const GridMarker &marker : markers) {
        if (!markerMode)
            break;
        addMarker(marker.x, marker.y, marker.gridX - half, marker.gridY - half);
    }
    autoStep = step;
}

void mdiImage::wheelEvent(QWheelEvent *evt)
{
    if (isPreview) {
        evt->ignore();
        return;
    }
    const int steps = evt->angleDelta().y() / kWheelStep;
    if (testPreviewActive)
        destroyTestPreview();
    // One factor of two per event, however far the wheel turned.
    if (steps < 0)
        scaleZoom(0.5);
    else if (steps > 0)
        scaleZoom(2.0);
    applyPenWidths();
    evt->accept();
}

void mdiImage::scaleZoom(double factor)
{
    scale(factor, factor);
    if (scene)
        scene->update();
    zoom *= factor;
    emit zoomChanged(zoom);
}

void mdiImage::zoomIn()
{
    if (testPreviewActive)
        destroyTestPreview();
    scaleZoom(2.0);
    applyPenWidths();
}

void mdiImage::zoomOut()
{
    if (testPreviewActive)
        destroyTestPreview();
    scaleZoom(0.5);
    applyPenWidths();
}

void mdiImage::zoomActualSize()
{
    if (testPreviewActive)
        destroyTestPreview();
    resetTransform();
    zoom = 1.0;
    applyPenWidths();
    emit zoomChanged(zoom);
}

void mdiImage::zoomToFit()
{
    if (!buffer || buffer->width <= 0 || buffer->height <= 0)
        return;
    if (testPreviewActive)
        destroyTestPreview();
    // The view's own margins would show scroll bars at the exact fit.
    const QSize room = maximumViewportSize() - QSize(2, 2);
    const double factor = std::min(static_cast<double>(room.width()) / buffer->width,
                                   static_cast<double>(room.height()) / buffer->height);
    if (factor <= 0.0)
        return;
    setTransform(QTransform::fromScale(factor, factor));
    zoom = factor;
    applyPenWidths();
    emit zoomChanged(zoom);
}

void mdiImage::mousePressEvent(QMouseEvent *event)
{
    if (event->buttons() != Qt::LeftButton)
        return;
    const QPointF position = mapToScene(event->pos());
    pressX = static_cast<int>(position.x());
    pressY = static_cast<int>(position.y());
    dragging = true;
    if (selectionShown) {
        delete selectionItem;
        selectionItem = nullptr;
        selectionShown = false;
    }
}

void mdiImage::mouseMoveEvent(QMouseEvent *event)
{
    const QPointF position = mapToScene(event->pos());
    const int x = static_cast<int>(position.x());
    const int y = static_cast<int>(position.y());
    if (dragging && scene) {
        const int left = std::min(x, pressX);
        const int right = std::max(x, pressX);
        const int top = std::min(y, pressY);
        const int bottom = std::max(y, pressY);
        const QRectF rect(left, top, right - left, bottom - top);
        if (selectionShown && selectionItem) {
            selectionItem->setRect(rect);
            scene->update();
        } else {
            selectionItem = scene->addRect(rect, outlinePen(Qt::white, zoom), Qt::NoBrush);
            selectionShown = true;
        }
        selection = SelectionRect{left, top, right - left, bottom - top, static_cast<int>(zoom)};
    }
    emit returnColor(buffer ? buffer->getPixel(x, y) : FloatRGB{});
    // The scene position, not its truncation, decides: -0.5 truncates to 0 but lies outside.
    const bool inside = buffer && position.x() >= 0.0 && position.y() >= 0.0 && x < buffer->width
                        && y < buffer->height;
    emit pointerMoved(x, y, inside);
}

void mdiImage::leaveEvent(QEvent *event)
{
    emit pointerLeft();
    QGraphicsView::leaveEvent(event);
}

void mdiImage::mouseReleaseEvent(QMouseEvent *event)
{
    const bool dragged = dragging;
    dragging = false;
    const QPointF position = mapToScene(event->pos());
    const int x = static_cast<int>(position.x());
    const int y = static_cast<int>(position.y());

    if (event->button() == Qt::LeftButton && x == pressX && y == pressY) {
        if (markerMode && scene) {
            const int half = boxSize / 2;
            addMarker(x, y, x - half, y - half);
        } else {
            selection.width = -1;
            if (selectionShown) {
                delete selectionItem;
                selectionItem = nullptr;
                selectionShown = false;
            }
        }
    }
    if (dragged && event->button() == Qt::LeftButton)
        emit selectionChanged();

    if (event->button() == Qt::RightButton && markerMode && !markerXs.isEmpty()) {
        int nearest = 0;
        int nearestDistance = -1;
        for (int i = 0; i < markerXs.size(); ++i) {
            const double dx = markerXs[i] - x;
            const double dy = markerYs[i] - y;
            const int distance = static_cast<int>(std::sqrt(dx * dx + dy * dy));
            if (nearestDistance < 0 || distance < nearestDistance) {
                nearest = i;
                nearestDistance = distance;
            }
        }
        if (nearestDistance <= boxSize / 2) {
            markerXs.removeAt(nearest);
            markerYs.removeAt(nearest);
            if (nearest < markerItems.size())
                delete markerItems.takeAt(nearest);
        }
    }
}

void mdiImage::focusChangedEvent(QWidget *, QWidget *newO)
{
    if (isPreview)
        return;
    if (newO == this)
        emit gotFocus(this);
    update();
}

void mdiImage::evGSReleaseEvent(QGraphicsSceneMouseEvent *)
{
}

void mdiImage::testPreview(MessageLog *previewLog)
{
    if (previewLog)
        log = previewLog;
    if (!buffer)
        return;
    sink().logMessage(QStringLiteral("enabling preview..."));

    QPoint origin(0, 0);
    QSize size(width() - 2, height() - 2);
    if (hasSelection()) {
        const QPointF first = mapToScene(QPoint(selection.x, selection.y));
        const QPointF second = mapToScene(QPoint(selection.x + selection.width - 1, selection.y + selection.height - 1));
        origin = QPoint(static_cast<int>(first.x()), static_cast<int>(first.y()));
        size = QSize(static_cast<int>(second.x() - first.x()), static_cast<int>(second.y() - first.y()));
    }
    const int outWidth = static_cast<int>(size.width() * zoom);
    const int outHeight = static_cast<int>(size.height() * zoom);

    testPreviewBuffer = std::make_unique<ImageBuffer>(outWidth, outHeight);
    sink().logMessage(QStringLiteral("Generating preview buffer..."));
    const int offsetX = static_cast<int>(zoom * origin.x());
    const int offsetY = static_cast<int>(zoom * origin.y());
    for (int j = 0; j < testPreviewBuffer->height; ++j) {
        for (int i = 0; i < testPreviewBuffer->width; ++i) {
            const FloatRGB value = buffer->getPixel(i + offsetX, j + offsetY);
            float *p = testPreviewBuffer->pixel(i, j);
            p[0] = value.r;
            p[1] = value.g;
            p[2] = value.b;
            p[3] = value.a;
        }
    }
    testPreviewBuffer->whiteLevel = buffer->whiteLevel;
    testPreviewBuffer->blackLevel = buffer->blackLevel;

    sink().logMessage(QStringLiteral("Done."));
    sink().logMessage(QStringLiteral("Displaying..."));
    QImage image(std::max(outWidth, 0), std::max(outHeight, 0), QImage::Format_RGB32);
    // A white level below 1 would make the factor infinite; such images show as white.
    const float white = std::trunc(buffer->whiteLevel);
    const float factor = white > 0.0f ? 255.0f / white : 255.0f;
    for (int j = 0; j < image.height(); ++j) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(j));
        for (int i = 0; i < image.width(); ++i) {
            const float *p = testPreviewBuffer->pixel(i, j);
            int n[3];
            for (int c = 0; c < 3; ++c) {
                const float v = p[c] * factor * testGain[c] + testOffset[c];
                n[c] = std::isnan(v) ? 0 : static_cast<int>(std::clamp(v, 0.0f, 255.0f));
            }
            line[i] = qRgb(n[0], n[1], n[2]);
        }
    }
    replaceScene(QRectF(0, 0, image.width(), image.height()));
    scene->addPixmap(QPixmap::fromImage(image));
    connect(scene, SIGNAL(changed(const QList<QRectF> &)), this, SLOT(update()));
    testPreviewActive = true;
    sink().logMessage(QStringLiteral("Preview ready."));
}

void mdiImage::destroyTestPreview()
{
    testPreviewBuffer.reset();
    testPreviewActive = false;
    selectionShown = false;
    selection.width = 0;
    sink().logMessage(QStringLiteral("Preview destroyed."));
    updateBuffer();
    displayBuffer();
}
