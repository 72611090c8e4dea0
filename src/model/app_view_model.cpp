#include "model/app_view_model.h"

#include "engines/engine_factory.h"
#include "model/naming.h"
#include "model/presets.h"
#include "model/report_mailbox.h"

#include <algorithm>

namespace sonteva {

namespace {
const QString kMonitorVolumeKey = QStringLiteral("sonteva.monitorVolume");
}

AppViewModel::AppViewModel(std::shared_ptr<JobExecutor> executor, QSettings* settings,
                           QObject* parent)
    : QObject(parent), mailbox_(std::make_shared<ReportMailbox>(this)),
      executor_(std::move(executor)), settings_(settings) {
    if (!settings_) {
        ownSettings_ =
            std::make_unique<QSettings>(QStringLiteral("Sonteva"), QStringLiteral("Sonteva"));
        settings_ = ownSettings_.get();
    }
    // 1. Initial values; the postfix is provisional until step 5.
    quality_ = kSontevaSRC;
    dither_ = QStringLiteral("TPDF");
    customPostfix_ = QStringLiteral("_48k_24b");
    globalStatus_ = QStringLiteral("Ready. Drop audio files to begin.");
    builtInPresets_ = makeBuiltInPresets();
    // 2. The stored monitor volume.
    const QVariant stored = settings_->value(kMonitorVolumeKey);
    bool ok = false;
    const double volume = stored.toDouble(&ok);
    if (stored.isValid() && ok) monitorVolume_ = volume;
    // 3-5. Presets, the initial match ("CD Master"), the generated postfix.
    loadUserPresets();
    updateActivePreset();
    lastGeneratedPostfix_ = getExpectedPostfix();
    customPostfix_ = lastGeneratedPostfix_;
}

AppViewModel::~AppViewModel() {
    mailbox_->close();
}

// Every assignment of a recipe setting, also of an unchanged value, regenerates the
// postfix and re-runs the preset matching.
void AppViewModel::recipeFollowUp(void (AppViewModel::*changed)()) {
    Q_EMIT(this->*changed)();
    updatePostfix();
    updateActivePreset();
}

void AppViewModel::setTargetFsSelection(int rate) {
    targetFs_ = rate;
    recipeFollowUp(&AppViewModel::targetFsSelectionChanged);
}

void AppViewModel::setSelectedBitDepth(BitDepth depth) {
    bitDepth_ = depth;
    recipeFollowUp(&AppViewModel::selectedBitDepthChanged);
}

void AppViewModel::setSelectedQuality(const QString& quality) {
    quality_ = quality;
    recipeFollowUp(&AppViewModel::selectedQualityChanged);
}

void AppViewModel::setSelectedDither(const QString& dither) {
    dither_ = dither;
    recipeFollowUp(&AppViewModel::selectedDitherChanged);
}

void AppViewModel::setSelectedFormat(AudioFormat format) {
    format_ = format;
    recipeFollowUp(&AppViewModel::selectedFormatChanged);
}

QString AppViewModel::getExpectedPostfix() const {
    return expectedPostfix(targetFs_, bitDepth_, quality_, dither_);
}

void AppViewModel::updatePostfix() {
    PostfixState state{customPostfix_, lastGeneratedPostfix_, postfixIsDirty_};
    regeneratePostfix(state, getExpectedPostfix());
    const bool text = state.customPostfix != customPostfix_;
    const bool stem = state.lastGeneratedPostfix != lastGeneratedPostfix_;
    const bool dirty = state.postfixIsDirty != postfixIsDirty_;
    customPostfix_ = state.customPostfix;
    lastGeneratedPostfix_ = state.lastGeneratedPostfix;
    postfixIsDirty_ = state.postfixIsDirty;
    if (text) Q_EMIT customPostfixChanged();
    if (stem) Q_EMIT lastGeneratedPostfixChanged();
    if (dirty) Q_EMIT postfixIsDirtyChanged();
}

void AppViewModel::setCustomPostfix(const QString& text) {
    if (text != customPostfix_) {
        customPostfix_ = text;
        Q_EMIT customPostfixChanged();
    }
    if (!postfixIsDirty_) {
        postfixIsDirty_ = true;
        Q_EMIT postfixIsDirtyChanged();
    }
}

void AppViewModel::setOutputFolder(const std::optional<QUrl>& folder) {
    outputFolder_ = folder;
    Q_EMIT outputFolderChanged();
}

void AppViewModel::setGlobalStatus(const QString& text) {
    globalStatus_ = text;
    Q_EMIT globalStatusChanged();
}

void AppViewModel::setBatchProcessing(bool processing) {
    if (processing == isBatchProcessing_) return;
    isBatchProcessing_ = processing;
    Q_EMIT isBatchProcessingChanged();
}

void AppViewModel::setSelectedBatchJobId(const std::optional<QUuid>& id) {
    if (id == selectedBatchJobId_) return;
    selectedBatchJobId_ = id;
    Q_EMIT selectedBatchJobIdChanged();
}

void AppViewModel::setShowingSavePresetAlert(bool showing) {
    if (showing == showingSavePresetAlert_) return;
    showingSavePresetAlert_ = showing;
    Q_EMIT showingSavePresetAlertChanged();
}

void AppViewModel::setMonitorVolume(double volume) {
    monitorVolume_ = volume;
    settings_->setValue(kMonitorVolumeKey, volume);
    if (player_) player_->setVolume(volume);
    Q_EMIT monitorVolumeChanged();
}

} // namespace sonteva
