#pragma once
// What a master carries beside its samples: the broadcast extension, text tags, markers,
// the FLAC cue sheet, the ID3 tag, pictures and production chunks. readMetadata() takes
// them from a source as its container stores them; carryMetadata() adapts them to an
// output (positions rescaled to the new rate, tags mapped to the target's own form, what
// the target cannot hold named in notes); the writers store the result.
#include "audio_io/audio_format.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace sonteva {

enum class Container { none, riff, aiff, flac };

// The rest of a RIFF ltxt sub-chunk: what the region is for, in which language, and its text.
struct RegionText {
    std::string purpose = "rgn "; // four characters
    uint16_t country = 0, language = 0, dialect = 0, codePage = 0;
    std::string text;
};

struct Marker {
    uint32_t id = 0;
    int64_t position = 0;                    // frames from the start
    std::string name;                        // RIFF labl, AIFF marker name
    std::string note;                        // RIFF note
    int64_t length = 0;                      // RIFF ltxt: the frames of a region; 0 for a point
    std::optional<RegionText> region;        // the source had an ltxt for this cue point
    std::vector<std::vector<uint8_t>> files; // RIFF adtl "file": media type and data
};

struct CueTrack {
    uint64_t offset = 0;
    uint8_t number = 0;
    std::string isrc;                                  // twelve characters or empty
    uint8_t flags = 0;                                 // bit 7: non-audio, bit 6: pre-emphasis
    std::vector<std::pair<uint64_t, uint8_t>> indices; // offset from the track, number
};

struct FlacCueSheet {
    std::string catalog;
    uint64_t leadIn = 0;
    bool compactDisc = false;
    std::vector<CueTrack> tracks; // the lead-out last
};

// A chunk carried byte for byte. `positional` chunks hold sample positions this system
// does not rescale (smpl, cart, levl, r64m): they are carried only when the rate stays.
struct RawChunk {
    std::string id;
    std::vector<uint8_t> body;
    bool positional = false;
};

using TextTags = std::vector<std::pair<std::string, std::string>>;

struct Metadata {
    Container origin = Container::none;
    std::vector<uint8_t> bext;   // the chunk body; empty when absent
    TextTags text;               // native keys: INFO ids, AIFF chunk ids, Vorbis field names
    std::vector<Marker> markers; // from cue/adtl, MARK, or the FLAC cue sheet
    std::optional<FlacCueSheet> cueSheet;
    std::vector<uint8_t> id3;     // an ID3v2 tag (RIFF "id3 ", AIFF "ID3 ")
    std::vector<RawChunk> chunks; // iXML, axml, unknown chunks; FLAC APPLICATION blocks
    std::vector<std::vector<uint8_t>> pictures; // FLAC PICTURE block bodies
    std::vector<std::string> unreadable;        // what the reader had to leave behind

    bool empty() const;
};

// Version-2 bext loudness fields for an output (LUFS, LU, dBTP); a non-finite value is
// stored as "not calculated".
struct LoudnessSummary {
    double integrated = 0;
    double range = 0;
    double maxTruePeak = 0;
    double maxMomentary = 0;
    double maxShortTerm = 0;
};

// Never throws: a file without metadata, or one that cannot be read, gives an empty set.
Metadata readMetadata(const std::string& path);

struct CarryTarget {
    AudioFormat format = AudioFormat::wav;
    BitDepth bitDepth = BitDepth::int24;
    int64_t fsIn = 0;
    int64_t fsOut = 0;
    int channels = 0;
    std::string algorithm; // for the coding history
    std::string dither;    // what was applied ("None" when nothing)
    // Where the converted sound sits: the output's frame k + offset holds the source's
    // sound at frame k · fsIn / fsOut (an engine's delay). Positions in the audio (cue
    // points, markers, the FLAC cue sheet, iXML sync points) move later by it, the time
    // reference of the first frame earlier; both are rounded to the nearest frame.
    double offset = 0;
};

struct CarriedMetadata {
    Metadata metadata;
    // What the user reads beside the job: "metadata not carried to …" naming each loss
    // and why, and what was changed on purpose (the UMID's instance number).
    std::vector<std::string> notes;
};

CarriedMetadata carryMetadata(const Metadata& source, const CarryTarget& target);

// round(position * fsOut / fsIn), exactly, halves away from zero.
int64_t rescalePosition(int64_t position, int64_t fsIn, int64_t fsOut);

} // namespace sonteva
