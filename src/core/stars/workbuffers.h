#pragma once
// The star search's large scratch arrays (gray image, mark map): one value per pixel, written
// once and read many times. Touching fresh memory page by page is a large part of a search on
// a big frame, so these arrays ask the kernel for huge pages before they are first written.
#include <cstddef>

// Advice only, for the whole 2 MB pages inside [start, start + bytes); harmless where the
// system has no huge pages.
void preferHugePages(void *start, std::size_t bytes);
