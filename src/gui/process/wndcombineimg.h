#pragma once
// The image-combination tool: two open images, an operator and an opacity. Its image
// choices are fixed when it opens; "Apply" asks the main window to combine them.
#include <QWidget>

class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QPushButton;

class wndCombineImg : public QWidget {
    Q_OBJECT
public:
    explicit wndCombineImg(QWidget *parent = nullptr);

    // Offers an image window by its name, carrying its id as the entry's data.
    void addImage(const QString &name, const QString &id);

    QLabel *labelA = nullptr;
    QLabel *labelB = nullptr;
    QComboBox *cbImageA = nullptr;
    QComboBox *cbImageB = nullptr;
    QLabel *labelOperator = nullptr;
    QComboBox *cbOperator = nullptr;
    QLabel *labelOpacity = nullptr;
    QDoubleSpinBox *dsbOpacity = nullptr;
    QPushButton *pbApply = nullptr;
    QPushButton *pbClose = nullptr;

signals:
    void applied(wndCombineImg *sender);

public slots:
    void slotApply();
    void slotClose();
};
