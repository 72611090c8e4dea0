#pragma once
// What the state object needs of the audition (the player and the output-device manager
// live in the preview layer and implement these).
#include "model/recipe.h"

#include <QString>
#include <QUuid>

#include <functional>
#include <optional>

namespace sonteva {

class PreviewControl {
public:
    virtual ~PreviewControl() = default;
    virtual bool isPlaying() const = 0;
    virtual std::optional<QUuid> currentJobId() const = 0;
    virtual void pause() = 0;
    virtual void resume() = 0;
    // play(job, at: start): from the beginning, or from the pin when it is set.
    virtual void playFromStart(const ConversionJob& job) = 0;
    // The monitor volume, clamped to 0...1 by the player.
    virtual void setVolume(double volume) = 0;
    // Called with a sentence for the user whenever an audition cannot go on (its file cannot
    // be read, the sound output cannot start).
    virtual void setFailureListener(std::function<void(const QString&)> listener) = 0;
};

class OutputRateControl {
public:
    virtual ~OutputRateControl() = default;
    virtual bool followOutputRate() const = 0;
    // Switches the active output device to the rate; true when the switch was issued.
    virtual bool matchRate(double rate) = 0;
};

} // namespace sonteva
