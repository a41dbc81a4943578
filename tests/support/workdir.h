#pragma once
// Every test executable runs in a fresh temporary working directory, because the program
// keeps its settings file and its log file in the working directory.
#include <QTemporaryDir>

namespace testsupport {

class ScopedWorkDir {
public:
    ScopedWorkDir();
    ~ScopedWorkDir();
    QString path() const { return dir.path(); }
    QString filePath(const QString &name) const { return dir.filePath(name); }

private:
    QTemporaryDir dir;
    QString previous;
};

} // namespace testsupport
