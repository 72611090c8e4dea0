#pragma once
// Detects WAV, RF64 and AIFF files whose audio chunk declares more bytes than the file
// holds: a partial copy. libsndfile opens such a file with its length silently cut to
// what is there, so the check walks the chunk headers itself.
#include <string>

namespace sonteva {

// A description of the shortfall ("the file declares … but holds only …"), or "" when
// the file is whole, is not a RIFF/RF64/AIFF file, or cannot be walked. Sizes of 0 and
// 0xFFFFFFFF are the placeholders of unfinished recordings and are not held against it.
std::string describeTruncation(const std::string& path);

} // namespace sonteva
