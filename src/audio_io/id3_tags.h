#pragma once
// ID3v2 tags as RIFF and AIFF files embed them, read and written in memory with TagLib.
// Tags are exchanged as TagLib's property names (TITLE, ARTIST, ISRC, DATE, ...), which
// are also the Vorbis comment field names; pictures as FLAC PICTURE block bodies.
#include "audio_io/metadata.h"

#include <cstdint>
#include <vector>

namespace sonteva {

struct Id3Contents {
    TextTags properties;
    std::vector<std::vector<uint8_t>> pictures;
    // Frames with no property form, as TagLib names them ("PRIV", "UFID/owner", ...);
    // pictures are not among them.
    std::vector<std::string> unsupported;
};

Id3Contents readId3(const std::vector<uint8_t>& tag);

// `base` (possibly empty) with the properties it lacks added from `add` and the pictures
// appended, rendered as ID3v2.4. The keys of `add` that no ID3 frame can hold are added
// to `rejected`.
std::vector<uint8_t> renderId3(const std::vector<uint8_t>& base, const TextTags& add,
                               const std::vector<std::vector<uint8_t>>& pictures,
                               std::vector<std::string>& rejected);

// The tag one byte longer when its size is odd and it ends in padding that can grow (no
// footer), so that the chunk holding it needs no pad byte; otherwise the tag unchanged.
std::vector<uint8_t> evenId3(std::vector<uint8_t> tag);

} // namespace sonteva
