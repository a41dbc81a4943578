// The console's command language: how a line splits into a command, names and values.
#include "console/consoleparser.h"

#include <gtest/gtest.h>

TEST(ConsoleParser, EveryNameKeepsItsOwnValue)
{
    struct Case {
        const char *line;
        const char *command;
        QStringList names;
        QStringList values;
    } cases[] = {
        {" help", "", {}, {}},
        {"starsearch -l  0.03", "starsearch", {"-l"}, {""}}, // two spaces: the empty part is the value
        {"starsearch -l -0.5 -h", "starsearch", {"-l", "-h"}, {"-0.5", ""}},
        {"x stray -a 1 loose", "x", {"-a"}, {"1"}},
        {"open -f \"my night/m 31.fits\" -z 2", "open", {"-f", "-z"}, {"'\"my night/m 31.fits\"'", "2"}},
        {"open -f \"no end -z 2", "open", {"-f"}, {"'\"no end -z 2'"}}, // no closing quote: the rest of the line
    };
    for (const Case &c : cases) {
        const ConsoleCommand parsed = parseConsoleLine(QString::fromUtf8(c.line));
        EXPECT_EQ(parsed.command, QString::fromLatin1(c.command)) << c.line;
        EXPECT_EQ(parsed.names, c.names) << c.line;
        EXPECT_EQ(parsed.values, c.values) << c.line;
        EXPECT_FALSE(parsed.parts.isEmpty()) << c.line;
    }
    const ConsoleCommand twice = parseConsoleLine(QStringLiteral("x -a 1 -a 2"));
    EXPECT_EQ(paramValue(QStringLiteral("-a"), twice.names, twice.values), QStringLiteral("1")) << "the first wins";
    EXPECT_EQ(paramValue(QStringLiteral("-b"), twice.names, twice.values), QString());
}
