#include "registrationtable.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A table is a few hundred bytes per frame; anything far beyond that is not a table.
constexpr qint64 kMaxTableBytes = 64 * 1024 * 1024;
// A new table gets rw-r--r--, as files made by the program's other writers.
constexpr mode_t kTableFileMode = 0644;

const QString kFrames = QStringLiteral("frames");
const QString kFile = QStringLiteral("file");
const QString kOffsetX = QStringLiteral("offsetX");
const QString kOffsetY = QStringLiteral("offsetY");
const QString kAngle = QStringLiteral("angle");
const QString kStars = QStringLiteral("stars");
const QString kFwhm = QStringLiteral("fwhm");
const QString kStackable = QStringLiteral("stackable");
const QString kThreshold = QStringLiteral("threshold");
const QString kSeconds = QStringLiteral("seconds");
const QString kRefine = QStringLiteral("refine");
const QString kAutoThreshold = QStringLiteral("autoThreshold");
const QString kStarPairs = QStringLiteral("starPairs");
const QString kResidualRms = QStringLiteral("residualRms");

// The shortest decimal that reads back as the same float, so that 0.1f is written as 0.1
// and not as 0.100000001490116.
QJsonValue floatJson(float value)
{
    if (!std::isfinite(value))
        return QJsonValue();
    for (int digits = 6; digits < 9; ++digits) {
        const double candidate = QString::number(value, 'g', digits).toDouble();
        if (static_cast<float>(candidate) == value)
            return candidate;
    }
    return static_cast<double>(value);
}

QJsonValue doubleJson(double value)
{
    return std::isfinite(value) ? QJsonValue(value) : QJsonValue();
}

// A number or null (NaN); `required` says whether a missing key is an error or `fallback`.
bool readNumber(const QJsonObject &object, const QString &key, bool required, double fallback, double &value,
                QString &error)
{
    const QJsonValue v = object.value(key);
    if (v.isUndefined()) {
        if (required) {
            error = QStringLiteral("\"%1\" is missing").arg(key);
            return false;
        }
        value = fallback;
        return true;
    }
    if (v.isNull()) {
        value = std::nan("");
        return true;
    }
    if (!v.isDouble()) {
        error = QStringLiteral("\"%1\" is not a number").arg(key);
        return false;
    }
    value = v.toDouble();
    return true;
}

bool readFloat(const QJsonObject &object, const QString &key, bool required, float &value, QString &error)
{
    double number = 0.0;
    if (!readNumber(object, key, required, 0.0, number, error))
        return false;
    value = static_cast<float>(number);
    return true;
}

bool readRow(const QJsonValue &entry, const QDir &tableFolder, RegistrationTableRow &row, QString &error)
{
    if (!entry.isObject()) {
        error = QStringLiteral("is not an object");
        return false;
    }
    const QJsonObject object = entry.toObject();
    const QJsonValue file = object.value(kFile);
    if (!file.isString() || file.toString().isEmpty()) {
        error = QStringLiteral("\"file\" is missing or not a file name");
        return false;
    }
    row.file = QDir::cleanPath(tableFolder.filePath(file.toString()));
    if (!readFloat(object, kOffsetX, true, row.offsetX, error) || !readFloat(object, kOffsetY, true, row.offsetY, error)
        || !readFloat(object, kAngle, true, row.angle, error) || !readFloat(object, kStars, false, row.stars, error)
        || !readFloat(object, kFwhm, false, row.fwhm, error))
        return false;
    const QJsonValue stackable = object.value(kStackable);
    if (!stackable.isBool()) {
        error = QStringLiteral("\"stackable\" is missing or not true/false");
        return false;
    }
    row.stackable = stackable.toBool();
    double pairs = 0.0;
    if (!readNumber(object, kStarPairs, false, 0.0, pairs, error)
        || !readFloat(object, kResidualRms, false, row.residualRms, error)
        || !readFloat(object, kThreshold, false, row.threshold, error))
        return false;
    if (!object.contains(kResidualRms))
        row.residualRms = std::numeric_limits<float>::quiet_NaN();
    if (!object.contains(kThreshold))
        row.threshold = std::numeric_limits<float>::quiet_NaN();
    if (!(pairs >= 0.0 && pairs <= std::numeric_limits<int>::max())) {
        error = QStringLiteral("\"starPairs\" is not a count");
        return false;
    }
    row.starPairs = static_cast<int>(pairs);
    if (row.stackable && !(std::isfinite(row.offsetX) && std::isfinite(row.offsetY) && std::isfinite(row.angle))) {
        error = QStringLiteral("is stackable but its offsets or angle are not numbers");
        return false;
    }
    return true;
}

bool parseTable(const QByteArray &bytes, const QDir &tableFolder, RegistrationTable &table, QString &error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        error = QStringLiteral("not JSON: %1 at byte %2").arg(parseError.errorString()).arg(parseError.offset);
        return false;
    }
    if (!document.isObject()) {
        error = QStringLiteral("not a registration table (the JSON is not an object)");
        return false;
    }
    const QJsonObject root = document.object();
    const QJsonValue frames = root.value(kFrames);
    if (!frames.isArray()) {
        error = QStringLiteral("not a registration table (no \"frames\" list)");
        return false;
    }
    const QJsonArray list = frames.toArray();
    if (list.isEmpty()) {
        error = QStringLiteral("the table lists no frames");
        return false;
    }
    table.frames.reserve(static_cast<std::size_t>(list.size()));
    for (int i = 0; i < list.size(); ++i) {
        RegistrationTableRow row;
        QString rowError;
        if (!readRow(list.at(i), tableFolder, row, rowError)) {
            error = QStringLiteral("frame %1: %2").arg(i).arg(rowError);
            return false;
        }
        table.frames.push_back(row);
    }
    const RegistrationTable defaults;
    double threshold = 0.0;
    if (!readNumber(root, kThreshold, false, defaults.threshold, threshold, error)
        || !readNumber(root, kSeconds, false, defaults.seconds, table.seconds, error))
        return false;
    table.threshold = static_cast<float>(threshold);
    table.refined = root.value(kRefine).toBool(false);
    table.autoThreshold = root.value(kAutoThreshold).toBool(false);
    return true;
}

QString systemErrorText(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// The name to store for `file` in a table kept in `folder`: relative when the file lies in
// that folder or below it, absolute otherwise.
QString storedFileName(const QString &file, const QDir &folder)
{
    const QString absolute = QFileInfo(file).absoluteFilePath();
    const QString relative = folder.relativeFilePath(absolute);
    if (relative.startsWith(QLatin1String("../")) || relative == QLatin1String("..") || QDir::isAbsolutePath(relative))
        return absolute;
    return relative;
}

bool writeAll(int fd, const QByteArray &bytes)
{
    const char *data = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, static_cast<std::size_t>(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        left -= written;
    }
    return true;
}

// Gives the finished temporary file its name without replacing anything: link(2) fails when
// the name exists in any form. A file system without hard links gets an exclusive rename.
int publish(const QByteArray &temporary, const QByteArray &target)
{
    if (::link(temporary.constData(), target.constData()) == 0)
        return 0;
    const int linkError = errno;
    if (linkError != EPERM && linkError != EOPNOTSUPP && linkError != ENOSYS)
        return linkError;
    if (::renameat2(AT_FDCWD, temporary.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    return errno == EINVAL || errno == ENOSYS ? linkError : errno;
}

} // namespace

RegistrationTable makeRegistrationTable(const QStringList &files, const std::vector<RegistrationResult> &results,
                                        float threshold, double seconds)
{
    RegistrationTable table;
    table.threshold = threshold;
    table.seconds = seconds;
    const std::size_t rows = std::min(static_cast<std::size_t>(files.size()), results.size());
    for (std::size_t i = 0; i < rows; ++i) {
        const RegistrationResult &r = results[i];
        RegistrationTableRow row;
        row.file = files.at(static_cast<int>(i));
        row.offsetX = r.offsetX;
        row.offsetY = r.offsetY;
        row.angle = r.angle;
        row.stars = r.stars;
        row.fwhm = r.fwhm;
        row.stackable = r.stackable;
        row.starPairs = r.starPairs;
        row.residualRms = r.residualRms;
        row.threshold = r.threshold;
        table.frames.push_back(row);
    }
    return table;
}

QJsonObject registrationTableJson(const RegistrationTable &table)
{
    QJsonArray frames;
    for (const RegistrationTableRow &row : table.frames) {
        QJsonObject frame{{kFile, row.file},
                          {kOffsetX, floatJson(row.offsetX)},
                          {kOffsetY, floatJson(row.offsetY)},
                          {kAngle, floatJson(row.angle)},
                          {kStars, floatJson(row.stars)},
                          {kFwhm, floatJson(row.fwhm)},
                          {kStackable, row.stackable}};
        if (table.refined) {
            frame.insert(kStarPairs, row.starPairs);
            frame.insert(kResidualRms, floatJson(row.residualRms));
        }
        if (table.autoThreshold)
            frame.insert(kThreshold, floatJson(row.threshold));
        frames.append(frame);
    }
    QJsonObject root{
        {kFrames, frames}, {kThreshold, floatJson(table.threshold)}, {kSeconds, doubleJson(table.seconds)}};
    if (table.refined)
        root.insert(kRefine, true);
    if (table.autoThreshold)
        root.insert(kAutoThreshold, true);
    return root;
}

bool readRegistrationTable(const QString &path, RegistrationTable &table, QString &error)
{
    table = RegistrationTable();
    error.clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot open %1: %2").arg(path, file.errorString());
        return false;
    }
    if (file.size() > kMaxTableBytes) {
        error = QStringLiteral("%1 is not a registration table (%2 bytes)").arg(path).arg(file.size());
        return false;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    QString problem;
    if (!parseTable(bytes, QDir(QFileInfo(path).absolutePath()), table, problem)) {
        table = RegistrationTable();
        error = path + QStringLiteral(": ") + problem;
        return false;
    }
    return true;
}

QString registrationTableTargetProblem(const QString &path)
{
    struct stat status {};
    if (::lstat(QFile::encodeName(path).constData(), &status) == 0)
        return QStringLiteral("%1 exists already; it is never overwritten").arg(path);
    const QFileInfo info(path);
    if (!QFileInfo(info.absolutePath()).isDir())
        return QStringLiteral("the folder of %1 does not exist").arg(path);
    return QString();
}

int writeRegistrationTable(const QString &path, const RegistrationTable &table, QString &error)
{
    error.clear();
    const QFileInfo target(path);
    const QDir folder(target.absolutePath());
    RegistrationTable stored = table;
    for (RegistrationTableRow &row : stored.frames)
        row.file = storedFileName(row.file, folder);
    const QByteArray bytes = QJsonDocument(registrationTableJson(stored)).toJson(QJsonDocument::Indented);

    const QByteArray targetName = QFile::encodeName(path);
    QByteArray temporary = QFile::encodeName(folder.filePath(QStringLiteral(".") + target.fileName()))
                           + QByteArrayLiteral(".XXXXXX");
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        const int code = errno;
        error = QStringLiteral("cannot write %1: %2").arg(path, systemErrorText(code));
        return code;
    }
    int code = 0;
    if (::fchmod(fd, kTableFileMode) != 0 || !writeAll(fd, bytes) || ::fsync(fd) != 0)
        code = errno;
    if (::close(fd) != 0 && code == 0)
        code = errno;
    if (code == 0)
        code = publish(temporary, targetName);
    ::unlink(temporary.constData());
    if (code == EEXIST)
        error = QStringLiteral("%1 exists already; it is never overwritten").arg(path);
    else if (code != 0)
        error = QStringLiteral("cannot write %1: %2").arg(path, systemErrorText(code));
    return code;
}
