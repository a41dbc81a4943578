#pragma once
// The arguments of one subcommand: options of the form --name or --name VALUE, and the
// positional arguments in order. Which options there are, and which take a value, is said once
// by the subcommand's entry in the command table (commandtable.h), which also prints them in
// its --help.
#include <QSet>
#include <QStringList>

#include <optional>
#include <vector>

// One option of a subcommand, as its --help lists it: "  --name VALUE   help (default: ...)".
struct CliOption {
    const char *name;        // "--size"
    const char *value;       // the placeholder of its value ("S"); nullptr for a flag
    const char *defaultText; // shown as "(default: ...)"; nullptr when there is none to show
    const char *help;        // nullptr: listed on the line of the next option, whose help covers both
};

class CliArgs {
public:
    // Splits `arguments`; options listed in `valued` take the next argument as their value.
    // Fails (ok() false, error() says why) on an unknown option or a missing value.
    CliArgs(const QStringList &arguments, const QSet<QString> &flags, const QSet<QString> &valued);
    // The same over a command's declared options: those with a value placeholder are valued.
    CliArgs(const QStringList &arguments, const std::vector<CliOption> &options);

    bool ok() const { return errorText.isEmpty(); }
    QString error() const { return errorText; }
    bool has(const QString &option) const;
    std::optional<QString> value(const QString &option) const;
    const QStringList &positionals() const { return positional; }

private:
    QSet<QString> present;
    QList<QPair<QString, QString>> values;
    QStringList positional;
    QString errorText;
};
