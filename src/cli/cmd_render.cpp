#include "cliargs.h"
#include "commands.h"
#include "image/autostretch.h"
#include "image/imageloader.h"
#include "image/previewrenderer.h"
#include "log/outofmemory.h"
#include "platform/settingsfile.h"
#include "previewfile.h"

#include <QImage>

#include <optional>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

std::optional<float> number(const CliArgs &args, const QString &option, bool &ok)
{
    const auto text = args.value(option);
    if (!text)
        return std::nullopt;
    bool parsed = false;
    const float value = text->toFloat(&parsed);
    ok = ok && parsed;
    return value;
}

} // namespace

int runRender(const QStringList &arguments, CliContext &context)
{
    const CliArgs args(arguments, {QStringLiteral("--json")},
                       {QStringLiteral("--auto"), QStringLiteral("--black"), QStringLiteral("--gamma"),
                        QStringLiteral("--white")});
    if (!args.ok())
        return failWith(context, args.error(), kExitUsage);
    if (args.positionals().size() != 2)
        return failWith(context, QStringLiteral("render needs an input file and an output image"), kExitUsage);
    bool numbersOk = true;
    const auto clip = number(args, QStringLiteral("--auto"), numbersOk);
    const auto black = number(args, QStringLiteral("--black"), numbersOk);
    const auto gamma = number(args, QStringLiteral("--gamma"), numbersOk);
    const auto white = number(args, QStringLiteral("--white"), numbersOk);
    if (!numbersOk)
        return failWith(context, QStringLiteral("--auto, --black, --gamma and --white take numbers"), kExitUsage);
    if (clip && (black || gamma || white))
        return failWith(context, QStringLiteral("--auto cannot be combined with --black, --gamma or --white"), kExitUsage);
    if (clip && (*clip < 0.0f || *clip >= 0.5f))
        return failWith(context, QStringLiteral("--auto takes a clipping fraction from 0 to below 0.5"), kExitUsage);

    const QString input = args.positionals().at(0);
    const QString output = args.positionals().at(1);
    PreviewParams params;
    // The preview gamma of the preferences applies here as it does in an image window.
    params.usePreviewGamma = settingsfile::usePreviewGamma();
    params.previewGamma = settingsfile::previewGamma();
    QImage image;
    int loadError = 0;
    const bool enoughMemory = guardMemory(messageLog(), [&] {
        ImageLoader loader;
        auto buffer = loader.loadFile(input, false);
        if (!buffer) {
            loadError = loader.errorCode;
            return;
        }
        StretchPoints points{black.value_or(0.0f), white.value_or(1.0f)};
        if (clip)
            points = normalisedStretch(autoStretchPoints(*buffer, *clip), buffer->whiteLevel);
        for (int c = 0; c < 3; ++c) {
            params.vcBlack[c] = points.black;
            params.vcGamma[c] = gamma.value_or(1.0f);
            params.vcWhite[c] = points.white;
        }
        image = QImage(buffer->width, buffer->height, QImage::Format_RGB32);
        if (!image.isNull())
            renderPreview(*buffer, params, reinterpret_cast<std::uint32_t *>(image.bits()), image.bytesPerLine() / 4);
    });
    if (!enoughMemory || (loadError == 0 && image.isNull()))
        return failWith(context, QStringLiteral("not enough memory to render %1").arg(input));
    if (loadError != 0)
        return failWith(context, QStringLiteral("cannot read %1 (error %2)").arg(input).arg(loadError));
    const QString error = writePreviewFile(image, output);
    if (!error.isEmpty())
        return failWith(context, error);

    if (args.has(QStringLiteral("--json"))) {
        const QJsonObject result{{QStringLiteral("output"), output},
                                 {QStringLiteral("black"), static_cast<double>(params.vcBlack[0])},
                                 {QStringLiteral("gamma"), static_cast<double>(params.vcGamma[0])},
                                 {QStringLiteral("white"), static_cast<double>(params.vcWhite[0])}};
        context.out << QJsonDocument(result).toJson(QJsonDocument::Compact) << "\n";
    } else {
        context.out << "Wrote " << output << " (black " << logNumber(params.vcBlack[0]) << ", gamma "
                    << logNumber(params.vcGamma[0]) << ", white " << logNumber(params.vcWhite[0]) << ")\n";
    }
    return kExitOk;
}
