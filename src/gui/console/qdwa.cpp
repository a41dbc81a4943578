#include "qdwa.h"

#include <QCloseEvent>

void qDwa::closeEvent(QCloseEvent *event)
{
    emit widgetClosed();
    event->accept();
}
