#pragma once
// One colour as four single-precision floats; passed by value, also through queued signals.
#include <QMetaType>

struct FloatRGB {
    float r = 0.0f;
    float g = 0.0f;
    float b = 0.0f;
    float a = 0.0f;
};

Q_DECLARE_METATYPE(FloatRGB)
