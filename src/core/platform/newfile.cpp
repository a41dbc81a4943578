#include "newfile.h"

#include "log/errorcodes.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Scratch files in progress, for removeScratchFilesNow(). A slot is free (0), being filled (1)
// or holds a name to remove (2); the signal handler reads only slots in state 2.
constexpr int kScratchSlots = 64;
struct ScratchSlot {
    std::atomic<int> state{0};
    char path[PATH_MAX];
};
ScratchSlot scratchSlots[kScratchSlots];
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler may only touch lock-free atomics");

std::atomic<bool> unnamedFilesAllowed{true};

int registerScratch(const QByteArray &path)
{
    if (path.size() >= PATH_MAX)
        return -1;
    for (int i = 0; i < kScratchSlots; ++i) {
        int expected = 0;
        if (!scratchSlots[i].state.compare_exchange_strong(expected, 1))
            continue;
        std::memcpy(scratchSlots[i].path, path.constData(), static_cast<std::size_t>(path.size()) + 1);
        scratchSlots[i].state.store(2);
        return i;
    }
    return -1; // all in use: this one is only removed on failure, not on a signal
}

void releaseScratch(int slot)
{
    if (slot >= 0)
        scratchSlots[slot].state.store(0);
}

// A file without a name in `folder`; -1 with errno set when the file system has none.
int openUnnamed(const QByteArray &folder)
{
#ifdef O_TMPFILE
    // Naming it later goes through /proc; without /proc it could never get its name.
    if (unnamedFilesAllowed.load() && ::access("/proc/self/fd", X_OK) == 0)
        return ::open(folder.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
#endif
    errno = EOPNOTSUPP;
    return -1;
}

bool noUnnamedFiles(int number)
{
    return number == EOPNOTSUPP || number == EISDIR || number == EINVAL || number == ENOSYS;
}

// Gives the finished scratch file its name without replacing anything: link(2) fails when the
// name exists in any form. A file system without hard links gets an exclusive rename.
int publishScratch(const QByteArray &scratch, const QByteArray &target)
{
    if (::link(scratch.constData(), target.constData()) == 0)
        return 0;
    const int linkError = errno;
    if (linkError != EPERM && linkError != EOPNOTSUPP && linkError != ENOSYS)
        return linkError;
    if (::renameat2(AT_FDCWD, scratch.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    return errno == EINVAL || errno == ENOSYS ? linkError : errno;
}

int publishUnnamed(int fd, const QByteArray &target)
{
    char self[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    if (::linkat(AT_FDCWD, self, AT_FDCWD, target.constData(), AT_SYMLINK_FOLLOW) == 0)
        return 0;
    return errno;
}

} // namespace

NewFile::NewFile(const QString &path) : target(path)
{
    if (path.isEmpty() || path.endsWith(QLatin1Char('/'))) {
        failure = EISDIR;
        return;
    }
    const QFileInfo info(path);
    const QByteArray folder = QFile::encodeName(info.absolutePath());
    fd = openUnnamed(folder);
    if (fd >= 0)
        return;
    if (!noUnnamedFiles(errno)) {
        failure = errno;
        return;
    }
    for (int attempt = 0; attempt < 16; ++attempt) {
        const quint64 random = QRandomGenerator::global()->generate64();
        scratch = folder + QByteArrayLiteral("/.verdanix-") + QByteArray::number(random, 16)
                  + QByteArrayLiteral(".part");
        // Registered before it exists: a signal between creating the file and registering it
        // would leave it behind. Removing a name not yet created does no harm.
        slot = registerScratch(scratch);
        fd = ::open(scratch.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            failure = 0;
            return;
        }
        failure = errno;
        releaseScratch(slot);
        slot = -1;
        scratch.clear();
        if (failure != EEXIST)
            return;
    }
}

NewFile::~NewFile()
{
    if (!committed)
        discard();
}

bool NewFile::write(const char *data, qint64 size)
{
    if (fd < 0 || failure != 0)
        return false;
    while (size > 0) {
        const ssize_t written = ::write(fd, data, static_cast<std::size_t>(size));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            failure = errno;
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

int NewFile::commit(bool throughToDisk)
{
    if (fd < 0 || failure != 0) {
        if (failure == 0)
            failure = EBADF;
        discard();
        return failure;
    }
    if (throughToDisk && ::fdatasync(fd) != 0 && errno != EINVAL && errno != EROFS)
        failure = errno;
    const QByteArray name = QFile::encodeName(target);
    if (scratch.isEmpty()) {
        // The unnamed file is named through its descriptor, which stays open until then.
        if (failure == 0)
            failure = publishUnnamed(fd, name);
        const bool named = failure == 0;
        if (::close(fd) != 0 && failure == 0)
            failure = errno;
        fd = -1;
        // A file system that reports a failed write only on close: the name goes again.
        if (named && failure != 0)
            ::unlink(name.constData());
    } else {
        // Closed first: a network file system may report a failed write only on close.
        if (::close(fd) != 0 && failure == 0)
            failure = errno;
        fd = -1;
        if (failure == 0)
            failure = publishScratch(scratch, name);
    }
    if (failure != 0) {
        // A file of that name that existed before is not ours to remove, whatever happened.
        discard();
        return failure;
    }
    if (!scratch.isEmpty())
        ::unlink(scratch.constData());
    releaseScratch(slot);
    slot = -1;
    committed = true;
    return 0;
}

void NewFile::discard()
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
    if (!scratch.isEmpty())
        ::unlink(scratch.constData());
    releaseScratch(slot);
    slot = -1;
}

QString NewFile::errorText() const
{
    if (failure == EEXIST || failure == ENOENT || failure == ENOTDIR) {
        const QString problem = newFileProblem(target);
        if (!problem.isEmpty())
            return problem;
    }
    return systemErrorText(failure);
}

void removeScratchFilesNow()
{
    for (ScratchSlot &slot : scratchSlots) {
        if (slot.state.load() == 2)
            ::unlink(slot.path);
    }
}

namespace {

extern "C" void removeScratchFilesAndEnd(int signalNumber)
{
    removeScratchFilesNow();
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

} // namespace

void installEndingSignalHandler(void (*handler)(int))
{
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        struct sigaction inherited {};
        if (sigaction(signalNumber, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN)
            continue;
        struct sigaction action {};
        action.sa_handler = handler;
        sigemptyset(&action.sa_mask);
        sigaction(signalNumber, &action, nullptr);
    }
}

void removeScratchFilesOnEndingSignals()
{
    installEndingSignalHandler(removeScratchFilesAndEnd);
}

void setUnnamedFilesAllowed(bool allowed)
{
    unnamedFilesAllowed.store(allowed);
}
