// Presets: matching the current recipe, applying, saving, deleting, loading with
// migration of older stored names.
#include "model/app_view_model.h"
#include "model/presets.h"

namespace sonteva {

namespace {
const QString kUserPresetsKey = QStringLiteral("UserPresets");
}

const GlobalPreset* AppViewModel::presetById(const QUuid& id) const {
    for (const auto* list : {&builtInPresets_, &userPresets_})
        for (const GlobalPreset& p : *list)
            if (p.id == id) return &p;
    return nullptr;
}

void AppViewModel::updateActivePreset() {
    std::optional<QUuid> match;
    for (const auto* list : {&builtInPresets_, &userPresets_}) {
        for (const GlobalPreset& p : *list) {
            if (p.targetFs == targetFs_ && p.bitDepth == bitDepth_ && p.quality == quality_ &&
                p.format == format_ && effectiveDither(p) == dither_) {
                match = p.id;
                break;
            }
        }
        if (match) break;
    }
    if (match == activePresetId_) return;
    activePresetId_ = match;
    Q_EMIT activePresetIdChanged();
}

void AppViewModel::applyPreset(const QUuid& id) {
    const GlobalPreset* found = presetById(id);
    if (!found) return;
    const GlobalPreset preset = *found; // the follow-ups below must not see a moved list
    setTargetFsSelection(preset.targetFs);
    setSelectedBitDepth(preset.bitDepth);
    setSelectedQuality(preset.quality);
    setSelectedFormat(preset.format);
    setSelectedDither(effectiveDither(preset));
    // Shown under the applied name even where matching alone finds an earlier twin.
    if (activePresetId_ != preset.id) {
        activePresetId_ = preset.id;
        Q_EMIT activePresetIdChanged();
    }
}

void AppViewModel::saveCustomPreset(const QString& name) {
    GlobalPreset p{QUuid::createUuid(), name, targetFs_, bitDepth_, quality_, format_, dither_};
    userPresets_.push_back(p);
    Q_EMIT userPresetsChanged();
    saveUserPresets();
    activePresetId_ = p.id;
    Q_EMIT activePresetIdChanged();
}

void AppViewModel::deleteUserPreset(const QUuid& id) {
    std::erase_if(userPresets_, [&](const GlobalPreset& p) { return p.id == id; });
    Q_EMIT userPresetsChanged();
    saveUserPresets();
    updateActivePreset();
}

void AppViewModel::loadUserPresets() {
    const QVariant stored = settings_->value(kUserPresetsKey);
    if (!stored.isValid()) return;
    // A value that does not decode is left as it is; the next save replaces it.
    auto decoded = decodePresets(stored.toByteArray());
    if (!decoded) return;
    for (GlobalPreset& p : *decoded) {
        if (p.quality == QLatin1String("Zavir Iravizeza 2"))
            p.quality = QStringLiteral("Zavir Iravizeza");
        p.dither = migrateDither(p.dither);
    }
    userPresets_ = std::move(*decoded);
    Q_EMIT userPresetsChanged();
}

void AppViewModel::saveUserPresets() {
    settings_->setValue(kUserPresetsKey, encodePresets(userPresets_));
    settings_->sync();
}

} // namespace sonteva
