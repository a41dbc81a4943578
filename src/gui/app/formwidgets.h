#pragma once
// Small builders for the tool windows' forms: each widget gets its object name, by which the
// main window, the tests and the style sheets find it.
#include <QStringList>

class QComboBox;
class QDoubleSpinBox;
class QGridLayout;
class QLineEdit;
class QPushButton;
class QWidget;

namespace formwidgets {

QPushButton *button(QWidget *parent, const char *name, const QString &text);
// The "..." button beside a path field: only as wide as its text, so the path gets the room.
QPushButton *browseButton(QWidget *parent, const char *name);
QDoubleSpinBox *realBox(QWidget *parent, const char *name, double minimum, double maximum, int decimals, double step,
                        double value);
QComboBox *comboBox(QWidget *parent, const char *name, const QStringList &items, int current = 0);
QLineEdit *lineEdit(QWidget *parent, const char *name);

// One row per master file: its label, its path field and its "..." button, from row 0 down;
// the path fields take the width the grid has to spare.
void addPathRows(QGridLayout *grid, const QStringList &labels, QLineEdit *const *fields,
                 QPushButton *const *browsers);

} // namespace formwidgets
