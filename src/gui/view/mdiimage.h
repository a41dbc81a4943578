#pragma once
// The window that shows one image inside the main window's document area: an 8-bit preview
// of its ImageBuffer through the view correction, zoom by factors of two with the wheel, the
// colour under the pointer, a selection rectangle dragged with the left button, and, while
// the flatten tool works on it, square background markers placed and removed by clicks.
// Coordinates are image pixels, origin top-left, y down. The window owns its buffer and
// deletes itself (and the buffer) when closed. GUI thread only.
#include "image/floatrgb.h"
#include "image/imagebuffer.h"

#include <QGraphicsView>
#include <QImage>
#include <QList>
#include <QUuid>

#include <memory>
#include <vector>

class MessageLog;
struct GridMarker;
class QGraphicsRectItem;
class QGraphicsScene;
class QGraphicsSceneMouseEvent;

struct SelectionRect {
    int x = 0;
    int y = 0;
    int width = -1; // <= 0: no selection
    int height = 0;
    int zoom = 1; // the zoom (truncated) when it was drawn
};

class mdiImage : public QGraphicsView {
    Q_OBJECT
public:
    explicit mdiImage(QWidget *parent = nullptr);
    ~mdiImage() override;

    // The title is the name, followed by " (n)" once the image has been derived n times.
    void setName(const QString &newName);
    QString getName();

    // Rebuilds previewImage from buffer and the view correction.
    void updateBuffer();
    // Shows previewImage (building it first if needed) with the markers and the selection.
    void displayBuffer();

    void testPreview(MessageLog *previewLog);
    void destroyTestPreview();
    void clearMarkers();
    // The background tool starts on this window: no test preview, no selection, no markers
    // yet; clicks place box markers from now on.
    void enterMarkerMode();
    // The tool has ended or moved to another window: its markers go, clicks select again.
    void leaveMarkerMode();
    // The automatic placement's markers in place of the window's, boxes of `size` drawn around
    // the unrounded grid positions; `step` is the grid's spacing, which the model uses. Stops
    // if the tool ends meanwhile (adding markers repaints).
    void placeAutoMarkers(const std::vector<GridMarker> &markers, int size, float step);
    // Adds a marker centred on (x, y) whose box is drawn from (left, top); automatic
    // placement draws the box around the unrounded grid position.
    void addMarker(int x, int y, double left, double top);

    bool hasSelection() const { return selection.width > 0; }
    // Written to a file: closing it no longer asks whether to save.
    void markSaved() { unsavedResult = false; }

    // Zoom from the menu: the wheel's steps of two, 100 % and the zoom that shows the whole
    // image in the window. Each reports the new zoom through zoomChanged.
    void zoomIn();
    void zoomOut();
    void zoomActualSize();
    void zoomToFit();

    QImage previewImage;
    QGraphicsScene *scene = nullptr;
    bool sceneOwned = false;
    std::unique_ptr<ImageBuffer> buffer;
    std::unique_ptr<ImageBuffer> testPreviewBuffer;
    double zoom = 1.0;
    int pressX = 0;
    int pressY = 0;
    bool dragging = false;
    SelectionRect selection;
    bool selectionShown = false;
    QGraphicsRectItem *selectionItem = nullptr;
    bool testPreviewActive = false;
    MessageLog *log = nullptr;
    bool markerMode = false;
    int boxSize = 11;
    QList<int> markerXs;
    QList<int> markerYs;
    QList<QGraphicsRectItem *> markerItems;
    bool previewBuilt = false;
    float testGain[3] = {1.0f, 1.0f, 1.0f};
    float testOffset[3] = {0.0f, 0.0f, 0.0f};
    float vcBlack[3] = {0.0f, 0.0f, 0.0f};
    float vcGamma[3] = {1.0f, 1.0f, 1.0f};
    float vcWhite[3] = {1.0f, 1.0f, 1.0f};
    int titleCounter = 0;
    QString name;
    QUuid windowId;
    bool displayError = false;
    bool isPreview = false;
    float autoStep = 0.0f;
    // The window holds a result that has not been saved (cleared by a successful save);
    // windows opened from files and previews never do.
    bool unsavedResult = false;

signals:
    void returnColor(FloatRGB value);
    void gotFocus(QWidget *widget);
    // After every returnColor: the pixel position, and whether it lies in the image.
    void pointerMoved(int x, int y, bool insideImage);
    void pointerLeft();
    void zoomChanged(double zoom);
    // A selection was drawn or cleared.
    void selectionChanged();

public slots:
    void focusChangedEvent(QWidget *oldO, QWidget *newO);
    void evGSReleaseEvent(QGraphicsSceneMouseEvent *);

protected:
    void wheelEvent(QWheelEvent *evt) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    void replaceScene(const QRectF &rect);
    void addMarkerItem(double left, double top);
    void applyPenWidths();
    void scaleZoom(double factor);
    MessageLog &sink() const;
};
