// The audition entry points: thin, the player and the device manager own the behaviour.
#include "model/app_view_model.h"

#include <QPointer>
#include <QTimer>

namespace sonteva {

namespace {
// How long an output device needs to settle after a change of its clock rate.
constexpr int kRateSettleMs = 450;
} // namespace

void AppViewModel::attachPreview(std::shared_ptr<PreviewControl> player,
                                 std::shared_ptr<OutputRateControl> devices) {
    player_ = std::move(player);
    devices_ = std::move(devices);
    if (!player_) return;
    player_->setVolume(monitorVolume_);
    QPointer<AppViewModel> self(this);
    player_->setFailureListener([self](const QString& why) {
        if (self) self->setGlobalStatus(why);
    });
}

const ConversionJob* AppViewModel::selectedJob() const {
    if (!selectedBatchJobId_) return nullptr;
    for (const ConversionJob& job : batchJobs_)
        if (job.id == *selectedBatchJobId_) return &job;
    return nullptr;
}

void AppViewModel::togglePlayPause() {
    if (!player_) return;
    if (player_->isPlaying()) {
        player_->pause();
        return;
    }
    const ConversionJob* selected = selectedJob();
    if (!selected) return;
    const ConversionJob job = *selected;
    if (devices_ && devices_->followOutputRate() && devices_->matchRate(job.targetFs)) {
        QPointer<AppViewModel> self(this);
        QTimer::singleShot(kRateSettleMs, this, [self, job] {
            if (self) self->startPreview(job);
        });
        return;
    }
    startPreview(job);
}

void AppViewModel::startPreview(const ConversionJob& job) {
    if (!player_) return;
    if (player_->currentJobId() == job.id)
        player_->resume();
    else
        player_->playFromStart(job);
}

void AppViewModel::matchDeviceRate() {
    if (!devices_) return;
    if (const ConversionJob* job = selectedJob()) devices_->matchRate(job->targetFs);
}

} // namespace sonteva
