#pragma once
// The application's dark colour scheme, set once for the whole application.
#include <QPalette>

QPalette darkPalette();
