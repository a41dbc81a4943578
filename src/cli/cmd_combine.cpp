#include "cliargs.h"
#include "cliimages.h"
#include "commands.h"
#include "image/imagebuffer.h"
#include "log/outofmemory.h"
#include "process/combination.h"

#include <map>

int runCombine(const QStringList &arguments, CliContext &context)
{
    const CliArgs args(arguments, {}, {QStringLiteral("--op"), QStringLiteral("--opacity")});
    if (!args.ok())
        return failWith(context, args.error(), kExitUsage);
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
    if (const auto text = args.value(QStringLiteral("--opacity"));
        text && !parseNumber(*text, QStringLiteral("--opacity"), opacity, context))
        return kExitUsage;
    if (opacity < 0.0 || opacity > 100.0)
        return failWith(context, QStringLiteral("--opacity takes a percentage from 0 to 100"), kExitUsage);
    const QString output = args.positionals().at(2);
    if (!checkFitsTarget(output, context))
        return kExitFailure;

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
    return enoughMemory ? status : failWith(context, QStringLiteral("not enough memory"));
}
