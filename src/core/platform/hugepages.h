#pragma once
// Large arrays that are written once and read many times (images, the star search's scratch
// arrays) ask the kernel for huge pages before they are first touched: touching fresh memory
// page by page is a large part of loading or searching a big frame.
#include <cstddef>

// Advice only, for the whole 2 MB pages inside [start, start + bytes); harmless where the
// system has no huge pages.
void preferHugePages(void *start, std::size_t bytes);
