#include "outputwindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QProgressBar>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QTextEdit>
#include <QThread>
#include <QTimer>

#include <algorithm>

// Console lines reach the log file as info messages of this category; its debug level
// (the traces) is off.
Q_LOGGING_CATEGORY(lcMessage, "Message", QtInfoMsg)

namespace {
constexpr int kLockWaitMs = 100;
const char *const kErrorColour = "#ff6666";
const char *const kReady = "Ready.";

const char *const kErrorColours[] = {"<font color=\"#ff6666\">", "<font color=\"#ff9999\">",
                                     "<font color=\"#dd3333\">"};
const char *const kErrorBeginnings[] = {"Error", "ERROR", "[ERROR]", "Saving failed", "Could not create",
                                        "Not enough memory"};
// Prefixes that the status bar's own "Error: " replaces.
const char *const kErrorPrefixes[] = {"[ERROR] ", "ERROR: ", "Error: "};
} // namespace

QString OutputWindow::consoleLine(const QString &text, Severity severity)
{
    const char *colour = severity == Severity::Error     ? "#ff6666"
                         : severity == Severity::Warning ? "#ff9999"
                         : severity == Severity::Notice  ? "#ffff00"
                                                         : nullptr;
    if (!colour)
        return text;
    return QStringLiteral("<font color=\"%1\">%2</font>").arg(QLatin1String(colour), text);
}

QString OutputWindow::errorStatusText(const QString &line)
{
    bool coloured = false;
    for (const char *colour : kErrorColours)
        coloured = coloured || line.startsWith(QLatin1String(colour));
    QString text = coloured ? QTextDocumentFragment::fromHtml(line).toPlainText().trimmed() : line.trimmed();
    bool error = coloured;
    for (const char *beginning : kErrorBeginnings)
        error = error || text.startsWith(QLatin1String(beginning));
    if (!error || text.isEmpty())
        return QString();
    for (const char *prefix : kErrorPrefixes) {
        if (text.startsWith(QLatin1String(prefix))) {
            text.remove(0, static_cast<int>(qstrlen(prefix)));
            break;
        }
    }
    // "Error loading RAW file." says so itself.
    if (text.startsWith(QLatin1String("Error")))
        return text;
    return QStringLiteral("Error: ") + text;
}

OutputWindow::OutputWindow(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("OutputWindow"));
    setWindowTitle(QStringLiteral("OutputWindow"));
    resize(472, 336);

    gridLayout = new QGridLayout(this);
    gridLayout->setHorizontalSpacing(6);
    gridLayout->setVerticalSpacing(2);
    gridLayout->setContentsMargins(0, 0, 0, 0);

    teOutput = new QTextEdit(this);
    teOutput->setObjectName(QStringLiteral("teOutput"));
    teOutput->setFont(QFont(QStringLiteral("Courier New")));
    teOutput->setUndoRedoEnabled(false);
    teOutput->setLineWrapMode(QTextEdit::NoWrap);
    teOutput->setReadOnly(true);
    teOutput->setAutoFillBackground(false);
    QPalette palette = teOutput->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Base, QColor(0, 0, 0));
        palette.setColor(group, QPalette::Light, QColor(0, 0, 0));
        palette.setColor(group, QPalette::Text, QColor(208, 208, 208));
    }
    palette.setColor(QPalette::Disabled, QPalette::Light, QColor(0, 0, 0));
    palette.setColor(QPalette::Disabled, QPalette::Text, QColor(120, 120, 120));
    palette.setColor(QPalette::Disabled, QPalette::Base, QColor(240, 240, 240));
    teOutput->setPalette(palette);
    gridLayout->addWidget(teOutput, 0, 0);

    leInput = new QLineEdit(this);
    leInput->setObjectName(QStringLiteral("leInput"));
    leInput->setClearButtonEnabled(true);
    leInput->setPlaceholderText(QStringLiteral("Enter commands here"));
    gridLayout->addWidget(leInput, 1, 0);
    connect(leInput, SIGNAL(returnPressed()), this, SLOT(inputEvent()));
    leInput->installEventFilter(this);
    teOutput->document()->setMaximumBlockCount(kMaxConsoleLines);

    errorTimer = new QTimer(this);
    errorTimer->setSingleShot(true);
    connect(errorTimer, &QTimer::timeout, this, &OutputWindow::endError);
}

void OutputWindow::setStatusWidgets(QLabel *label, QProgressBar *bar)
{
    statusLabel = label;
    progressBar = bar;
}

bool OutputWindow::onGuiThread() const
{
    return QThread::currentThread() == thread();
}

void OutputWindow::appendLine(const QString &text, Severity severity)
{
    {
        QMutexLocker locker(&queueLock);
        pending.append(consoleLine(text, severity));
    }
    showPending();
}

void OutputWindow::appendLines(const QStringList &lines)
{
    {
        QMutexLocker locker(&queueLock);
        pending.append(lines);
    }
    showPending();
}

void OutputWindow::showPending()
{
    if (onGuiThread()) {
        flushMessages();
        return;
    }
    // One queued flush takes every line queued until it runs, so one is enough.
    if (!flushPosted.exchange(true))
        QMetaObject::invokeMethod(this, "flushMessages", Qt::QueuedConnection);
}

void OutputWindow::flushMessages()
{
    if (!onGuiThread()) {
        if (!flushPosted.exchange(true))
            QMetaObject::invokeMethod(this, "flushMessages", Qt::QueuedConnection);
        return;
    }
    flushPosted = false;
    // A flush already under way (we are inside its event processing) leaves the lines to it.
    if (flushing)
        return;
    flushing = true;
    if (!flushLock.tryLock(kLockWaitMs)) {
        flushing = false;
        return;
    }
    QStringList lines;
    {
        QMutexLocker locker(&queueLock);
        lines.swap(pending);
    }
    QString error;
    appendParagraphs(lines);
    for (const QString &line : qAsConst(lines)) {
        qCInfo(lcMessage) << line;
        if (const QString text = errorStatusText(line); !text.isNull())
            error = text;
    }
    teOutput->verticalScrollBar()->setValue(teOutput->verticalScrollBar()->maximum());
    teOutput->horizontalScrollBar()->setValue(0);
    if (!error.isNull())
        showError(error);
    // Keeps the interface alive while long calculations on the GUI thread log as they go.
    QCoreApplication::processEvents();
    flushing = false;
    flushLock.unlock();

    // Lines logged while the events above were processed must not wait for the next line.
    bool more = false;
    {
        QMutexLocker locker(&queueLock);
        more = !pending.isEmpty();
    }
    if (more && !flushPosted.exchange(true))
        QMetaObject::invokeMethod(this, "flushMessages", Qt::QueuedConnection);
}

void OutputWindow::appendParagraphs(const QStringList &lines)
{
    // What QTextEdit::append does line by line, in one edit block: the document lays itself
    // out, and drops what lies beyond its maximum, once for the batch instead of once a line,
    // which at tens of thousands of lines is the difference between seconds and hours.
    // Every line starts a paragraph in the formats the view's cursor had before the first.
    QTextDocument *document = teOutput->document();
    if (document->isEmpty()) {
        paragraphFormat = teOutput->textCursor().blockFormat();
        lineFormat = teOutput->textCursor().charFormat();
    }
    QTextCursor end(document);
    end.beginEditBlock();
    end.movePosition(QTextCursor::End);
    for (const QString &line : lines) {
        if (document->isEmpty())
            end.setCharFormat(lineFormat);
        else
            end.insertBlock(paragraphFormat, lineFormat);
        if (Qt::mightBeRichText(line))
            end.insertHtml(line);
        else
            end.insertText(line);
    }
    end.endEditBlock();
}

void OutputWindow::setStatusText(const QString &text)
{
    if (!statusLock.tryLock(kLockWaitMs))
        return;
    if (statusLabel) {
        if (onGuiThread())
            applyStatusText(text);
        else
            QMetaObject::invokeMethod(this, "applyStatusText", Qt::QueuedConnection, Q_ARG(QString, text));
    }
    statusLock.unlock();
}

void OutputWindow::applyStatusText(const QString &text)
{
    if (!statusLabel)
        return;
    const bool bareErrorCode = text.startsWith(QLatin1String("Error ")) && text.mid(6).toInt() != 0;
    if (errorShown && (text == QLatin1String(kReady) || bareErrorCode)) {
        textAfterError = text;
        return;
    }
    if (errorShown) {
        errorTimer->stop();
        endError();
    }
    statusLabel->setText(text);
}

void OutputWindow::showError(const QString &statusText)
{
    if (statusLabel) {
        if (!errorShown)
            textAfterError = statusLabel->text();
        QPalette palette = statusLabel->palette();
        palette.setColor(QPalette::WindowText, QColor(QLatin1String(kErrorColour)));
        statusLabel->setPalette(palette);
        statusLabel->setText(statusText);
        statusLabel->setToolTip(statusText);
        errorShown = true;
        errorTimer->start(errorShownMs);
    }
    // Raised, not activated: the current image window stays the one operations work on.
    if (auto *frame = qobject_cast<QMdiSubWindow *>(parentWidget()); frame && !frame->isMinimized())
        frame->raise();
}

void OutputWindow::endError()
{
    if (!errorShown)
        return;
    errorShown = false;
    if (!statusLabel)
        return;
    statusLabel->setPalette(QPalette());
    statusLabel->setToolTip(QString());
    statusLabel->setText(textAfterError);
}

void OutputWindow::setProgress(float percent)
{
    bool idle = false;
    if (!progressBusy.compare_exchange_strong(idle, true))
        return;
    if (progressLock.tryLock(kLockWaitMs)) {
        const int value = static_cast<int>(percent);
        if (progressBar) {
            if (onGuiThread())
                progressBar->setValue(value);
            else
                QMetaObject::invokeMethod(progressBar, "setValue", Qt::QueuedConnection, Q_ARG(int, value));
        }
        progressLock.unlock();
    }
    // Cleared whether or not the lock was had, so that a missed update never blocks later ones.
    progressBusy = false;
}

void OutputWindow::traceMessage(const QString &text)
{
    QMutexLocker locker(&queueLock);
    qCDebug(lcMessage) << text;
}

void OutputWindow::sAppendMsg(QString msg)
{
    if (muted)
        return;
    {
        QMutexLocker locker(&queueLock);
        teOutput->append(msg);
    }
    QCoreApplication::processEvents();
}

void OutputWindow::inputEvent()
{
    const QString line = leInput->text();
    if (!line.trimmed().isEmpty() && (history.isEmpty() || history.last() != line))
        history.append(line);
    historyPosition = history.size();
    typedLine.clear();
    emit textEntered(line);
    leInput->clear();
}

void OutputWindow::recallHistory(int step)
{
    const int position = std::clamp(historyPosition + step, 0, static_cast<int>(history.size()));
    if (position == historyPosition)
        return;
    if (historyPosition == history.size())
        typedLine = leInput->text();
    historyPosition = position;
    leInput->setText(position == history.size() ? typedLine : history.at(position));
}

bool OutputWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == leInput && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            recallHistory(key == Qt::Key_Up ? -1 : 1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void OutputWindow::closeEvent(QCloseEvent *event)
{
    logMessage(QStringLiteral("Don't try this at home!"), Severity::Error);
    event->ignore();
}
