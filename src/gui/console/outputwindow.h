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
#include <QTextFormat>
#include <QWidget>

#include <atomic>

class QGridLayout;
class QLabel;
class QLineEdit;
class QProgressBar;
class QTextEdit;
class QTimer;

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

    // A logged line as the console shows it: errors, warnings and notices in their colours
    // (#ff6666, #ff9999, #ffff00), other lines as they are.
    static QString consoleLine(const QString &text, Severity severity);
    // The text of an error line as the status bar shows it ("Error: ..."), or a null string
    // when the line is no error: red lines (the colours #ff6666, #ff9999, #dd3333) and lines
    // that begin "Error", "ERROR", "[ERROR]", "Saving failed", "Could not create" or
    // "Not enough memory".
    static QString errorStatusText(const QString &line);
    // Shows the text in the status bar in the error colour for errorShownMs and brings the
    // console above the image windows that hide it. Meanwhile "Ready." (and the bare
    // "Error <code>" of a run's end) waits, so that the reason stays readable. GUI thread.
    void showError(const QString &statusText);
    bool showingError() const { return errorShown; }
    int errorShownMs = 6000;

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

private slots:
    // Sets the status label on the GUI thread, honouring a shown error.
    void applyStatusText(const QString &text);
    void endError();

protected:
    void appendLine(const QString &text, Severity severity) override;
    void appendLines(const QStringList &lines) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    bool onGuiThread() const;
    void showPending();
    // Each line a paragraph of its own at the end of the view, as QTextEdit::append makes it.
    void appendParagraphs(const QStringList &lines);
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
    QTimer *errorTimer = nullptr;
    bool errorShown = false;
    QString textAfterError; // what the label shows once the error has been read
    QStringList history;
    int historyPosition = 0; // history.size(): the line being typed
    QString typedLine;       // what was typed before walking back
    QTextBlockFormat paragraphFormat; // the view's formats before its first line
    QTextCharFormat lineFormat;
};
