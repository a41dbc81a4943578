#include "filedialogs.h"

#include "framefilefilter.h"
#include "platform/settingsfile.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>

namespace filedialogs {

namespace {

QString qtOpenFileName(QWidget *parent, const QString &caption, const QString &directory, const QString &filter)
{
    return QFileDialog::getOpenFileName(parent, caption, directory, filter);
}

QString qtSaveFileName(QWidget *parent, const QString &caption, const QString &directory, const QString &filter,
                       const QString &selectedFilter)
{
    QString selected = selectedFilter;
    // The program refuses to overwrite anyway; the dialog need not ask.
    return QFileDialog::getSaveFileName(parent, caption, directory, filter, selected.isEmpty() ? nullptr : &selected,
                                        QFileDialog::DontConfirmOverwrite);
}

QStringList qtOpenFileNames(QWidget *parent, const QString &caption, const QString &directory, const QString &filter)
{
    return QFileDialog::getOpenFileNames(parent, caption, directory, filter);
}

QString qtDirectory(QWidget *parent, const QString &caption, const QString &directory)
{
    return QFileDialog::getExistingDirectory(parent, caption, directory, QFileDialog::ShowDirsOnly);
}

QString askAndRemember(AskFunction ask, QWidget *parent, const QString &caption, const QString &filter)
{
    const QString file = ask(parent, caption, settingsfile::fileOpenPath(), filter);
    if (!file.isEmpty())
        settingsfile::setFileOpenPath(QFileInfo(file).absolutePath());
    return file;
}

} // namespace

AskFunction askOpenFileName = qtOpenFileName;
AskSaveFunction askSaveFileName = qtSaveFileName;
AskManyFunction askOpenFileNames = qtOpenFileNames;
AskDirectoryFunction askDirectory = qtDirectory;

QString openFile(QWidget *parent, const QString &caption, const QString &filter)
{
    return askAndRemember(askOpenFileName, parent, caption, filter);
}

QString saveFile(QWidget *parent, const QString &caption, const QString &filter, const QString &selectedFilter)
{
    const QString file = askSaveFileName(parent, caption, settingsfile::fileOpenPath(), filter, selectedFilter);
    if (!file.isEmpty())
        settingsfile::setFileOpenPath(QFileInfo(file).absolutePath());
    return file;
}

QStringList openFiles(QWidget *parent, const QString &caption, const QString &filter)
{
    const QStringList files = askOpenFileNames(parent, caption, settingsfile::fileOpenPath(), filter);
    if (!files.isEmpty())
        settingsfile::setFileOpenPath(QFileInfo(files.first()).absolutePath());
    return files;
}

QString chooseDirectory(QWidget *parent, const QString &caption)
{
    return askDirectory(parent, caption, settingsfile::fileOpenPath());
}

void chooseFrameFile(QWidget *parent, QLineEdit *field, const QString &caption)
{
    field->setText(openFile(parent, caption, QString::fromLatin1(kFrameFileFilter)));
}

} // namespace filedialogs
