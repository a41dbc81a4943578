#include "formwidgets.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace formwidgets {

QPushButton *button(QWidget *parent, const char *name, const QString &text)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(QString::fromLatin1(name));
    return b;
}

QPushButton *browseButton(QWidget *parent, const char *name)
{
    auto *b = button(parent, name, QStringLiteral("..."));
    b->setMaximumWidth(b->fontMetrics().horizontalAdvance(b->text()) + 4 * b->fontMetrics().averageCharWidth());
    return b;
}

QDoubleSpinBox *realBox(QWidget *parent, const char *name, double minimum, double maximum, int decimals, double step,
                        double value)
{
    auto *box = new QDoubleSpinBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setRange(minimum, maximum);
    box->setDecimals(decimals);
    box->setSingleStep(step);
    box->setValue(value);
    return box;
}

QComboBox *comboBox(QWidget *parent, const char *name, const QStringList &items, int current)
{
    auto *box = new QComboBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->addItems(items);
    box->setCurrentIndex(current);
    return box;
}

QLineEdit *lineEdit(QWidget *parent, const char *name)
{
    auto *field = new QLineEdit(parent);
    field->setObjectName(QString::fromLatin1(name));
    return field;
}

void addPathRows(QGridLayout *grid, const QStringList &labels, QLineEdit *const *fields, QPushButton *const *browsers)
{
    for (int row = 0; row < labels.size(); ++row) {
        grid->addWidget(new QLabel(labels[row], grid->parentWidget()), row, 0);
        // Room for the end of a path at least, however narrow the window.
        fields[row]->setMinimumWidth(16 * fields[row]->fontMetrics().averageCharWidth());
        grid->addWidget(fields[row], row, 1);
        grid->addWidget(browsers[row], row, 2);
    }
    grid->setColumnStretch(1, 1);
}

} // namespace formwidgets
