#include "registrationtable.h"

#include "log/errorcodes.h"
#include "platform/newfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

// A table is a few hundred bytes per frame; anything far beyond that is not a table.
constexpr qint64 kMaxTableBytes = 64 * 1024 * 1024;

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
    // A pipe would keep the open waiting for a writer; a folder has nothing to read.
    const QString fileProblem = inputFileProblem(path);
    if (!fileProblem.isEmpty() && fileProblem != QLatin1String("the file is empty")) {
        error = failureLine(QStringLiteral("cannot open"), path, fileProblem);
        return false;
    }
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

int writeRegistrationTable(const QString &path, const RegistrationTable &table, QString &error)
{
    error.clear();
    const QDir folder(QFileInfo(path).absolutePath());
    RegistrationTable stored = table;
    for (RegistrationTableRow &row : stored.frames)
        row.file = storedFileName(row.file, folder);
    const QByteArray bytes = QJsonDocument(registrationTableJson(stored)).toJson(QJsonDocument::Indented);

    NewFile out(path);
    int code = out.error();
    if (code == 0 && !out.write(bytes.constData(), bytes.size()))
        code = out.error();
    if (code == 0)
        code = out.commit(true);
    if (code != 0)
        error = failureLine(QStringLiteral("cannot write"), path, out.errorText());
    return code;
}
