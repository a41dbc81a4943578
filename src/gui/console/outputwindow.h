#pragma once
// The console window: the desktop program's message log and its command line.
// logMessage, setStatusText, setProgress and traceMessage may be called from any thread.
// Lines are queued under queueLock in the order their callers took it and shown by the GUI
// thread; a worker's line, status text or progress value reaches the widgets through a
// queued invocation, so only the GUI thread ever touches them.
#include "log/messagelog.h"

#include <QLoggingCategory>
#include <QMutex>
#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <atomic>

class QGridLayout;
class QLabel;
class QLineEdit;
class QProgressBar;
class QTextEdit;

Q_DECLARE_LOGGING_CATEGORY(lcMessage)

class OutputWindow : public QWidget, public MessageLog {
    Q_OBJECT
public:
    explicit OutputWindow(QWidget *parent = nullptr);

    void setStatusText(const QString &text) override;
    void setProgress(float percent) override;
    void traceMessage(const QString &text) override;

    // The status-bar widgets that the console drives; not owned.
    void setStatusWidgets(QLabel *label, QProgressBar *bar);

    // Tries the status lock for up to 100 ms; used by callers that must not wait longer.
    QMutex &statusMutex() { return statusLock; }

    QGridLayout *gridLayout = nullptr;
    QTextEdit *teOutput = nullptr;
    QLineEdit *leInput = nullptr;

    // The console keeps this many lines; older ones scroll away (the log file keeps them all).
    static constexpr int kMaxConsoleLines = 100000;

signals:
    void textEntered(QString text);

public slots:
    void sAppendMsg(QString msg);
    void inputEvent();
    void flushMessages();

protected:
    void appendLine(const QString &text) override;
    void appendLines(const QStringList &lines) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    bool onGuiThread() const;
    void showPending();
    // Up and Down in the input field walk through the lines entered before.
    void recallHistory(int step);

    QPointer<QLabel> statusLabel;
    QPointer<QProgressBar> progressBar;
    QMutex queueLock;
    QMutex progressLock;
    QMutex statusLock;
    QMutex flushLock;
    QStringList pending;
    bool flushing = false; // GUI thread only: flushes run there
    std::atomic<bool> progressBusy{false};
    // A queued flush is on its way; workers need not post another.
    std::atomic<bool> flushPosted{false};
    QStringList history;
    int historyPosition = 0; // history.size(): the line being typed
    QString typedLine;       // what was typed before walking back
};
