#pragma once
// Saved recipes: the six built-ins, the stored JSON form of user presets, and the rules
// that apply and recognise them.
#include "model/recipe.h"

#include <QByteArray>

#include <optional>
#include <vector>

namespace sonteva {

std::vector<GlobalPreset> makeBuiltInPresets(); // fresh ids at every call

// "TPDF" for a 16-bit preset without a dither, "None" for any other word length.
QString effectiveDither(const GlobalPreset& preset);

// Older stored dither names: "High-Pass"/"Lipshitz" -> "Noise Shaping Low", "Shibata" ->
// "Noise Shaping Medium", "Gesemann" -> "Noise Shaping High".
std::optional<QString> migrateDither(const std::optional<QString>& dither);

// The "UserPresets" bytes: a JSON array of {"id", "name", "targetFs", "bitDepth", "quality",
// "format", "dither"?}. Decoding yields nothing when any member is missing or malformed.
QByteArray encodePresets(const std::vector<GlobalPreset>& presets);
std::optional<std::vector<GlobalPreset>> decodePresets(const QByteArray& bytes);

} // namespace sonteva
