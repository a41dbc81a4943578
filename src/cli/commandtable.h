#pragma once
// The command line's subcommands: one table of name, one-line summary, help text, options and
// handler. Each option is declared once, in its command's entry: the dispatcher parses the
// command's arguments with exactly these options (an unknown one is a usage error) and builds
// the command's --help from them, so the two cannot disagree.
// A handler writes its result to `out` (human-readable, or with --json one JSON object), reports
// a failure as one line on `err` (and with --json as an object with an "error" member on
// `out`), and returns the exit status: 0 on success, 1 when the run failed, 2 for a command
// line that cannot be run.
#include "cliargs.h"

#include <QJsonObject>
#include <QStringList>
#include <QTextStream>

#include <vector>

struct CliContext {
    QTextStream &out;
    QTextStream &err;
    // The command line asked for --json (set by the dispatcher).
    bool json = false;
    // The command printed its JSON object; a failure after it adds no second one.
    bool jsonPrinted = false;
};

// --help prints "usage: " synopsis, a blank line, the description, one line per option and
// the notes; description and notes are whole lines ending in "\n", or "".
struct CliCommand {
    const char *name;
    const char *summary;
    const char *synopsis; // "verdanix-cli NAME ...": positional arguments and how options combine
    const char *description;
    std::vector<CliOption> options;
    const char *notes;
    // Called with the arguments after the command's name, already parsed with `options`.
    int (*run)(const CliArgs &args, CliContext &context);
};

const std::vector<CliCommand> &commandTable();

// The command's --help text after "usage: ", built from its entry.
QString commandUsage(const CliCommand &command);

// Runs a whole command line (without the program name): global options, or one subcommand.
int dispatchCommandLine(const QStringList &arguments, CliContext &context);

// Exit statuses shared by the subcommands.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// Writes "verdanix-cli: <message>" to err, with " (error <code>)" when a code is given, and with
// --json the object {"error": message, "errorCode": code or null} to out unless the command
// printed its own already. Returns `status`.
int failWith(CliContext &context, const QString &message, int status = kExitFailure, int code = 0);

// Prints the command's result with --json: one line holding `object`, with "error": null
// unless the object carries its own "error".
void printJson(CliContext &context, QJsonObject object);
