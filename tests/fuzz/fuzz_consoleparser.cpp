// libFuzzer target over the console's command parser. Each input is parsed twice: as one
// line of any text, which must never crash and must give a value slot for every name, and
// as the pieces of a line put together from names and values (pieces separated by newlines,
// the first the command word), whose every parameter must come back with its own value.
#include "console/consoleparser.h"

#include <QSet>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>

namespace {

[[noreturn]] void contradiction()
{
    __builtin_trap();
}

// Any line: the parts are the line split at single spaces, every name is one of the parts,
// in order, and each has a value slot.
void checkAnyLine(const QString &line)
{
    const ConsoleCommand parsed = parseConsoleLine(line);
    if (parsed.parts != line.split(QLatin1Char(' ')) || parsed.command != parsed.parts.first().toLower())
        contradiction();
    if (parsed.names.size() != parsed.values.size())
        contradiction();
    int from = 1;
    for (int i = 0; i < parsed.names.size(); ++i) {
        const QString &name = parsed.names.at(i);
        if (!name.startsWith(QLatin1Char('-')))
            contradiction();
        const int at = parsed.parts.indexOf(name, from);
        if (at < 0)
            contradiction();
        from = at + 1;
        if (parsed.names.indexOf(name) == i && paramValue(name, parsed.names, parsed.values) != parsed.values.at(i))
            contradiction();
    }
}

bool looksLikeName(const QString &part)
{
    return part.startsWith(QLatin1Char('-')) && !(part.size() > 1 && part.at(1).isDigit());
}

// A value that the parser must give back as written: no spaces, not empty, not mistaken for
// a name and not opening a quotation.
QString plainValue(QString piece)
{
    piece.remove(QLatin1Char(' '));
    if (piece.isEmpty() || looksLikeName(piece) || piece.startsWith(QLatin1Char('"')))
        piece.prepend(QLatin1Char('v'));
    return piece;
}

// The parts of a quoted value: a double quote, text with spaces but no quote that does not
// start with a space, a double quote. The parser hands it back wrapped in single quotes.
QString quotedValue(QString piece)
{
    piece.remove(QLatin1Char('"'));
    if (piece.startsWith(QLatin1Char(' ')))
        piece.prepend(QLatin1Char('q'));
    return QLatin1Char('"') + piece + QLatin1Char('"');
}

void checkComposedLine(const QString &text)
{
    const QStringList pieces = text.split(QLatin1Char('\n'));
    QString command = pieces.first();
    command.remove(QLatin1Char(' '));
    QString line = command;
    QStringList names, expected;
    for (int i = 1; i + 1 < pieces.size(); i += 2) {
        QString name = pieces.at(i);
        name.remove(QLatin1Char(' '));
        name = QLatin1String("-n") + name;
        const QString &piece = pieces.at(i + 1);
        const bool quoted = piece.startsWith(QLatin1Char('"'));
        const QString value = quoted ? quotedValue(piece) : plainValue(piece);
        line += QLatin1Char(' ') + name + QLatin1Char(' ') + value;
        if (names.contains(name))
            continue;
        names.append(name);
        expected.append(quoted ? QLatin1Char('\'') + value + QLatin1Char('\'') : value);
    }
    const ConsoleCommand parsed = parseConsoleLine(line);
    if (parsed.command != command.toLower())
        contradiction();
    for (int i = 0; i < names.size(); ++i)
        if (paramValue(names.at(i), parsed.names, parsed.values) != expected.at(i))
            contradiction();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    checkAnyLine(text);
    checkComposedLine(text);
    return 0;
}
