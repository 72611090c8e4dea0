#pragma once
// Output naming: the generated postfix ("stem") of a recipe and how the editable
// postfix follows recipe changes while keeping what the user typed after the stem.
#include "audio_io/audio_format.h"

#include <QString>

namespace sonteva {

// "_" + kHz (truncated) + "k_" + word-length label + "_" + algorithm token + dither part,
// e.g. "_44k_16b_Sonteva_TPDF"; the dither part is absent for "None".
QString expectedPostfix(int targetFs, BitDepth bitDepth, const QString& quality,
                        const QString& dither);
QString postfixLabel(BitDepth depth); // "16b", "24b", "32b", "32fp", "64fp"
QString
algorithmToken(const QString& quality); // "Sonteva", "Swiss", ... or the name without spaces

struct PostfixState {
    QString customPostfix;
    QString lastGeneratedPostfix;
    bool postfixIsDirty = false;
};

// One regeneration: the user's suffix after the previous stem survives; a text that no
// longer starts with the previous stem is replaced by the new stem.
void regeneratePostfix(PostfixState& state, const QString& stem);

} // namespace sonteva
