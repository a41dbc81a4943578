#pragma once
// The star-search panel ("Star Search"): light frames, master frames and star-detection
// parameters for the registration that runs frame after frame on the GUI thread. "Analyze"
// hands the panel to the main window, which registers the frames and opens a registration
// dialog with the results. The main window connects the buttons. GUI thread only.
#include "stars/registrationoptions.h"

#include <QStringList>
#include <QWidget>

class QComboBox;
class QDoubleSpinBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSpinBox;
class QTabWidget;

class wndStarSearch : public QWidget {
    Q_OBJECT
public:
    explicit wndStarSearch(QWidget *parent = nullptr);

    // The texts of the list's items, in list order.
    QStringList fileList() const;

    QPushButton *pushButton = nullptr; // "Close"
    QPushButton *pbAnalyze = nullptr;
    QTabWidget *tabWidget = nullptr;
    QLineEdit *leFlat = nullptr;
    QPushButton *pbMF = nullptr;
    QLineEdit *leDark = nullptr;
    QPushButton *pbMD = nullptr;
    QLineEdit *leBias = nullptr;
    QPushButton *pbMB = nullptr;
    QDoubleSpinBox *dsMinBright = nullptr;
    QComboBox *cbPA = nullptr;
    QComboBox *cbRA = nullptr;
    QDoubleSpinBox *dsMaxBright = nullptr;
    QSpinBox *sbStarSize = nullptr;
    QDoubleSpinBox *dsFWHM = nullptr;
    QDoubleSpinBox *dsbSigma = nullptr;
    QDoubleSpinBox *dsbTrim = nullptr;
    QListWidget *lwFiles = nullptr;
    QPushButton *pbAddFiles = nullptr;
    QPushButton *pbRemove = nullptr;
    // Automatic threshold, refinement and interpolation (registrationoptions.h).
    RegistrationOptionBoxes options;

signals:
    void returnList(wndStarSearch *sender);

public slots:
    void addFiles();
    void slotAnalyze();
    void slotSelectFlat();
    void slotSelectDark();
    void slotSelectBias();
    void removeFiles();
};
