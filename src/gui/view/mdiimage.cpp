#include "mdiimage.h"

mdiImage::mdiImage(QWidget *parent) : QGraphicsView(parent), windowId(QUuid::createUuid())
{
    setAttribute(Qt::WA_DeleteOnClose);
    setMouseTracking(true);
    setViewportUpdateMode(QGraphicsView::SmartViewportUpdate);
}

mdiImage::~mdiImage() = default;

void mdiImage::setName(const QString &newName)
{
    name = newName;
    setWindowTitle(titleCounter == 0 ? name : QStringLiteral("%1 (%2)").arg(name).arg(titleCounter));
}

QString mdiImage::getName()
{
    if (name.isEmpty())
        name = windowTitle();
    return name;
}
