#pragma once
// A dock widget that announces its own closing, so that the tool inside can clean up.
#include <QDockWidget>

class qDwa : public QDockWidget {
    Q_OBJECT
public:
    using QDockWidget::QDockWidget;

signals:
    void widgetClosed();

protected:
    void closeEvent(QCloseEvent *event) override;
};
