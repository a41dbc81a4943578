#include "cliargs.h"
#include "cliimages.h"
#include "commands.h"
#include "image/autostretch.h"
#include "image/imageloader.h"
#include "image/previewrenderer.h"
#include "log/outofmemory.h"
#include "platform/settingsfile.h"
#include "previewfile.h"

#include <QImage>
#include <QJsonObject>

#include <optional>

namespace {

// The dialogs' bounds: the view correction's boxes and its automatic clipping value.
constexpr double kMaxViewValue = 99.99;
constexpr double kMinGamma = 0.01;
constexpr double kMaxAutoClip = 0.4;

std::optional<float> number(const CliArgs &args, const QString &option, double low, double high, bool &ok,
                            CliContext &context)
{
    const auto text = args.value(option);
    if (!text || !ok)
        return std::nullopt;
    double value = 0.0;
    ok = parseNumber(*text, option, low, high, value, context);
    return static_cast<float>(value);
}

} // namespace

int runRender(const CliArgs &args, CliContext &context)
{
    if (args.positionals().size() != 2)
        return failWith(context, QStringLiteral("render needs an input file and an output image"), kExitUsage);
    bool numbersOk = true;
    const auto clip = number(args, QStringLiteral("--auto"), 0.0, kMaxAutoClip, numbersOk, context);
    const auto black = number(args, QStringLiteral("--black"), 0.0, kMaxViewValue, numbersOk, context);
    const auto gamma = number(args, QStringLiteral("--gamma"), kMinGamma, kMaxViewValue, numbersOk, context);
    const auto white = number(args, QStringLiteral("--white"), 0.0, kMaxViewValue, numbersOk, context);
    if (!numbersOk)
        return kExitUsage;
    if (clip && (black || gamma || white))
        return failWith(context, QStringLiteral("--auto cannot be combined with --black, --gamma or --white"), kExitUsage);
    if (!(white.value_or(1.0f) > black.value_or(0.0f)))
        return failWith(context, QStringLiteral("--white must lie above --black"), kExitUsage);

    const QString input = args.positionals().at(0);
    const QString output = args.positionals().at(1);
    if (const int refused = refuseOutputTarget(output,
                                              {QStringLiteral("png"), QStringLiteral("jpg"), QStringLiteral("jpeg"),
                                               QStringLiteral("bmp"), QStringLiteral("tif"), QStringLiteral("tiff")},
                                              context))
        return refused;
    PreviewParams params;
    // The preview gamma of the preferences applies here as it does in an image window.
    params.usePreviewGamma = settingsfile::usePreviewGamma();
    params.previewGamma = settingsfile::previewGamma();
    QImage image;
    bool loaded = false;
    const bool enoughMemory = guardMemory(messageLog(), [&] {
        auto buffer = loadImageOrFail(input, context);
        if (!buffer)
            return;
        loaded = true;
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
    if (enoughMemory && !loaded)
        return kExitFailure;
    if (!enoughMemory || image.isNull())
        return failWith(context, QStringLiteral("not enough memory to render '%1'").arg(input), kExitFailure,
                        kNotEnoughMemory);
    const QString error = writePreviewFile(image, output);
    if (!error.isEmpty())
        return failWith(context, error);

    if (context.json) {
        printJson(context, QJsonObject{{QStringLiteral("output"), output},
                                       {QStringLiteral("black"), static_cast<double>(params.vcBlack[0])},
                                       {QStringLiteral("gamma"), static_cast<double>(params.vcGamma[0])},
                                       {QStringLiteral("white"), static_cast<double>(params.vcWhite[0])}});
    } else {
        context.out << "Wrote " << output << " (black " << logNumber(params.vcBlack[0]) << ", gamma "
                    << logNumber(params.vcGamma[0]) << ", white " << logNumber(params.vcWhite[0]) << ")\n";
    }
    return kExitOk;
}
