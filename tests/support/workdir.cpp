#include "workdir.h"

#include <QDir>

namespace testsupport {

ScopedWorkDir::ScopedWorkDir() : previous(QDir::currentPath())
{
    QDir::setCurrent(dir.path());
}

ScopedWorkDir::~ScopedWorkDir()
{
    QDir::setCurrent(previous);
}

} // namespace testsupport
