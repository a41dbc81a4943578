#pragma once
// The colour-gain dialog: three channel factors with a live preview on a reduced copy of
// the current image. Every change starts again from the copy kept when the dialog opened,
// so factors never compound. OK hands the factors to the main window, which applies them
// to the full image.
#include <QDialog>
#include <QPointer>

#include <memory>

class ImageBuffer;
class QDoubleSpinBox;
class QLabel;
class QMdiSubWindow;
class QPushButton;
class mdiImage;

class GainWindow : public QDialog {
    Q_OBJECT
public:
    explicit GainWindow(QWidget *parent = nullptr);
    ~GainWindow() override;

    // Takes the preview window to drive; keeps a copy of its buffer as it is now.
    void attachPreview(mdiImage *window);

    // The image the gain is for, so that windows of the same name are told apart.
    QLabel *labelImage = nullptr;
    QLabel *labelRed = nullptr;
    QDoubleSpinBox *dsRed = nullptr;
    QPushButton *pbCancel = nullptr;
    QPushButton *pbOK = nullptr;
    QLabel *labelGreen = nullptr;
    QDoubleSpinBox *dsGreen = nullptr;
    QLabel *labelBlue = nullptr;
    QDoubleSpinBox *dsBlue = nullptr;

    // The image the dialog was opened on: OK applies the gain to it, whichever window is
    // active by then. Null once that window has been closed.
    QPointer<mdiImage> sourceWindow;
    QPointer<mdiImage> previewWindow;
    std::unique_ptr<ImageBuffer> keptCopy;
    QPointer<QMdiSubWindow> previewSubWindow;

signals:
    void clickedOK(float valueR, float valueG, float valueB);

public slots:
    void emitOK();
    void cancel();
    void valChanged(double);

private:
    void closePreview();
};
