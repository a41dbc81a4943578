#include "flattenbgwnd.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

QDoubleSpinBox *doubleBox(QWidget *parent, const char *name, double low, double high, double step, double value)
{
    auto *box = new QDoubleSpinBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setDecimals(2);
    box->setRange(low, high);
    box->setSingleStep(step);
    box->setValue(value);
    return box;
}

QSpinBox *intBox(QWidget *parent, const char *name, int low, int high, int step, int value)
{
    auto *box = new QSpinBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setRange(low, high);
    box->setSingleStep(step);
    box->setValue(value);
    return box;
}

} // namespace

flattenbgwnd::flattenbgwnd(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("flattenbgwnd"));
    setWindowTitle(QStringLiteral("Flatten Background"));
    // 20 pixels above the form's own height hold the name of the image worked on.
    setFixedSize(261, 310);
    auto *column = new QVBoxLayout(this);

    lblTarget = new QLabel(this);
    lblTarget->setObjectName(QStringLiteral("lblTarget"));
    column->addWidget(lblTarget);

    gbGeneral = new QGroupBox(QStringLiteral("General"), this);
    auto *general = new QFormLayout(gbGeneral);
    dsbExponent = doubleBox(gbGeneral, "dsbExponent", 0.0, 100.0, 1.0, 0.5);
    sbMarkerSize = intBox(gbGeneral, "sbMarkerSize", 3, 99, 2, 21);
    dsbMultiplier = doubleBox(gbGeneral, "dsbMultiplier", -100.0, 100.0, 0.1, 1.0);
    general->addRow(QStringLiteral("Exponent"), dsbExponent);
    general->addRow(QStringLiteral("Background Marker Size:"), sbMarkerSize);
    general->addRow(QStringLiteral("Background Multiplier"), dsbMultiplier);
    column->addWidget(gbGeneral);

    tabWidget = new QTabWidget(this);
    tabWidget->setObjectName(QStringLiteral("tabWidget"));
    auto *automatic = new QWidget(tabWidget);
    auto *automaticForm = new QFormLayout(automatic);
    pbPlace = new QPushButton(QStringLiteral("Place"), automatic);
    pbPlace->setObjectName(QStringLiteral("pbPlace"));
    dsbSigma = doubleBox(automatic, "dsbSigma", 0.0, 10.0, 0.1, 0.1);
    sbBoxCount = intBox(automatic, "sbBoxCount", 10, 10000, 100, 100);
    pbClear = new QPushButton(QStringLiteral("Clear"), automatic);
    pbClear->setObjectName(QStringLiteral("pbClear"));
    automaticForm->addRow(QStringLiteral("Sigma Units:"), dsbSigma);
    automaticForm->addRow(QStringLiteral("Box Count:"), sbBoxCount);
    auto *placeRow = new QHBoxLayout;
    placeRow->addWidget(pbPlace);
    placeRow->addWidget(pbClear);
    automaticForm->addRow(placeRow);
    tabWidget->addTab(automatic, QStringLiteral("Automatic Placement"));

    auto *manual = new QWidget(tabWidget);
    auto *manualForm = new QFormLayout(manual);
    cbAutoDistance = new QCheckBox(QStringLiteral("Auto Distance"), manual);
    cbAutoDistance->setObjectName(QStringLiteral("cbAutoDistance"));
    sbDistance = intBox(manual, "sbDistance", -1, 10000, 100, 100);
    manualForm->addRow(cbAutoDistance);
    manualForm->addRow(QStringLiteral("Distance"), sbDistance);
    tabWidget->addTab(manual, QStringLiteral("Manual Placement"));
    tabWidget->setCurrentIndex(0);
    column->addWidget(tabWidget);

    auto *buttons = new QHBoxLayout;
    pbApply = new QPushButton(QStringLiteral("Apply"), this);
    pbApply->setObjectName(QStringLiteral("pbApply"));
    pbClose = new QPushButton(QStringLiteral("Close"), this);
    pbClose->setObjectName(QStringLiteral("pbClose"));
    buttons->addWidget(pbApply);
    buttons->addWidget(pbClose);
    column->addLayout(buttons);

    connect(pbApply, SIGNAL(clicked()), this, SLOT(emitOK()));
    connect(pbClose, SIGNAL(clicked()), this, SLOT(cancel()));
    connect(sbMarkerSize, SIGNAL(valueChanged(int)), this, SLOT(emitValue(int)));
    connect(cbAutoDistance, SIGNAL(stateChanged(int)), this, SLOT(setAuto(int)));
    connect(pbPlace, SIGNAL(clicked()), this, SLOT(autoPlace()));
    connect(pbClear, SIGNAL(clicked()), this, SLOT(clearAuto()));
}

void flattenbgwnd::setTarget(const QString &label)
{
    lblTarget->setText(QStringLiteral("Image: ") + label);
    lblTarget->setToolTip(label);
}

void flattenbgwnd::emitOK()
{
    emit clickedOK(sbMarkerSize->value(), dsbExponent->value(), sbDistance->value(), dsbMultiplier->value());
}

void flattenbgwnd::cancel()
{
    close();
}

void flattenbgwnd::emitValue(int value)
{
    emit emitBoxSize(value);
}

void flattenbgwnd::setAuto(int state)
{
    if (state == Qt::Checked) {
        savedDistance = sbDistance->value();
        sbDistance->setValue(-1);
        sbDistance->setEnabled(false);
    } else {
        sbDistance->setValue(savedDistance);
        sbDistance->setEnabled(true);
    }
}

void flattenbgwnd::autoPlace()
{
    emit clickedAuto(sbMarkerSize->value(), sbBoxCount->value(), dsbSigma->value());
}

void flattenbgwnd::clearAuto()
{
    emit clickedClear();
}

void flattenbgwnd::closeEvent(QCloseEvent *event)
{
    emit windowClosed();
    event->accept();
}
