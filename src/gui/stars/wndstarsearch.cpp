#include "wndstarsearch.h"

#include "app/filedialogs.h"
#include "app/formwidgets.h"
#include "app/framefilefilter.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

using namespace formwidgets;

wndStarSearch::wndStarSearch(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("wndStarSearch"));
    setWindowTitle(QStringLiteral("Star Search"));
    auto *column = new QVBoxLayout(this);

    tabWidget = new QTabWidget(this);
    tabWidget->setObjectName(QStringLiteral("tabWidget"));

    auto *basic = new QWidget(tabWidget);
    auto *basicColumn = new QVBoxLayout(basic);
    auto *calibration = new QGroupBox(QStringLiteral("Calibration Frames"), basic);
    auto *masters = new QGridLayout(calibration);
    leFlat = new QLineEdit(calibration);
    leFlat->setObjectName(QStringLiteral("leFlat"));
    pbMF = browseButton(calibration, "pbMF");
    leDark = new QLineEdit(calibration);
    leDark->setObjectName(QStringLiteral("leDark"));
    pbMD = browseButton(calibration, "pbMD");
    leBias = new QLineEdit(calibration);
    leBias->setObjectName(QStringLiteral("leBias"));
    pbMB = browseButton(calibration, "pbMB");
    QLineEdit *const fields[] = {leFlat, leDark, leBias};
    QPushButton *const browsers[] = {pbMF, pbMD, pbMB};
    const QStringList labels = {QStringLiteral("Master Flat:"), QStringLiteral("Master Dark:"),
                                QStringLiteral("Master Bias:")};
    addPathRows(masters, labels, fields, browsers);
    basicColumn->addWidget(calibration);

    auto *detection = new QGroupBox(QStringLiteral("Star Detection"), basic);
    auto *detectionForm = new QFormLayout(detection);
    dsMinBright = realBox(detection, "dsMinBright", 0.0, 1.0, 3, 0.01, 0.1);
    registrationoptions::addThresholdRow(detectionForm, QStringLiteral("minimum brightness:"), dsMinBright, options);
    basicColumn->addWidget(detection);

    auto *integration = new QGroupBox(QStringLiteral("Integration"), basic);
    auto *integrationForm = new QFormLayout(integration);
    cbPA = comboBox(integration, "cbPA",
                    {QStringLiteral("Average"), QStringLiteral("Median"), QStringLiteral("Sigma")}, 2);
    integrationForm->addRow(QStringLiteral("Primary Algorithm:"), cbPA);
    cbRA = comboBox(integration, "cbRA",
                    {QStringLiteral("None"), QStringLiteral("Winsorize"), QStringLiteral("Trim")}, 1);
    integrationForm->addRow(QStringLiteral("Rejection Algorithm:"), cbRA);
    basicColumn->addWidget(integration);
    basicColumn->addStretch();
    tabWidget->addTab(basic, QStringLiteral("Basic Settings"));

    auto *advanced = new QWidget(tabWidget);
    auto *advancedColumn = new QVBoxLayout(advanced);
    auto *parameters = new QGroupBox(QStringLiteral("Parameters"), advanced);
    auto *parametersForm = new QFormLayout(parameters);
    dsMaxBright = realBox(parameters, "dsMaxBright", 0.0, 1.0, 3, 0.01, 0.98);
    parametersForm->addRow(QStringLiteral("maximum brightness:"), dsMaxBright);
    sbStarSize = new QSpinBox(parameters);
    sbStarSize->setObjectName(QStringLiteral("sbStarSize"));
    sbStarSize->setRange(1, 20);
    sbStarSize->setValue(10);
    parametersForm->addRow(QStringLiteral("maximum star size:"), sbStarSize);
    dsFWHM = realBox(parameters, "dsFWHM", 1.0, 99.99, 2, 1.0, 10.0);
    parametersForm->addRow(QStringLiteral("maximum FWHM:"), dsFWHM);
    dsbSigma = realBox(parameters, "dsbSigma", 0.0, 99.99, 1, 1.0, 1.0);
    parametersForm->addRow(QStringLiteral("Sigma units:"), dsbSigma);
    dsbTrim = realBox(parameters, "dsbTrim", 0.0, 1.0, 2, 0.05, 0.1);
    parametersForm->addRow(QStringLiteral("Winsorization/Trim Threshold:"), dsbTrim);
    registrationoptions::addAdvancedRows(parametersForm, options);
    advancedColumn->addWidget(parameters);
    advancedColumn->addStretch();
    tabWidget->addTab(advanced, QStringLiteral("Advanced Settings"));
    column->addWidget(tabWidget);

    auto *fileGroup = new QGroupBox(QStringLiteral("File List"), this);
    auto *files = new QVBoxLayout(fileGroup);
    lwFiles = new QListWidget(fileGroup);
    lwFiles->setObjectName(QStringLiteral("lwFiles"));
    lwFiles->setSelectionMode(QAbstractItemView::ExtendedSelection);
    files->addWidget(lwFiles);
    auto *listButtons = new QHBoxLayout;
    pbAddFiles = button(fileGroup, "pbAddFiles", QStringLiteral("Add Files..."));
    pbRemove = button(fileGroup, "pbRemove", QStringLiteral("Remove"));
    listButtons->addWidget(pbAddFiles);
    listButtons->addWidget(pbRemove);
    files->addLayout(listButtons);
    column->addWidget(fileGroup);

    auto *runButtons = new QHBoxLayout;
    pushButton = button(this, "pushButton", QStringLiteral("Close"));
    pbAnalyze = button(this, "pbAnalyze", QStringLiteral("Analyze"));
    runButtons->addWidget(pushButton);
    runButtons->addStretch();
    runButtons->addWidget(pbAnalyze);
    column->addLayout(runButtons);
}

QStringList wndStarSearch::fileList() const
{
    QStringList files;
    for (int i = 0; i < lwFiles->count(); ++i)
        files << lwFiles->item(i)->text();
    return files;
}

void wndStarSearch::addFiles()
{
    const QStringList files =
        filedialogs::openFiles(this, QStringLiteral("Select Light Frames"), QString::fromLatin1(kFrameFileFilter));
    lwFiles->addItems(files);
}

void wndStarSearch::slotAnalyze()
{
    emit returnList(this);
}

void wndStarSearch::slotSelectFlat()
{
    filedialogs::chooseFrameFile(this, leFlat, QStringLiteral("Select Flat Frame"));
}

void wndStarSearch::slotSelectDark()
{
    filedialogs::chooseFrameFile(this, leDark, QStringLiteral("Select Dark Frame"));
}

void wndStarSearch::slotSelectBias()
{
    filedialogs::chooseFrameFile(this, leBias, QStringLiteral("Select Bias Frame"));
}

void wndStarSearch::removeFiles()
{
    qDeleteAll(lwFiles->selectedItems());
}
