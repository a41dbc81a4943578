#include "wndcalibrate.h"

#include "app/filedialogs.h"
#include "app/formwidgets.h"
#include "app/framefilefilter.h"

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

wndCalibrate::wndCalibrate(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("wndCalibrate"));
    auto *column = new QVBoxLayout(this);

    gbLights = new QGroupBox(QStringLiteral("Light Frames"), this);
    auto *lights = new QVBoxLayout(gbLights);
    lwFrames = new QListWidget(gbLights);
    lwFrames->setObjectName(QStringLiteral("lwFrames"));
    lwFrames->setAlternatingRowColors(true);
    lwFrames->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lights->addWidget(lwFrames);
    auto *listButtons = new QHBoxLayout;
    pbAdd = button(gbLights, "pbAdd", QStringLiteral("Add Files..."));
    pbDelete = button(gbLights, "pbDelete", QStringLiteral("Delete"));
    listButtons->addWidget(pbAdd);
    listButtons->addWidget(pbDelete);
    lights->addLayout(listButtons);
    column->addWidget(gbLights);

    gbMasters = new QGroupBox(QStringLiteral("Calibration Frames"), this);
    auto *masters = new QGridLayout(gbMasters);
    labelFlat = new QLabel(QStringLiteral("Master Flat:"), gbMasters);
    leFlat = lineEdit(gbMasters, "leFlat");
    pbFlat = browseButton(gbMasters, "pbFlat");
    labelDark = new QLabel(QStringLiteral("Master Dark:"), gbMasters);
    leDark = lineEdit(gbMasters, "leDark");
    pbDark = browseButton(gbMasters, "pbDark");
    labelBias = new QLabel(QStringLiteral("Master Bias:"), gbMasters);
    leBias = lineEdit(gbMasters, "leBias");
    pbBias = browseButton(gbMasters, "pbBias");
    QWidget *rows[3][3] = {{labelFlat, leFlat, pbFlat}, {labelDark, leDark, pbDark}, {labelBias, leBias, pbBias}};
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            masters->addWidget(rows[r][c], r, c);
    masters->setColumnStretch(1, 1);
    column->addWidget(gbMasters);

    gbOutput = new QGroupBox(QStringLiteral("Output Directory"), this);
    auto *output = new QHBoxLayout(gbOutput);
    leOutput = lineEdit(gbOutput, "leOutput");
    pbOutput = browseButton(gbOutput, "pbOutput");
    output->addWidget(leOutput);
    output->addWidget(pbOutput);
    column->addWidget(gbOutput);

    pbCalibrate = button(this, "pbCalibrate", QStringLiteral("Calibrate"));
    column->addWidget(pbCalibrate);
}

QStringList wndCalibrate::lightFrames() const
{
    QStringList paths;
    for (int i = 0; i < lwFrames->count(); ++i)
        paths << lwFrames->item(i)->data(Qt::UserRole).toString();
    return paths;
}

void wndCalibrate::sCalibrate()
{
    emit doCalibrate(this);
}

void wndCalibrate::sAdd()
{
    const QStringList files =
        filedialogs::openFiles(this, QStringLiteral("Select Light Frames"), QString::fromLatin1(kFrameFileFilter));
    for (const QString &file : files) {
        auto *item = new QListWidgetItem(QFileInfo(file).fileName(), lwFrames);
        item->setData(Qt::UserRole, file);
        item->setToolTip(file);
    }
}

void wndCalibrate::sBias()
{
    filedialogs::chooseFrameFile(this, leBias, QStringLiteral("Select Bias Frame"));
}

void wndCalibrate::sDark()
{
    filedialogs::chooseFrameFile(this, leDark, QStringLiteral("Select Dark Frame"));
}

void wndCalibrate::sFlat()
{
    filedialogs::chooseFrameFile(this, leFlat, QStringLiteral("Select Flat Frame"));
}

void wndCalibrate::sDelete()
{
    qDeleteAll(lwFrames->selectedItems());
}

void wndCalibrate::sOut()
{
    leOutput->setText(filedialogs::chooseDirectory(this, QStringLiteral("Select Output Directory")));
}
