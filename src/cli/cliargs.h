#pragma once
// The arguments of one subcommand: options of the form --name or --name VALUE, and the
// positional arguments in order. Which options take a value is said by the subcommand.
#include <QSet>
#include <QStringList>

#include <optional>

class CliArgs {
public:
    // Splits `arguments`; options listed in `valued` take the next argument as their value.
    // Fails (ok() false, error() says why) on an unknown option or a missing value.
    CliArgs(const QStringList &arguments, const QSet<QString> &flags, const QSet<QString> &valued);

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
