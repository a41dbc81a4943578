#pragma once
// The file dialogs of the program, behind function pointers so that tests can answer them.
// Each starts in the folder of the last file chosen in any dialog (FileOpenPath) and
// remembers the folder of the file chosen now.
#include <QString>
#include <QStringList>

class QLineEdit;
class QWidget;

namespace filedialogs {

using AskFunction = QString (*)(QWidget *parent, const QString &caption, const QString &directory,
                                const QString &filter);

// The save dialog also gets the filter it starts on (empty: the first one).
using AskSaveFunction = QString (*)(QWidget *parent, const QString &caption, const QString &directory,
                                    const QString &filter, const QString &selectedFilter);

using AskManyFunction = QStringList (*)(QWidget *parent, const QString &caption, const QString &directory,
                                        const QString &filter);
using AskDirectoryFunction = QString (*)(QWidget *parent, const QString &caption, const QString &directory);

extern AskFunction askOpenFileName;
extern AskSaveFunction askSaveFileName;
extern AskManyFunction askOpenFileNames;
extern AskDirectoryFunction askDirectory;

// Asks, remembers the chosen file's folder, and returns the file (empty when cancelled).
QString openFile(QWidget *parent, const QString &caption, const QString &filter);
QString saveFile(QWidget *parent, const QString &caption, const QString &filter,
                 const QString &selectedFilter = QString());
QStringList openFiles(QWidget *parent, const QString &caption, const QString &filter);
// One frame file (RAW or FITS) for a path field: the answer replaces the field's text, so
// cancelling clears it.
void chooseFrameFile(QWidget *parent, QLineEdit *field, const QString &caption);
// Starts in the remembered folder but, as a choice of output, remembers nothing.
QString chooseDirectory(QWidget *parent, const QString &caption);

} // namespace filedialogs
