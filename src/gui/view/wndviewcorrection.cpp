#include "wndviewcorrection.h"

#include "platform/settingsfile.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDoubleSpinBox>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const char *const kChannelStyles[3] = {
    "background-color: #990000;",
    "background-color: #008800;",
    "background-color: #3333aa;",
};

QDoubleSpinBox *channelBox(QWidget *parent, const QString &objectName, int channel, double initial)
{
    auto *box = new QDoubleSpinBox(parent);
    box->setObjectName(objectName);
    box->setDecimals(4);
    box->setSingleStep(0.1);
    box->setRange(0.0, 99.99);
    box->setValue(initial);
    box->setStyleSheet(QString::fromLatin1(kChannelStyles[channel]));
    // Three boxes of four decimals share a narrow panel: the arrows would hide the digits;
    // the wheel and the arrow keys still step the value.
    box->setButtonSymbols(QAbstractSpinBox::NoButtons);
    return box;
}

QGroupBox *channelGroup(QWidget *parent, const QString &objectName, const QString &title,
                        const QString &prefix, double initial, QDoubleSpinBox **boxes[3])
{
    auto *group = new QGroupBox(title, parent);
    group->setObjectName(objectName);
    auto *row = new QHBoxLayout(group);
    row->setContentsMargins(4, 2, 4, 2);
    const QString suffixes[3] = {QStringLiteral("R"), QStringLiteral("G"), QStringLiteral("B")};
    for (int c = 0; c < 3; ++c) {
        *boxes[c] = channelBox(group, prefix + suffixes[c], c, initial);
        row->addWidget(*boxes[c]);
    }
    return group;
}

} // namespace

wndViewCorrection::wndViewCorrection(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("wndViewCorrection"));
    setFixedSize(223, 234);

    frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("frame"));
    frame->setGeometry(0, 0, 221, 231);
    auto *column = new QVBoxLayout(frame);
    column->setContentsMargins(4, 4, 4, 4);
    column->setSpacing(2);

    auto *autoRow = new QHBoxLayout;
    cbAuto = new QCheckBox(QStringLiteral("Auto Clipping Value:"), frame);
    cbAuto->setObjectName(QStringLiteral("cbAuto"));
    dsbAuto = new QDoubleSpinBox(frame);
    dsbAuto->setObjectName(QStringLiteral("dsbAuto"));
    dsbAuto->setDecimals(3);
    dsbAuto->setSingleStep(0.01);
    dsbAuto->setRange(0.0, 0.4);
    dsbAuto->setValue(0.01);
    autoRow->addWidget(cbAuto);
    autoRow->addWidget(dsbAuto);
    column->addLayout(autoRow);

    QDoubleSpinBox **minBoxes[3] = {&dsMinR, &dsMinG, &dsMinB};
    QDoubleSpinBox **midBoxes[3] = {&dsMidR, &dsMidG, &dsMidB};
    QDoubleSpinBox **maxBoxes[3] = {&dsMaxR, &dsMaxG, &dsMaxB};
    groupBox_3 = channelGroup(frame, QStringLiteral("groupBox_3"), QStringLiteral("Min"), QStringLiteral("dsMin"), 0.0, minBoxes);
    groupBox_5 = channelGroup(frame, QStringLiteral("groupBox_5"), QStringLiteral("Mid"), QStringLiteral("dsMid"), 1.0, midBoxes);
    groupBox_4 = channelGroup(frame, QStringLiteral("groupBox_4"), QStringLiteral("Max"), QStringLiteral("dsMax"), 1.0, maxBoxes);
    column->addWidget(groupBox_3);
    column->addWidget(groupBox_5);
    column->addWidget(groupBox_4);

    // The Auto box is as the user left it in the last run (off the first time).
    cbAuto->setChecked(settingsfile::value(QStringLiteral("ViewCorrection"), QStringLiteral("Auto"), false).toBool());
    connect(cbAuto, &QCheckBox::toggled, this, [](bool checked) {
        settingsfile::setValue(QStringLiteral("ViewCorrection"), QStringLiteral("Auto"), checked);
    });

    pbUpdate = new QPushButton(QStringLiteral("Update"), frame);
    pbUpdate->setObjectName(QStringLiteral("pbUpdate"));
    column->addWidget(pbUpdate);
    connect(pbUpdate, SIGNAL(clicked()), this, SLOT(clickedUpdate()));
}

void wndViewCorrection::clickedUpdate()
{
    emit vcUpdate();
}

void wndViewCorrection::closeEvent(QCloseEvent *event)
{
    event->ignore();
}
