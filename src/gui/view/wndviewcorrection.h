#pragma once
// The "View Correction" panel: black point, gamma and white point per channel, or an
// automatic stretch from the luminance histogram. It only edits values; the main window
// applies them to the current image when "Update" is pressed. It cannot be closed. The Auto
// box keeps its state from one run to the next (verdanix.ini, ViewCorrection/Auto).
#include <QWidget>

class QCheckBox;
class QDoubleSpinBox;
class QFrame;
class QGroupBox;
class QPushButton;

class wndViewCorrection : public QWidget {
    Q_OBJECT
public:
    explicit wndViewCorrection(QWidget *parent = nullptr);

    QFrame *frame = nullptr;
    QCheckBox *cbAuto = nullptr;
    QDoubleSpinBox *dsbAuto = nullptr;
    QGroupBox *groupBox_3 = nullptr;
    QGroupBox *groupBox_5 = nullptr;
    QGroupBox *groupBox_4 = nullptr;
    QDoubleSpinBox *dsMinR = nullptr, *dsMinG = nullptr, *dsMinB = nullptr;
    QDoubleSpinBox *dsMidR = nullptr, *dsMidG = nullptr, *dsMidB = nullptr;
    QDoubleSpinBox *dsMaxR = nullptr, *dsMaxG = nullptr, *dsMaxB = nullptr;
    QPushButton *pbUpdate = nullptr;

signals:
    void vcUpdate();

public slots:
    void clickedUpdate();

protected:
    void closeEvent(QCloseEvent *event) override;
};
