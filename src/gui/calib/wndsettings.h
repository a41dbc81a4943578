#pragma once
// The preferences dialog: preview gamma, debayering of colour camera FITS, and the threads
// and memory the batch runs may use.
// It shows the stored values clamped to this machine, and writes them only on OK.
#include <QWidget>

#include <cstdint>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QPushButton;
class QSpinBox;
class QTabWidget;

class wndSettings : public QWidget {
    Q_OBJECT
public:
    // The machine's figures are parameters so that other machines can be tried in tests.
    explicit wndSettings(QWidget *parent, int machineThreads, std::uint64_t machineTotalMB);
    explicit wndSettings(QWidget *parent = nullptr);

    QTabWidget *tabWidget = nullptr;
    QComboBox *cbLanguage = nullptr;
    QCheckBox *cbPreviewGamma = nullptr;
    QDoubleSpinBox *dsbPreviewGamma = nullptr;
    QCheckBox *cbDebayer = nullptr;
    QCheckBox *cbStretchNew = nullptr;
    QSpinBox *sbThreads = nullptr;
    QSpinBox *sbMemory = nullptr;
    QSpinBox *sbMemPercent = nullptr;
    QPushButton *pbOK = nullptr;
    QPushButton *pbCancel = nullptr;

public slots:
    void evSaveSettings();
    void evCancel();

private:
    void buildForm();
    void showStoredValues(int machineThreads, std::uint64_t machineTotalMB);
};
