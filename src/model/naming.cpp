#include "model/naming.h"

#include "engines/engine_table.h"
#include "model/recipe.h"

namespace sonteva {

QString postfixLabel(BitDepth depth) {
    switch (depth) {
    case BitDepth::int16:
        return QStringLiteral("16b");
    case BitDepth::int24:
        return QStringLiteral("24b");
    case BitDepth::int32:
        return QStringLiteral("32b");
    case BitDepth::float32:
        return QStringLiteral("32fp");
    case BitDepth::float64:
        return QStringLiteral("64fp");
    }
    return {};
}

QString algorithmToken(const QString& quality) {
    if (const EngineInfo* engine = findEngine(quality.toStdString()))
        return toQString(engine->token);
    // A stored name no engine answers to still names its files the designed way.
    QString token = quality;
    token.remove(QLatin1Char(' '));
    return token;
}

QString expectedPostfix(int targetFs, BitDepth bitDepth, const QString& quality,
                        const QString& dither) {
    QString stem = QStringLiteral("_") + QString::number(targetFs / 1000) + QStringLiteral("k_") +
                   postfixLabel(bitDepth) + QStringLiteral("_") + algorithmToken(quality);
    if (dither != QLatin1String("None")) stem += QStringLiteral("_") + dither;
    return stem;
}

void regeneratePostfix(PostfixState& state, const QString& stem) {
    if (state.lastGeneratedPostfix.isEmpty()) state.lastGeneratedPostfix = state.customPostfix;
    if (state.customPostfix.startsWith(state.lastGeneratedPostfix))
        state.customPostfix = stem + state.customPostfix.mid(state.lastGeneratedPostfix.size());
    else
        state.customPostfix = stem;
    state.lastGeneratedPostfix = stem;
    state.postfixIsDirty = false;
}

} // namespace sonteva
