#pragma once
// The image-statistics window: per channel the minimum, maximum, mean, median, standard
// deviation and sigma-clipped mean of the selection of the current image, or of the whole
// image without one. It only shows what it is given; the main window hands it the current
// image whenever the active window or its selection changes. Non-modal, GUI thread only.
#include <QWidget>

class ImageBuffer;
class QLabel;
class QTableWidget;
struct SelectionRect;

class wndImageStats : public QWidget {
    Q_OBJECT
public:
    explicit wndImageStats(QWidget *parent = nullptr);

    // The factor of the clipped mean, as the background tools use it.
    static constexpr float kClipSigma = 1.0f;

    // Shows the statistics of `buffer` over `selection` (none: the whole image), naming the
    // image `title`; null buffer: "No image".
    void showStatistics(const QString &title, const ImageBuffer *buffer, const SelectionRect &selection);

    QLabel *lblSource = nullptr;
    QTableWidget *table = nullptr;
};
