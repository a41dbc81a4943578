#pragma once
// Creating a file all at once, for every writer of the program (FITS, previews, tables).
//
// The bytes go to a file without a name in the target's folder (O_TMPFILE), which receives
// the target's name only once it is complete and only if the name is still free: link(2)
// never replaces anything, not even a dangling symbolic link. Whatever stops the program
// meanwhile (a failed write, a full disk, a signal, even SIGKILL), nothing appears under any
// name. Where the file system has no unnamed files, the bytes go to a scratch file
// ".verdanix-<random>.part" beside the target instead; it is removed on failure, and by
// removeScratchFilesNow() from the handler of a signal that ends the program.
//
// Threads: a NewFile belongs to the thread that made it; any number may be written at once.
#include <QString>

#include <QtGlobal>

class NewFile {
public:
    // Opens the file to write for `path`; error() says whether that worked. The name itself
    // is not looked at until commit().
    explicit NewFile(const QString &path);
    // Discards everything written unless commit() succeeded.
    ~NewFile();
    NewFile(const NewFile &) = delete;
    NewFile &operator=(const NewFile &) = delete;

    // 0 while all is well, else the errno of the first failure.
    int error() const { return failure; }
    // Where the bytes go, for writers that take a descriptor; -1 when nothing is open.
    int descriptor() const { return fd; }
    // Appends `size` bytes; false (with error() set) when they could not all be written.
    bool write(const char *data, qint64 size);
    // Gives the file its name, after writing it through to the disk when asked to (a small
    // file that must survive a crash). Returns 0, EEXIST when the name exists (in any form),
    // or another errno; the file is discarded on failure.
    int commit(bool throughToDisk = false);
    // The reason for error() in words, with the target named when the folder is the problem.
    QString errorText() const;

private:
    void discard();

    QString target;
    QByteArray scratch; // the scratch file's name; empty for an unnamed file
    int slot = -1;      // its place in the list removeScratchFilesNow() reads, -1 for none
    int fd = -1;
    int failure = 0;
    bool committed = false;
};

// Removes the scratch files of the writes in progress. Async-signal-safe: meant for the
// handler of a signal that ends the program, which then ends it as the signal would.
void removeScratchFilesNow();

// Installs, for SIGINT, SIGTERM, SIGHUP and SIGQUIT, a handler that removes the scratch files
// and then ends the program as the signal would. For a front end without handlers of its own.
void removeScratchFilesOnEndingSignals();

// Installs `handler` for the signals that end a program (SIGINT, SIGTERM, SIGHUP, SIGQUIT),
// except those the program was started with ignored (nohup, a background job), which stay so.
// A front end's own handler calls removeScratchFilesNow before the program ends.
void installEndingSignalHandler(void (*handler)(int));

// For tests: false makes every NewFile use a named scratch file, as on a file system without
// unnamed files. True by default.
void setUnnamedFilesAllowed(bool allowed);
