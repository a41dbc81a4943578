#pragma once
// The registration dialog ("Image Registration"): the light frames with one result row each,
// the master frames, the star-detection parameters and the stacking options. "Register" and
// "Stack" hand the dialog to the main window, which runs the registration and the stacking
// and writes the registration results back through updateFrameRow. The table and its
// FrameEntry list stay row for row in step. GUI thread only.
#include "stars/registrationoptions.h"

#include <QList>
#include <QStringList>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTabWidget;
class QTableWidget;

// One light frame of the table.
struct FrameEntry {
    QString path;
    float offsetX = 0.0f; // pixels, against the first frame
    float offsetY = 0.0f;
    float angle = 0.0f;   // degrees
    float stars = 0.0f;
    float fwhm = 0.0f;
    bool stackable = false;
    // The row's check box, as of the last frameEntries() call.
    bool selected = true;
    bool registered = false;
};

class wndRegistrationData : public QWidget {
    Q_OBJECT
public:
    // Table columns.
    enum Column { FileColumn, OffsetXColumn, OffsetYColumn, AngleColumn, StarsColumn, FwhmColumn, StackableColumn,
                  ColumnCount };

    explicit wndRegistrationData(QWidget *parent = nullptr);

    // Appends a checked row. Unregistered rows show empty results and "no" under "Stackable".
    void addFrameRow(const QString &path, float offsetX, float offsetY, float angle, float stars, float fwhm,
                     bool stackable, bool registered);
    // Writes the results into every row of `path` (a frame listed twice gets both rows).
    void updateFrameRow(const QString &path, float offsetX, float offsetY, float angle, float stars, float fwhm,
                        bool stackable);
    // Every frame in table order, checked or not: registration measures them all.
    QStringList frameFiles() const;
    // The entries with `selected` refreshed from the check boxes: what stacking may use.
    QList<FrameEntry> frameEntries();

    QTableWidget *twList = nullptr;
    QPushButton *pbAddFiles = nullptr;
    QPushButton *pbRemove = nullptr;
    QPushButton *pbUp = nullptr;
    QPushButton *pbDown = nullptr;
    QGroupBox *gbCalibration = nullptr;
    QLineEdit *leFlat = nullptr;
    QPushButton *pbFlat = nullptr;
    QLineEdit *leDark = nullptr;
    QPushButton *pbDark = nullptr;
    QLineEdit *leBias = nullptr;
    QPushButton *pbBias = nullptr;
    QPushButton *pbStack = nullptr;
    QTabWidget *tabWidget = nullptr;
    QDoubleSpinBox *dsMinBright = nullptr;
    QDoubleSpinBox *dsMaxBright = nullptr;
    QSpinBox *sbStarSize = nullptr;
    QDoubleSpinBox *dsFWHM = nullptr;
    QComboBox *cbAlgo = nullptr;
    QComboBox *cbReject = nullptr;
    QDoubleSpinBox *dsSigma = nullptr;
    QDoubleSpinBox *dsThreshold = nullptr;
    QComboBox *cbNormalize = nullptr; // None, Additive, Multiplicative, Additive with scaling
    QCheckBox *cbCoverage = nullptr;  // "Ignore pixels outside a frame", off
    QComboBox *cbWeights = nullptr;   // None, Noise, Noise and FWHM
    QPushButton *pbRegister = nullptr;
    // Automatic threshold, refinement and interpolation (registrationoptions.h).
    RegistrationOptionBoxes options;

signals:
    void stack(wndRegistrationData *sender);
    void sigRegister(wndRegistrationData *sender);

public slots:
    void browseDark();
    void browseFlat();
    void browseBias();
    void emitStack();
    void browseFrames();
    void registerFrames();
    void moveUp();
    void moveDown();
    // Removes the selected rows and their entries.
    void removeFrames();

private:
    void buildForm();
    // Stores a row's results in its entry (selected again) and shows them.
    void setResults(int row, float offsetX, float offsetY, float angle, float stars, float fwhm, bool stackable,
                    bool registered);
    void writeResults(int row, const FrameEntry &entry);
    // Exchanges two rows: texts, check state and entries.
    void swapRows(int first, int second);
    // The one row the user has chosen, or -1 when none or several are selected.
    int singleChosenRow() const;

    QList<FrameEntry> entries;
};
