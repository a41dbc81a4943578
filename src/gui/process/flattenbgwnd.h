#pragma once
// The flatten tool's panel: marker size, model exponent and multiplier, automatic grid
// placement and manual placement settings. It only emits what the user asks for; the main
// window does the work on the image whose markers the tool edits.
#include <QWidget>

class QCheckBox;
class QDoubleSpinBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTabWidget;

class flattenbgwnd : public QWidget {
    Q_OBJECT
public:
    explicit flattenbgwnd(QWidget *parent = nullptr);

    // Names the image whose markers the tool edits.
    void setTarget(const QString &label);

    QLabel *lblTarget = nullptr;
    QPushButton *pbClose = nullptr;
    QPushButton *pbApply = nullptr;
    QGroupBox *gbGeneral = nullptr;
    QDoubleSpinBox *dsbExponent = nullptr;
    QSpinBox *sbMarkerSize = nullptr;
    QDoubleSpinBox *dsbMultiplier = nullptr;
    QTabWidget *tabWidget = nullptr;
    QPushButton *pbPlace = nullptr;
    QDoubleSpinBox *dsbSigma = nullptr;
    QSpinBox *sbBoxCount = nullptr;
    QPushButton *pbClear = nullptr;
    QCheckBox *cbAutoDistance = nullptr;
    QSpinBox *sbDistance = nullptr;
    int savedDistance = 100;

signals:
    void clickedOK(int value, double pow, int dist, double mult);
    void emitBoxSize(int value);
    void clickedAuto(int value, int count, double sigma);
    void clickedClear();
    void windowClosed();

public slots:
    void emitOK();
    void cancel();
    void emitValue(int value);
    void setAuto(int state);
    void autoPlace();
    void clearAuto();

protected:
    void closeEvent(QCloseEvent *event) override;
};
