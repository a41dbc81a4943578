#pragma once
// The command line's subcommands: one table of name, one-line summary, usage and handler.
// A handler writes its result to `out` (human-readable, or JSON with --json), reports a
// failure as one line on `err`, and returns the exit status (0 on success).
#include <QStringList>
#include <QTextStream>

#include <vector>

struct CliContext {
    QTextStream &out;
    QTextStream &err;
};

struct CliCommand {
    const char *name;
    const char *summary;
    const char *usage; // the full help text after the "usage:" line
    int (*run)(const QStringList &arguments, CliContext &context);
};

const std::vector<CliCommand> &commandTable();

// Runs a whole command line (without the program name): global options, or one subcommand.
int dispatchCommandLine(const QStringList &arguments, CliContext &context);

// Exit statuses shared by the subcommands.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// Writes "verdanix-cli: <message>" to err and returns `status`.
int failWith(CliContext &context, const QString &message, int status = kExitFailure);
