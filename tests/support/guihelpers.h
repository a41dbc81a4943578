#pragma once
// Helpers for tests that drive real widgets under the offscreen platform.
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class Verdanix;
class mdiImage;
class QTableWidget;

namespace testsupport {

// Processes events until `condition` holds or `timeoutMs` passes; returns the condition.
bool waitUntil(const std::function<bool()> &condition, int timeoutMs = 5000);

// The lines of the log file "log" in the working directory.
QStringList logFileLines();

// Clicks `button` (by its text, e.g. "&Yes") in the first visible message box whose object
// name is `boxName`, as soon as it appears, from within its own event loop. Gives up after
// timeoutMs.
void clickInMessageBoxWhenShown(const QString &boxName, const QString &buttonText, int timeoutMs = 5000);

// A main window on a fresh settings file whose welcome text was already agreed to, shown.
std::unique_ptr<Verdanix> startMainWindow();

// The lines the main window's console shows, as plain text.
QStringList consoleLines(Verdanix &window);

// Makes the program's open-file dialogs answer at once with these files (empty: cancelled).
void scriptOpenFiles(const QStringList &files);
void scriptOpenFile(const QString &file);

// The image window of the main window with this title, or null.
mdiImage *imageTitled(Verdanix &window, const QString &title);

// The texts of one column of a table, top to bottom.
QStringList tableColumn(const QTableWidget &table, int column);

// Whether the main window shows its Abort button (it does while a run is busy).
bool abortVisible(Verdanix &window);

// Presses Abort as soon as the event loop turns, recording whether a run was busy then.
void pressAbortSoon(Verdanix &window, bool &pressedWhileRunning);

} // namespace testsupport
