#pragma once
// The program's version as shown at start-up, in the About box and by the command line.

namespace verdanix {
constexpr const char *kVersion = "0.0.7";
constexpr int kBuild = 2;
} // namespace verdanix
