#include "consoleparser.h"

#include <QRegularExpression>

namespace {

bool isName(const QString &part)
{
    return part.startsWith(QLatin1Char('-'));
}

// "-0.5" is a value, "-h" a name.
bool isNegativeNumber(const QString &part)
{
    return part.size() > 1 && part.at(1).isDigit();
}

} // namespace

ConsoleCommand parseConsoleLine(const QString &line)
{
    ConsoleCommand parsed;
    parsed.parts = line.split(QLatin1Char(' '));
    parsed.command = parsed.parts.first().toLower();
    const QStringList &parts = parsed.parts;
    int i = 1;
    while (i < parts.size()) {
        if (!isName(parts.at(i))) {
            ++i;
            continue;
        }
        parsed.names.append(parts.at(i));
        const int next = i + 1;
        if (next >= parts.size()) {
            parsed.values.append(QString());
            break;
        }
        const QString &candidate = parts.at(next);
        if (isName(candidate) && !isNegativeNumber(candidate)) {
            // The next part is a name in its turn.
            parsed.values.append(QString());
            i = next;
            continue;
        }
        if (candidate.startsWith(QLatin1Char('"'))) {
            QString joined;
            int last = next;
            for (; last < parts.size(); ++last) {
                joined += parts.at(last) + QLatin1Char(' ');
                if (parts.at(last).endsWith(QLatin1Char('"')))
                    break;
            }
            joined.remove(QRegularExpression(QStringLiteral("\\s$")));
            parsed.values.append(QLatin1Char('\'') + joined + QLatin1Char('\''));
            i = last + 1;
            continue;
        }
        parsed.values.append(candidate);
        i = next + 1;
    }
    return parsed;
}

QString paramValue(const QString &name, const QStringList &names, const QStringList &values)
{
    const int index = names.indexOf(name);
    return index >= 0 && index < values.size() ? values.at(index) : QString();
}
