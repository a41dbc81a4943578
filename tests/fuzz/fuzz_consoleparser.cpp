// libFuzzer target over the console's command parser. Each input is parsed twice: as one
// line of any text, which must never crash and must give a value slot for every name, and
// as the pieces of a line put together from names and values (pieces separated by newlines,
// the first the command word), whose every parameter must come back with its own value.
#include "console/consoleparser.h"
#include "fuzzinput.h"

namespace {

using fuzzing::expect;

// Any line: the parts are the line split at single spaces, every name is one of the parts,
// in order, and each has a value slot.
void checkAnyLine(const QString &line)
{
    const ConsoleCommand parsed = parseConsoleLine(line);
    expect(parsed.parts == line.split(QLatin1Char(' ')) && parsed.command == parsed.parts.first().toLower()
           && parsed.names.size() == parsed.values.size());
    for (int i = 0, from = 1; i < parsed.names.size(); ++i) {
        const QString &name = parsed.names.at(i);
        from = parsed.parts.indexOf(name, from) + 1;
        expect(name.startsWith(QLatin1Char('-')) && from > 0);
        expect(parsed.names.indexOf(name) != i || paramValue(name, parsed.names, parsed.values) == parsed.values.at(i));
    }
}

// A value made from a piece that the parser must give back as written. A piece opening with a
// double quote becomes a quoted value: a double quote, text with spaces but no quote that does
// not start with a space, a double quote (the parser hands it back wrapped in single quotes).
// Any other becomes a plain value: no spaces, not empty, not mistaken for a name (a dash not
// followed by a digit) and not opening a quotation.
QString composedValue(QString piece)
{
    if (piece.startsWith(QLatin1Char('"'))) {
        piece.remove(QLatin1Char('"'));
        return QLatin1String(piece.startsWith(QLatin1Char(' ')) ? "\"q" : "\"") + piece + QLatin1Char('"');
    }
    piece.remove(QLatin1Char(' '));
    const bool name = piece.startsWith(QLatin1Char('-')) && !(piece.size() > 1 && piece.at(1).isDigit());
    return QLatin1String(piece.isEmpty() || name || piece.startsWith(QLatin1Char('"')) ? "v" : "") + piece;
}

void checkComposedLine(const QString &text)
{
    const QStringList pieces = text.split(QLatin1Char('\n'));
    const QString command = QString(pieces.first()).remove(QLatin1Char(' '));
    QString line = command;
    QStringList names, expected;
    for (int i = 1; i + 1 < pieces.size(); i += 2) {
        const QString name = QLatin1String("-n") + QString(pieces.at(i)).remove(QLatin1Char(' '));
        const bool quoted = pieces.at(i + 1).startsWith(QLatin1Char('"'));
        const QString value = composedValue(pieces.at(i + 1));
        line += QLatin1Char(' ') + name + QLatin1Char(' ') + value;
        if (names.contains(name))
            continue;
        names.append(name);
        expected.append(quoted ? QLatin1Char('\'') + value + QLatin1Char('\'') : value);
    }
    const ConsoleCommand parsed = parseConsoleLine(line);
    expect(parsed.command == command.toLower());
    for (int i = 0; i < names.size(); ++i)
        expect(paramValue(names.at(i), parsed.names, parsed.values) == expected.at(i));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    checkAnyLine(text);
    checkComposedLine(text);
    return 0;
}
