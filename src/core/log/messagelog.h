#pragma once
// The program's one message log. Core code reports through it; each front end provides one
// implementation (the console window in the desktop program, the terminal in the command
// line). Every operation may be called from any thread; lines from one thread keep their
// order. While `muted` is set, logMessage discards its text (traces are never shown).
#include <QString>
#include <QStringList>

#include <atomic>

// How a line is to be shown: core writes plain text and says what kind of line it is; the
// console window gives each kind its colour (errors red, warnings light red, notices yellow),
// the terminal prints the text alone.
enum class Severity { Info, Notice, Warning, Error };

class MessageLog {
public:
    virtual ~MessageLog() = default;

    void logMessage(const QString &text, Severity severity = Severity::Info)
    {
        if (muted.load(std::memory_order_relaxed))
            return;
        appendLine(text, severity);
    }
    // Many lines at once, each as logMessage would log it; a front end may show them together,
    // which keeps a flood of lines (an image's worth of invalid values) from crawling.
    void logMessages(const QStringList &lines)
    {
        if (muted.load(std::memory_order_relaxed))
            return;
        appendLines(lines);
    }
    virtual void setStatusText(const QString &text) = 0;
    virtual void setProgress(float percent) = 0;
    virtual void traceMessage(const QString &text) = 0;

    std::atomic<bool> muted{false};

protected:
    // One line for the log; called only while the log is not muted.
    virtual void appendLine(const QString &text, Severity severity) = 0;
    // Info lines, many at once.
    virtual void appendLines(const QStringList &lines)
    {
        for (const QString &line : lines)
            appendLine(line, Severity::Info);
    }
};

// A log that drops everything: the default until a front end installs its own.
class NullMessageLog : public MessageLog {
public:
    void setStatusText(const QString &) override {}
    void setProgress(float) override {}
    void traceMessage(const QString &) override {}

protected:
    void appendLine(const QString &, Severity) override {}
};

// The process-wide log that core code writes to when it is not handed one. The front end
// installs its log at start-up and removes it (nullptr) before destroying it.
MessageLog &messageLog();
void installMessageLog(MessageLog *log);

// Numbers in log lines: general format, six significant digits.
inline QString logNumber(double value)
{
    return QString::number(value, 'g', 6);
}
