#include "gainwindow.h"

#include "image/imagebuffer.h"
#include "log/outofmemory.h"
#include "process/colourbalance.h"
#include "view/mdiimage.h"

#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QLabel>
#include <QMdiSubWindow>
#include <QPushButton>

namespace {

QDoubleSpinBox *factorBox(QWidget *parent, const char *objectName)
{
    auto *box = new QDoubleSpinBox(parent);
    box->setObjectName(QString::fromLatin1(objectName));
    box->setDecimals(3);
    box->setRange(0.0, 1000.0);
    box->setSingleStep(0.1);
    box->setValue(1.0);
    return box;
}

} // namespace

GainWindow::GainWindow(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("GainWindow"));
    setWindowTitle(QStringLiteral("GainWindow"));
    resize(214, 130);
    setModal(false);

    auto *grid = new QGridLayout(this);
    labelRed = new QLabel(QStringLiteral("Red:"), this);
    dsRed = factorBox(this, "dsRed");
    pbCancel = new QPushButton(QStringLiteral("Cancel"), this);
    pbCancel->setObjectName(QStringLiteral("pbCancel"));
    pbOK = new QPushButton(QStringLiteral("OK"), this);
    pbOK->setObjectName(QStringLiteral("pbOK"));
    labelGreen = new QLabel(QStringLiteral("Green:"), this);
    dsGreen = factorBox(this, "dsGreen");
    labelBlue = new QLabel(QStringLiteral("Blue:"), this);
    dsBlue = factorBox(this, "dsBlue");
    labelImage = new QLabel(this);
    labelImage->setObjectName(QStringLiteral("labelImage"));
    grid->addWidget(labelImage, 0, 0, 1, 2);
    grid->addWidget(labelRed, 1, 0);
    grid->addWidget(dsRed, 1, 1);
    grid->addWidget(labelGreen, 2, 0);
    grid->addWidget(dsGreen, 2, 1);
    grid->addWidget(labelBlue, 3, 0);
    grid->addWidget(dsBlue, 3, 1);
    grid->addWidget(pbCancel, 4, 0);
    grid->addWidget(pbOK, 4, 1);
}

GainWindow::~GainWindow() = default;

void GainWindow::attachPreview(mdiImage *window)
{
    previewWindow = window;
    if (!window || !window->buffer)
        return;
    keptCopy = window->buffer->clone();
    previewSubWindow = qobject_cast<QMdiSubWindow *>(window->parentWidget());
}

void GainWindow::valChanged(double)
{
    if (!previewWindow || !keptCopy)
        return;
    guardMemory(messageLog(), [&] {
        auto adjusted = keptCopy->clone();
        applyGain(*adjusted, static_cast<float>(dsRed->value()), static_cast<float>(dsGreen->value()),
                  static_cast<float>(dsBlue->value()));
        previewWindow->buffer = std::move(adjusted);
        previewWindow->updateBuffer();
        previewWindow->displayBuffer();
    });
}

void GainWindow::closePreview()
{
    if (previewSubWindow)
        previewSubWindow->close();
    else if (previewWindow)
        previewWindow->close();
}

void GainWindow::emitOK()
{
    emit clickedOK(static_cast<float>(dsRed->value()), static_cast<float>(dsGreen->value()),
                   static_cast<float>(dsBlue->value()));
    closePreview();
    close();
}

void GainWindow::cancel()
{
    closePreview();
    close();
}
