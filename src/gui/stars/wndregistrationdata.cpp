#include "wndregistrationdata.h"

#include "app/filedialogs.h"
#include "app/formwidgets.h"
#include "app/framefilefilter.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

using namespace formwidgets;

namespace {



QString resultText(float value)
{
    return QString::number(static_cast<double>(value), 'g', 6);
}

} // namespace

wndRegistrationData::wndRegistrationData(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("wndRegistrationData"));
    setWindowTitle(QStringLiteral("Image Registration"));
    buildForm();

    connect(pbAddFiles, SIGNAL(clicked()), this, SLOT(browseFrames()));
    connect(pbRemove, SIGNAL(clicked()), this, SLOT(removeFrames()));
    connect(pbUp, SIGNAL(clicked()), this, SLOT(moveUp()));
    connect(pbDown, SIGNAL(clicked()), this, SLOT(moveDown()));
    connect(pbFlat, SIGNAL(clicked()), this, SLOT(browseFlat()));
    connect(pbDark, SIGNAL(clicked()), this, SLOT(browseDark()));
    connect(pbBias, SIGNAL(clicked()), this, SLOT(browseBias()));
    connect(pbStack, SIGNAL(clicked()), this, SLOT(emitStack()));
    connect(pbRegister, SIGNAL(clicked()), this, SLOT(registerFrames()));
}

void wndRegistrationData::buildForm()
{
    auto *column = new QVBoxLayout(this);

    twList = new QTableWidget(0, ColumnCount, this);
    twList->setObjectName(QStringLiteral("twList"));
    twList->setHorizontalHeaderLabels({QStringLiteral("File"), QStringLiteral("X Offset"), QStringLiteral("Y Offset"),
                                       QStringLiteral("Angle"), QStringLiteral("Stars"), QStringLiteral("FWHM"),
                                       QStringLiteral("Stackable")});
    twList->setSelectionBehavior(QAbstractItemView::SelectRows);
    twList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    twList->horizontalHeader()->setSectionResizeMode(FileColumn, QHeaderView::Stretch);
    column->addWidget(twList);

    auto *listButtons = new QHBoxLayout;
    pbAddFiles = button(this, "pbAddFiles", QStringLiteral("Add Files..."));
    pbRemove = button(this, "pbRemove", QStringLiteral("Remove"));
    pbUp = button(this, "pbUp", QStringLiteral("Up"));
    pbDown = button(this, "pbDown", QStringLiteral("Down"));
    for (QPushButton *b : {pbAddFiles, pbRemove, pbUp, pbDown})
        listButtons->addWidget(b);
    listButtons->addStretch();
    column->addLayout(listButtons);

    auto *lower = new QHBoxLayout;
    auto *left = new QVBoxLayout;
    gbCalibration = new QGroupBox(QStringLiteral("Calibration"), this);
    gbCalibration->setObjectName(QStringLiteral("gbCalibration"));
    auto *masters = new QGridLayout(gbCalibration);
    leFlat = new QLineEdit(gbCalibration);
    leFlat->setObjectName(QStringLiteral("leFlat"));
    pbFlat = browseButton(gbCalibration, "pbFlat");
    leDark = new QLineEdit(gbCalibration);
    leDark->setObjectName(QStringLiteral("leDark"));
    pbDark = browseButton(gbCalibration, "pbDark");
    leBias = new QLineEdit(gbCalibration);
    leBias->setObjectName(QStringLiteral("leBias"));
    pbBias = browseButton(gbCalibration, "pbBias");
    QLineEdit *const fields[] = {leFlat, leDark, leBias};
    QPushButton *const browsers[] = {pbFlat, pbDark, pbBias};
    const QStringList labels = {QStringLiteral("Masterflat"), QStringLiteral("Masterdark"),
                                QStringLiteral("Masterbias")};
    addPathRows(masters, labels, fields, browsers);
    left->addWidget(gbCalibration);
    pbStack = button(this, "pbStack", QStringLiteral("Stack"));
    left->addWidget(pbStack);
    left->addStretch();
    lower->addLayout(left, 1);

    auto *right = new QVBoxLayout;
    tabWidget = new QTabWidget(this);
    tabWidget->setObjectName(QStringLiteral("tabWidget"));

    auto *registration = new QWidget(tabWidget);
    auto *registrationColumn = new QVBoxLayout(registration);
    auto *detection = new QGroupBox(QStringLiteral("Star Detection"), registration);
    auto *detectionForm = new QFormLayout(detection);
    dsMinBright = realBox(detection, "dsMinBright", 0.0, 1.0, 3, 0.01, 0.1);
    registrationoptions::addThresholdRow(detectionForm, QStringLiteral("Threshold:"), dsMinBright, options);
    registrationColumn->addWidget(detection);
    auto *advanced = new QGroupBox(QStringLiteral("Advanced"), registration);
    auto *advancedForm = new QFormLayout(advanced);
    dsMaxBright = realBox(advanced, "dsMaxBright", 0.0, 1.0, 3, 0.01, 0.98);
    advancedForm->addRow(QStringLiteral("Max. Brightness"), dsMaxBright);
    sbStarSize = new QSpinBox(advanced);
    sbStarSize->setObjectName(QStringLiteral("sbStarSize"));
    sbStarSize->setRange(1, 20);
    sbStarSize->setValue(10);
    advancedForm->addRow(QStringLiteral("maximum star size:"), sbStarSize);
    dsFWHM = realBox(advanced, "dsFWHM", 1.0, 99.99, 2, 1.0, 10.0);
    advancedForm->addRow(QStringLiteral("maximum FWHM:"), dsFWHM);
    registrationoptions::addAdvancedRows(advancedForm, options);
    registrationColumn->addWidget(advanced);
    tabWidget->addTab(registration, QStringLiteral("Registration"));

    auto *integration = new QWidget(tabWidget);
    auto *integrationColumn = new QVBoxLayout(integration);
    auto *stacking = new QGroupBox(QStringLiteral("Stacking Options"), integration);
    auto *stackingForm = new QFormLayout(stacking);
    cbAlgo = new QComboBox(stacking);
    cbAlgo->setObjectName(QStringLiteral("cbAlgo"));
    cbAlgo->addItems({QStringLiteral("Average"), QStringLiteral("Median"), QStringLiteral("Sigma")});
    stackingForm->addRow(QStringLiteral("Primary Algorithm"), cbAlgo);
    cbReject = new QComboBox(stacking);
    cbReject->setObjectName(QStringLiteral("cbReject"));
    cbReject->addItems({QStringLiteral("None"), QStringLiteral("Winsorize"), QStringLiteral("Trim")});
    stackingForm->addRow(QStringLiteral("Rejection Algorithm"), cbReject);
    dsSigma = realBox(stacking, "dsSigma", 0.0, 99.99, 2, 1.0, 1.0);
    stackingForm->addRow(QStringLiteral("Sigma Units:"), dsSigma);
    dsThreshold = realBox(stacking, "dsThreshold", 0.0, 99.99, 2, 0.1, 0.1);
    stackingForm->addRow(QStringLiteral("Reject Threshold:"), dsThreshold);
    // Beyond the stacking options as they always were: off ("None") when the dialog opens.
    cbNormalize = comboBox(stacking, "cbNormalize",
                           {QStringLiteral("None"), QStringLiteral("Additive"), QStringLiteral("Multiplicative"),
                            QStringLiteral("Additive with scaling")});
    cbNormalize->setToolTip(QStringLiteral("Bring every frame to the first frame's sky level (and noise) before the "
                                           "frames are combined; the log lists each frame's factors."));
    stackingForm->addRow(QStringLiteral("Normalization:"), cbNormalize);
    cbCoverage = new QCheckBox(QStringLiteral("Ignore pixels outside a frame"), stacking);
    cbCoverage->setObjectName(QStringLiteral("cbCoverage"));
    cbCoverage->setToolTip(QStringLiteral("Each pixel of the stack combines only the frames that cover it, so the "
                                          "borders where frames do not overlap stay as bright as the centre."));
    stackingForm->addRow(QString(), cbCoverage);
    cbWeights = comboBox(stacking, "cbWeights",
                         {QStringLiteral("None"), QStringLiteral("Noise"), QStringLiteral("Noise and FWHM")});
    cbWeights->setToolTip(QStringLiteral("Weigh each frame by its sky noise (and FWHM) in the average and the "
                                         "sigma-clipped mean; the log lists each frame's weight."));
    stackingForm->addRow(QStringLiteral("Weights:"), cbWeights);
    integrationColumn->addWidget(stacking);
    tabWidget->addTab(integration, QStringLiteral("Integration"));
    tabWidget->setCurrentIndex(0);
    right->addWidget(tabWidget);

    pbRegister = button(this, "pbRegister", QStringLiteral("Register"));
    right->addWidget(pbRegister);
    lower->addLayout(right, 1);
    column->addLayout(lower);
}

void wndRegistrationData::addFrameRow(const QString &path, float offsetX, float offsetY, float angle, float stars,
                                      float fwhm, bool stackable, bool registered)
{
    const int row = twList->rowCount();
    twList->insertRow(row);
    auto *file = new QTableWidgetItem(path);
    file->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    file->setCheckState(Qt::Checked);
    twList->setItem(row, FileColumn, file);
    // Every cell gets an item, empty ones too, so that a selected row counts all its columns.
    for (int c = OffsetXColumn; c < ColumnCount; ++c) {
        auto *cell = new QTableWidgetItem;
        cell->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        twList->setItem(row, c, cell);
    }

    FrameEntry entry;
    entry.path = path;
    entries.append(entry);
    setResults(row, offsetX, offsetY, angle, stars, fwhm, stackable, registered);
}

void wndRegistrationData::updateFrameRow(const QString &path, float offsetX, float offsetY, float angle, float stars,
                                         float fwhm, bool stackable)
{
    for (int row = 0; row < entries.size(); ++row) {
        if (entries[row].path != path)
            continue;
        setResults(row, offsetX, offsetY, angle, stars, fwhm, stackable, true);
    }
}

void wndRegistrationData::setResults(int row, float offsetX, float offsetY, float angle, float stars, float fwhm,
                                     bool stackable, bool registered)
{
    FrameEntry &entry = entries[row];
    entry.offsetX = offsetX;
    entry.offsetY = offsetY;
    entry.angle = angle;
    entry.stars = stars;
    entry.fwhm = fwhm;
    entry.stackable = stackable;
    entry.selected = true;
    entry.registered = registered;
    writeResults(row, entry);
}

void wndRegistrationData::writeResults(int row, const FrameEntry &entry)
{
    const float values[5] = {entry.offsetX, entry.offsetY, entry.angle, entry.stars, entry.fwhm};
    for (int c = OffsetXColumn; c <= FwhmColumn; ++c)
        twList->item(row, c)->setText(entry.registered ? resultText(values[c - OffsetXColumn]) : QString());
    twList->item(row, StackableColumn)
        ->setText(entry.registered && entry.stackable ? QStringLiteral("yes") : QStringLiteral("no"));
}

QStringList wndRegistrationData::frameFiles() const
{
    QStringList files;
    for (const FrameEntry &entry : entries)
        files << entry.path;
    return files;
}

QList<FrameEntry> wndRegistrationData::frameEntries()
{
    for (int row = 0; row < entries.size(); ++row)
        entries[row].selected = twList->item(row, FileColumn)->checkState() == Qt::Checked;
    return entries;
}

void wndRegistrationData::browseDark()
{
    filedialogs::chooseFrameFile(this, leDark, QStringLiteral("Select Dark Frame"));
}

void wndRegistrationData::browseFlat()
{
    filedialogs::chooseFrameFile(this, leFlat, QStringLiteral("Select Flat Frame"));
}

void wndRegistrationData::browseBias()
{
    filedialogs::chooseFrameFile(this, leBias, QStringLiteral("Select Bias Frame"));
}

void wndRegistrationData::emitStack()
{
    emit stack(this);
}

void wndRegistrationData::browseFrames()
{
    const QStringList files =
        filedialogs::openFiles(this, QStringLiteral("Select Light Frames"), QString::fromLatin1(kFrameFileFilter));
    for (const QString &file : files)
        addFrameRow(file, 0, 0, 0, 0, 0, false, false);
}

void wndRegistrationData::registerFrames()
{
    emit sigRegister(this);
}

int wndRegistrationData::singleChosenRow() const
{
    QSet<int> rows;
    for (const QModelIndex &index : twList->selectionModel()->selectedIndexes())
        rows.insert(index.row());
    return rows.size() > 1 ? -1 : twList->currentRow();
}

void wndRegistrationData::moveUp()
{
    const int row = singleChosenRow();
    if (row <= 0)
        return;
    swapRows(row, row - 1);
    twList->setCurrentCell(row - 1, FileColumn);
    twList->selectRow(row - 1);
}

void wndRegistrationData::moveDown()
{
    const int row = singleChosenRow();
    if (row < 0 || row >= twList->rowCount() - 1)
        return;
    swapRows(row, row + 1);
    twList->setCurrentCell(row + 1, FileColumn);
    twList->selectRow(row + 1);
}

void wndRegistrationData::swapRows(int first, int second)
{
    for (int c = 0; c < ColumnCount; ++c) {
        QTableWidgetItem *a = twList->takeItem(first, c);
        QTableWidgetItem *b = twList->takeItem(second, c);
        twList->setItem(first, c, b);
        twList->setItem(second, c, a);
    }
    entries.swapItemsAt(first, second);
}

void wndRegistrationData::removeFrames()
{
    QList<int> rows;
    for (const QModelIndex &index : twList->selectionModel()->selectedIndexes())
        if (!rows.contains(index.row()))
            rows << index.row();
    // From the bottom up, so that the rows still to go keep their numbers.
    std::sort(rows.begin(), rows.end(), std::greater<int>());
    for (int row : rows) {
        twList->removeRow(row);
        entries.removeAt(row);
    }
}
