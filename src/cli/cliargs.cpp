#include "cliargs.h"

namespace {

QSet<QString> optionNames(const std::vector<CliOption> &options, bool valued)
{
    QSet<QString> names;
    for (const CliOption &option : options)
        if ((option.value != nullptr) == valued)
            names.insert(QLatin1String(option.name));
    return names;
}

} // namespace

CliArgs::CliArgs(const QStringList &arguments, const std::vector<CliOption> &options)
    : CliArgs(arguments, optionNames(options, false), optionNames(options, true))
{
}

CliArgs::CliArgs(const QStringList &arguments, const QSet<QString> &flags, const QSet<QString> &valued)
{
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        const bool looksLikeOption = argument.startsWith(QLatin1String("--"));
        if (!looksLikeOption) {
            positional.append(argument);
            continue;
        }
        if (flags.contains(argument)) {
            present.insert(argument);
        } else if (valued.contains(argument)) {
            if (i + 1 >= arguments.size()) {
                errorText = QStringLiteral("option %1 needs a value").arg(argument);
                return;
            }
            present.insert(argument);
            values.append({argument, arguments.at(++i)});
        } else {
            errorText = QStringLiteral("unknown option %1").arg(argument);
            return;
        }
    }
}

bool CliArgs::has(const QString &option) const
{
    return present.contains(option);
}

std::optional<QString> CliArgs::value(const QString &option) const
{
    for (const auto &entry : values)
        if (entry.first == option)
            return entry.second;
    return std::nullopt;
}
