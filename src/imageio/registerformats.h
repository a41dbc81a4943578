#pragma once
// Connects the Qt-backed formats to the core loader; each front end calls it once at start.
void registerImageFormats();
