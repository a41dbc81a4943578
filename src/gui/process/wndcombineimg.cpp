#include "wndcombineimg.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

wndCombineImg::wndCombineImg(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("wndCombineImg"));
    setWindowTitle(QStringLiteral("Image Combination"));
    setFixedSize(281, 160);

    auto *grid = new QGridLayout(this);
    labelA = new QLabel(QStringLiteral("Image A:"), this);
    labelB = new QLabel(QStringLiteral("Image B:"), this);
    cbImageA = new QComboBox(this);
    cbImageA->setObjectName(QStringLiteral("cbImageA"));
    cbImageB = new QComboBox(this);
    cbImageB->setObjectName(QStringLiteral("cbImageB"));
    labelOperator = new QLabel(QStringLiteral("Operator:"), this);
    cbOperator = new QComboBox(this);
    cbOperator->setObjectName(QStringLiteral("cbOperator"));
    const char *const operators[] = {"Add", "Substract", "Multiply", "Divide", "negative Multiply"};
    for (int i = 0; i < 5; ++i)
        cbOperator->addItem(QString::fromLatin1(operators[i]), i);
    labelOpacity = new QLabel(QStringLiteral("Opacity:"), this);
    dsbOpacity = new QDoubleSpinBox(this);
    dsbOpacity->setObjectName(QStringLiteral("dsbOpacity"));
    dsbOpacity->setRange(0.0, 100.0);
    dsbOpacity->setValue(100.0);
    pbApply = new QPushButton(QStringLiteral("Apply"), this);
    pbApply->setObjectName(QStringLiteral("pbApply"));
    pbClose = new QPushButton(QStringLiteral("Close"), this);
    pbClose->setObjectName(QStringLiteral("pbClose"));

    grid->addWidget(labelA, 0, 0);
    grid->addWidget(cbImageA, 0, 1);
    grid->addWidget(labelB, 1, 0);
    grid->addWidget(cbImageB, 1, 1);
    grid->addWidget(labelOperator, 2, 0);
    grid->addWidget(cbOperator, 2, 1);
    grid->addWidget(labelOpacity, 3, 0);
    grid->addWidget(dsbOpacity, 3, 1);
    grid->addWidget(pbApply, 4, 0);
    grid->addWidget(pbClose, 4, 1);

    connect(pbApply, SIGNAL(clicked()), this, SLOT(slotApply()));
    connect(pbClose, SIGNAL(clicked()), this, SLOT(slotClose()));
}

void wndCombineImg::addImage(const QString &name, const QString &id)
{
    cbImageA->addItem(name, id);
    cbImageB->addItem(name, id);
}

void wndCombineImg::slotApply()
{
    emit applied(this);
}

void wndCombineImg::slotClose()
{
    close();
    deleteLater();
}
