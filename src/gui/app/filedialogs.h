#pragma once
// The file dialogs of the program, behind function pointers so that tests can answer them.
// Each starts in the folder of the last file chosen in any dialog (FileOpenPath) and
// remembers the folder of the file chosen now.
#include <QString>

class QWidget;

namespace filedialogs {

using AskFunction = QString (*)(QWidget *parent, const QString &caption, const QString &directory,
                                const QString &filter);

extern AskFunction askOpenFileName;
extern AskFunction askSaveFileName;

// Asks, remembers the chosen file's folder, and returns the file (empty when cancelled).
QString openFile(QWidget *parent, const QString &caption, const QString &filter);
QString saveFile(QWidget *parent, const QString &caption, const QString &filter);

} // namespace filedialogs
