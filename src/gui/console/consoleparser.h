#pragma once
// The console's command language: a command word, then parameters "-name value". A line is
// split at every single space (doubled spaces give empty parts); a name takes the next part
// as its value unless that part is another name ("-h"), though a part such as "-0.5" that
// starts with a minus and a digit is a negative number and so a value. A value that starts
// with a double quote runs to the first part that ends with one and is kept with its spaces,
// wrapped in single quotes: -f "my file.fits" gives '"my file.fits"'. Without a closing
// quote it takes the rest of the line. Other parts are ignored.
// Pure functions on strings (QtCore only); any thread may call them.
#include <QString>
#include <QStringList>

struct ConsoleCommand {
    QStringList parts;   // the line split at single spaces; parts[0] always exists
    QString command;     // parts[0] in lower case
    QStringList names;   // parameter names with their "-", in order
    QStringList values;  // values[i] belongs to names[i]; empty when none was given
};

ConsoleCommand parseConsoleLine(const QString &line);

// The value of the first parameter called `name`, or "" when there is none.
QString paramValue(const QString &name, const QStringList &names, const QStringList &values);
