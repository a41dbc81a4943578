#pragma once
// The registration choices beyond the pattern estimate that both registration dialogs offer:
// the automatic star threshold beside the threshold box, and in the advanced settings the
// refinement with all stars and the interpolation used when the frames are stacked. All are
// off (Nearest) when a dialog opens. GUI thread only.
#include <QString>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QFormLayout;
class QWidget;

struct RegistrationOptionBoxes {
    QCheckBox *cbAutoThreshold = nullptr; // "Auto" beside the threshold; disables the box
    QCheckBox *cbRefine = nullptr;        // "Refine with all stars"
    QComboBox *cbInterpolation = nullptr; // "Nearest", "Bilinear", "Lanczos-3"
};

namespace registrationoptions {

// The threshold box with its "Auto" check box after it, as one row of `form`.
void addThresholdRow(QFormLayout *form, const QString &label, QDoubleSpinBox *threshold,
                     RegistrationOptionBoxes &boxes);
// The refinement check box and the interpolation choice as rows of `form`.
void addAdvancedRows(QFormLayout *form, RegistrationOptionBoxes &boxes);
// Copies the choices from one dialog's boxes to another's.
void copyChoices(const RegistrationOptionBoxes &from, RegistrationOptionBoxes &to);

} // namespace registrationoptions
