#include "cliargs.h"
#include "cliimages.h"
#include "commands.h"
#include "image/imagebuffer.h"
#include "log/outofmemory.h"
#include "process/combination.h"

#include <QJsonObject>

#include <map>

int runCombine(const CliArgs &args, CliContext &context)
{
    if (args.positionals().size() != 3)
        return failWith(context, QStringLiteral("combine needs A B OUT.fits"), kExitUsage);
    static const std::map<QString, CombineOperator> operators = {
        {QStringLiteral("add"), CombineOperator::Add},
        {QStringLiteral("subtract"), CombineOperator::Subtract},
        {QStringLiteral("multiply"), CombineOperator::Multiply},
        {QStringLiteral("divide"), CombineOperator::Divide},
        {QStringLiteral("negmultiply"), CombineOperator::NegativeMultiply},
    };
    const auto opName = args.value(QStringLiteral("--op"));
    if (!opName || operators.find(*opName) == operators.end())
        return failWith(context, QStringLiteral("--op takes add, subtract, multiply, divide or negmultiply"), kExitUsage);
    double opacity = 100.0;
    if (!optionNumber(args, QStringLiteral("--opacity"), 0.0, 100.0, opacity, context))
        return kExitUsage;
    const QString output = args.positionals().at(2);
    if (const int refused = refuseFitsTarget(output, context))
        return refused;

    int status = kExitFailure;
    const bool enoughMemory = guardMemory(messageLog(), [&] {
        auto a = loadImageOrFail(args.positionals().at(0), context);
        auto b = a ? loadImageOrFail(args.positionals().at(1), context) : nullptr;
        if (!a || !b)
            return;
        const CombineOperator op = operators.at(*opName);
        messageLog().logMessage(combineLogLine(op));
        // The same arithmetic as the desktop program: the opacity as a float fraction.
        auto result = combineImages(op, *a, *b, static_cast<float>(opacity) * 0.01f);
        if (!result) {
            status = failWith(context, QStringLiteral("the images differ in size (%1 x %2 and %3 x %4)")
                                           .arg(a->width)
                                           .arg(a->height)
                                           .arg(b->width)
                                           .arg(b->height));
            return;
        }
        result->whiteLevel = a->whiteLevel;
        result->blackLevel = a->blackLevel;
        status = saveFitsOrFail(*result, output, context);
    });
    if (!enoughMemory)
        return failWith(context, QStringLiteral("not enough memory"), kExitFailure, kNotEnoughMemory);
    if (status == kExitOk && context.json)
        printJson(context, QJsonObject{{QStringLiteral("output"), output}, {QStringLiteral("opacity"), opacity}});
    return status;
}
