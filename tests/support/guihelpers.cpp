#include "guihelpers.h"

#include "app/verdanix.h"
#include "console/outputwindow.h"
#include "platform/settingsfile.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QMessageBox>
#include <QTextEdit>
#include <QThread>
#include <QTimer>

#include <memory>

namespace testsupport {

bool waitUntil(const std::function<bool()> &condition, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

QStringList logFileLines()
{
    QFile file(QStringLiteral("log"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void clickInMessageBoxWhenShown(const QString &boxName, const QString &buttonText, int timeoutMs)
{
    auto *poll = new QTimer;
    auto deadline = std::make_shared<QDeadlineTimer>(timeoutMs);
    QObject::connect(poll, &QTimer::timeout, [poll, boxName, buttonText, deadline] {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            auto *box = qobject_cast<QMessageBox *>(widget);
            if (!box || !box->isVisible() || box->objectName() != boxName)
                continue;
            for (QAbstractButton *button : box->buttons()) {
                if (button->text().remove(QLatin1Char('&')) == buttonText) {
                    poll->deleteLater();
                    poll->stop();
                    button->click();
                    return;
                }
            }
        }
        if (deadline->hasExpired()) {
            poll->stop();
            poll->deleteLater();
        }
    });
    poll->start(10);
}

std::unique_ptr<Verdanix> startMainWindow()
{
    QFile::remove(QString::fromLatin1(settingsfile::kFileName));
    settingsfile::setFirstRun(false);
    auto window = std::make_unique<Verdanix>();
    window->show();
    return window;
}

QStringList consoleLines(Verdanix &window)
{
    return window.console()->teOutput->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace testsupport
