#include "registrationoptions.h"

#include "app/formwidgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>

namespace registrationoptions {

void addThresholdRow(QFormLayout *form, const QString &label, QDoubleSpinBox *threshold,
                     RegistrationOptionBoxes &boxes)
{
    QWidget *parent = form->parentWidget();
    auto *row = new QWidget(parent);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    threshold->setParent(row);
    layout->addWidget(threshold, 1);
    boxes.cbAutoThreshold = new QCheckBox(QStringLiteral("Auto"), row);
    boxes.cbAutoThreshold->setObjectName(QStringLiteral("cbAutoThreshold"));
    boxes.cbAutoThreshold->setToolTip(
        QStringLiteral("Choose each frame's threshold from its sky level and noise; the log names the value."));
    layout->addWidget(boxes.cbAutoThreshold);
    QObject::connect(boxes.cbAutoThreshold, &QCheckBox::toggled, threshold, &QWidget::setDisabled);
    form->addRow(label, row);
}

void addAdvancedRows(QFormLayout *form, RegistrationOptionBoxes &boxes)
{
    QWidget *parent = form->parentWidget();
    boxes.cbRefine = new QCheckBox(QStringLiteral("Refine with all stars"), parent);
    boxes.cbRefine->setObjectName(QStringLiteral("cbRefine"));
    boxes.cbRefine->setToolTip(QStringLiteral("After the pattern match, fit each frame to all its stars: "
                                              "more precise offsets and angles, and the fit's residual in the log."));
    form->addRow(QString(), boxes.cbRefine);
    boxes.cbInterpolation =
        formwidgets::comboBox(parent, "cbInterpolation",
                              {QStringLiteral("Nearest"), QStringLiteral("Bilinear"), QStringLiteral("Lanczos-3")});
    boxes.cbInterpolation->setToolTip(
        QStringLiteral("How registered frames are resampled when stacked: Nearest takes the pixel the position falls "
                       "in; Bilinear and Lanczos-3 sample between pixels and keep stars sharper."));
    form->addRow(QStringLiteral("Interpolation:"), boxes.cbInterpolation);
}

void copyChoices(const RegistrationOptionBoxes &from, RegistrationOptionBoxes &to)
{
    to.cbAutoThreshold->setChecked(from.cbAutoThreshold->isChecked());
    to.cbRefine->setChecked(from.cbRefine->isChecked());
    to.cbInterpolation->setCurrentIndex(from.cbInterpolation->currentIndex());
}

} // namespace registrationoptions
