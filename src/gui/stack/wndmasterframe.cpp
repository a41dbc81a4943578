#include "wndmasterframe.h"

#include "app/filedialogs.h"
#include "app/formwidgets.h"
#include "app/framefilefilter.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

using namespace formwidgets;

wndMasterFrame::wndMasterFrame(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("wndMasterFrame"));
    setWindowTitle(QStringLiteral("Masterframe Generation"));
    auto *column = new QVBoxLayout(this);

    pbCancel = button(this, "pbCancel", QStringLiteral("Cancel"));

    gbSettings = new QGroupBox(QStringLiteral("Settings"), this);
    gbSettings->setObjectName(QStringLiteral("gbSettings"));
    auto *settings = new QGridLayout(gbSettings);
    labelMethod = new QLabel(QStringLiteral("Combination Method"), gbSettings);
    cbMethod = comboBox(gbSettings, "cbMethod",
                        {QStringLiteral("Median"), QStringLiteral("Average"), QStringLiteral("Sigma")});
    labelRejection = new QLabel(QStringLiteral("Rejection Algorithm"), gbSettings);
    cbRejection = comboBox(gbSettings, "cbRejection",
                           {QStringLiteral("None"), QStringLiteral("Winsorize"), QStringLiteral("Trim")});
    cbNormalize = new QCheckBox(QStringLiteral("Normalize channels"), gbSettings);
    cbNormalize->setObjectName(QStringLiteral("cbNormalize"));
    settings->addWidget(labelMethod, 0, 0);
    settings->addWidget(cbMethod, 0, 1);
    settings->addWidget(labelRejection, 1, 0);
    settings->addWidget(cbRejection, 1, 1);
    settings->addWidget(cbNormalize, 2, 0, 1, 2);
    column->addWidget(gbSettings);

    gbType = new QGroupBox(QStringLiteral("Master Frame Type"), this);
    gbType->setObjectName(QStringLiteral("gbType"));
    auto *type = new QHBoxLayout(gbType);
    cbType = comboBox(gbType, "cbType",
                      {QStringLiteral("Flat Frame"), QStringLiteral("Dark Frame"), QStringLiteral("Bias Frame"),
                       QStringLiteral("Dark Flat Frame")});
    type->addWidget(cbType);
    column->addWidget(gbType);

    pbGenerate = button(this, "pbGenerate", QStringLiteral("Generate"));

    gbFrames = new QGroupBox(QStringLiteral("Single Frames"), this);
    gbFrames->setObjectName(QStringLiteral("gbFrames"));
    auto *frames = new QVBoxLayout(gbFrames);
    lwFrames = new QListWidget(gbFrames);
    lwFrames->setObjectName(QStringLiteral("lwFrames"));
    lwFrames->setAlternatingRowColors(true);
    lwFrames->setSelectionMode(QAbstractItemView::ExtendedSelection);
    frames->addWidget(lwFrames);
    auto *listButtons = new QHBoxLayout;
    pbRemove = button(gbFrames, "pbRemove", QStringLiteral("Remove"));
    pbAdd = button(gbFrames, "pbAdd", QStringLiteral("Add files..."));
    listButtons->addWidget(pbRemove);
    listButtons->addWidget(pbAdd);
    frames->addLayout(listButtons);
    column->addWidget(gbFrames);

    gbCalibration = new QGroupBox(QStringLiteral("Calibration Frames"), this);
    gbCalibration->setObjectName(QStringLiteral("gbCalibration"));
    auto *masters = new QGridLayout(gbCalibration);
    labelBias = new QLabel(QStringLiteral("Masterbias"), gbCalibration);
    leBias = lineEdit(gbCalibration, "leBias");
    pbBias = browseButton(gbCalibration, "pbBias");
    labelDarkFlat = new QLabel(QStringLiteral("Darkflat"), gbCalibration);
    leDarkFlat = lineEdit(gbCalibration, "leDarkFlat");
    pbDarkFlat = browseButton(gbCalibration, "pbDarkFlat");
    masters->addWidget(labelBias, 0, 0);
    masters->addWidget(leBias, 0, 1);
    masters->addWidget(pbBias, 0, 2);
    masters->addWidget(labelDarkFlat, 1, 0);
    masters->addWidget(leDarkFlat, 1, 1);
    masters->addWidget(pbDarkFlat, 1, 2);
    masters->setColumnStretch(1, 1);
    column->addWidget(gbCalibration);

    auto *runButtons = new QHBoxLayout;
    runButtons->addWidget(pbCancel);
    runButtons->addStretch();
    runButtons->addWidget(pbGenerate);
    column->addLayout(runButtons);
}

QStringList wndMasterFrame::framePaths() const
{
    QStringList paths;
    for (int i = 0; i < lwFrames->count(); ++i)
        paths << lwFrames->item(i)->data(Qt::UserRole).toString();
    return paths;
}

void wndMasterFrame::addFiles()
{
    const QStringList files =
        filedialogs::openFiles(this, QStringLiteral("Select Frames"), QString::fromLatin1(kFrameFileFilter));
    for (const QString &file : files) {
        auto *item = new QListWidgetItem(QFileInfo(file).fileName(), lwFrames);
        item->setData(Qt::UserRole, file);
        item->setToolTip(file);
    }
}

void wndMasterFrame::slotGenerate()
{
    emit generateFrame(this);
}

void wndMasterFrame::deleteFiles()
{
    qDeleteAll(lwFrames->selectedItems());
}

void wndMasterFrame::browseBias()
{
    filedialogs::chooseFrameFile(this, leBias, QStringLiteral("Select Masterbias"));
}

void wndMasterFrame::browseDarkFlat()
{
    filedialogs::chooseFrameFile(this, leDarkFlat, QStringLiteral("Select Master Darkflat"));
}

void wndMasterFrame::updateElements(int framtype)
{
    // Only flats are calibrated by a dark flat, and bias frames by nothing at all.
    const bool biasUsable = framtype != BiasFrame;
    const bool darkFlatUsable = framtype == FlatFrame;
    const bool normalizable = framtype == FlatFrame;

    leBias->setEnabled(biasUsable);
    pbBias->setEnabled(biasUsable);
    if (!biasUsable)
        leBias->clear();
    leDarkFlat->setEnabled(darkFlatUsable);
    pbDarkFlat->setEnabled(darkFlatUsable);
    if (!darkFlatUsable)
        leDarkFlat->clear();
    cbNormalize->setEnabled(normalizable);
    if (!normalizable)
        cbNormalize->setChecked(false);
}
