#include "guihelpers.h"

#include "app/filedialogs.h"
#include "app/verdanix.h"
#include "console/outputwindow.h"
#include "platform/settingsfile.h"
#include "view/mdiimage.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTextEdit>
#include <QThread>
#include <QTimer>

#include <memory>

namespace testsupport {

namespace {
QStringList scriptedFiles;
QString scriptedFile;
} // namespace

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

void scriptOpenFiles(const QStringList &files)
{
    scriptedFiles = files;
    filedialogs::askOpenFileNames = [](QWidget *, const QString &, const QString &, const QString &) {
        return scriptedFiles;
    };
}

void scriptOpenFile(const QString &file)
{
    scriptedFile = file;
    filedialogs::askOpenFileName = [](QWidget *, const QString &, const QString &, const QString &) {
        return scriptedFile;
    };
}

mdiImage *imageTitled(Verdanix &window, const QString &title)
{
    for (QMdiSubWindow *sub : window.documentArea()->subWindowList())
        if (auto *image = qobject_cast<mdiImage *>(sub->widget()); image && image->windowTitle() == title)
            return image;
    return nullptr;
}

QStringList tableColumn(const QTableWidget &table, int column)
{
    QStringList texts;
    for (int row = 0; row < table.rowCount(); ++row)
        texts << table.item(row, column)->text();
    return texts;
}

bool abortVisible(Verdanix &window)
{
    return window.findChild<QPushButton *>(QStringLiteral("pbAbort"))->isVisible();
}

void pressAbortSoon(Verdanix &window, bool &pressedWhileRunning)
{
    QTimer::singleShot(0, &window, [&window, &pressedWhileRunning] {
        pressedWhileRunning = window.calculationRunning;
        window.findChild<QPushButton *>(QStringLiteral("pbAbort"))->click();
    });
}

} // namespace testsupport
