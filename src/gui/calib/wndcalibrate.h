#pragma once
// The calibration panel: light frames, master frames and the output folder. "Calibrate"
// hands the panel to the main window, which runs the calibration.
#include <QWidget>

class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

class wndCalibrate : public QWidget {
    Q_OBJECT
public:
    explicit wndCalibrate(QWidget *parent = nullptr);

    // The full paths of the listed light frames, in list order.
    QStringList lightFrames() const;

    QGroupBox *gbLights = nullptr;
    QListWidget *lwFrames = nullptr;
    QPushButton *pbAdd = nullptr;
    QPushButton *pbDelete = nullptr;
    QGroupBox *gbMasters = nullptr;
    QLabel *labelFlat = nullptr;
    QLineEdit *leFlat = nullptr;
    QPushButton *pbFlat = nullptr;
    QLabel *labelDark = nullptr;
    QLineEdit *leDark = nullptr;
    QPushButton *pbDark = nullptr;
    QLabel *labelBias = nullptr;
    QLineEdit *leBias = nullptr;
    QPushButton *pbBias = nullptr;
    QGroupBox *gbOutput = nullptr;
    QLineEdit *leOutput = nullptr;
    QPushButton *pbOutput = nullptr;
    QPushButton *pbCalibrate = nullptr;

signals:
    void doCalibrate(QObject *panel);

public slots:
    void sCalibrate();
    void sAdd();
    void sBias();
    void sDark();
    void sFlat();
    void sDelete();
    void sOut();
};
