// Counts the bytes this program holds through operator new, and the most it
// has held since the last reset, so a test can tell whether work over a large
// file needs more memory than work over a small one.
#pragma once

#include <cstddef>

namespace heap {

// Bytes held now.
std::size_t Live();
// Forgets the high-water mark: from now on it counts from what is held now.
void ResetPeak();
// The most held at any moment since the last ResetPeak().
std::size_t Peak();

}  // namespace heap
