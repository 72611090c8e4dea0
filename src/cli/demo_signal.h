#pragma once
// The built-in demo master: about 20 s of music-like material at 96 kHz, 24-bit stereo:
// a chord, a sweep into the ultrasonic range, noise bursts, silence and a decaying
// melody, peaking just under full scale.
#include "audio_io/audio_io.h"

namespace sonteva::cli {

inline constexpr int kDemoRate = 96000;
ChannelBuffers makeDemoMaster(double seconds = 20.0);

} // namespace sonteva::cli
