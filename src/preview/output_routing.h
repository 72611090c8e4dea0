#pragma once
// What the output-device manager needs of the player it routes: the two operations by
// which a device choice or a device rate change reaches the audio output.
#include <cstdint>
#include <optional>

namespace sonteva {

class OutputRouting {
public:
    virtual ~OutputRouting() = default;
    // Routes the output to a device (sink index; none: the system default). Stops playback
    // and does not restart it.
    virtual void setOutputDevice(std::optional<uint32_t> deviceId) = 0;
    // Stops the output so that it reopens at the device's new rate; a preview that was
    // playing restarts at the same position `restartAfterSeconds` later.
    virtual void reopenOutput(double restartAfterSeconds) = 0;
};

} // namespace sonteva
