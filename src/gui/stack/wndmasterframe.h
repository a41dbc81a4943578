#pragma once
// The master-frame panel: the single calibration frames, how to combine them, the frame type
// and the masters that calibrate each single frame. "Generate" hands the panel to the main
// window, which runs the generation; the panel only collects input. GUI thread only.
#include <QStringList>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

class wndMasterFrame : public QWidget {
    Q_OBJECT
public:
    // Indices of the type box.
    enum FrameType { FlatFrame = 0, DarkFrame = 1, BiasFrame = 2, DarkFlatFrame = 3 };

    explicit wndMasterFrame(QWidget *parent = nullptr);

    // The full paths of the listed frames, in list order.
    QStringList framePaths() const;

    QPushButton *pbCancel = nullptr;
    QGroupBox *gbSettings = nullptr;
    QLabel *labelMethod = nullptr;
    QComboBox *cbMethod = nullptr;
    QLabel *labelRejection = nullptr;
    QComboBox *cbRejection = nullptr;
    QCheckBox *cbNormalize = nullptr;
    QGroupBox *gbType = nullptr;
    QComboBox *cbType = nullptr;
    QPushButton *pbGenerate = nullptr;
    QGroupBox *gbFrames = nullptr;
    QListWidget *lwFrames = nullptr;
    QPushButton *pbRemove = nullptr;
    QPushButton *pbAdd = nullptr;
    QGroupBox *gbCalibration = nullptr;
    QLabel *labelBias = nullptr;
    QLineEdit *leBias = nullptr;
    QPushButton *pbBias = nullptr;
    QLabel *labelDarkFlat = nullptr;
    QLineEdit *leDarkFlat = nullptr;
    QPushButton *pbDarkFlat = nullptr;

signals:
    void generateFrame(wndMasterFrame *sender);

public slots:
    void addFiles();
    void slotGenerate();
    void deleteFiles();
    void browseBias();
    void browseDarkFlat();
    // Enables the masters and the normalisation that the frame type can use; a master the
    // type cannot use is cleared, so that a later switch back does not use a forgotten one.
    void updateElements(int framtype);
};
