#pragma once
// What a measurement of one engine at one rate pair found: the figures, the same figures
// for a flawless converter (the measurement's own floor), and the data of the plots.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sonteva::analysis {

// Levels are floored here: a figure this low means "nothing measurable".
inline constexpr double kLowestDb = -400.0;

struct AliasFigure {
    double dbfs = kLowestDb; // the worst alias or image, made by a full-scale tone
    double atHz = 0.0;       // where it lands in the output
    double fromHz = 0.0;     // the input tone that made it
};

struct Figures {
    double rippleDb = 0.0;   // peak to peak, 20 Hz to 0.9 x the lower Nyquist frequency
    double passbandDb = 0.0; // the level at the reference tone (about 1 kHz)
    double passbandHz = 0.0;
    // Where the response falls 3 dB below the passband level; none below the lower Nyquist.
    std::optional<double> minus3dBHz;
    double at099Hz = 0.0; // 0.99 x the lower Nyquist frequency (the nearest probe)
    double at099Db = 0.0;
    AliasFigure aliasBelow09;   // landing below 0.9 x the output Nyquist frequency
    AliasFigure aliasFullBand;  // anywhere in the output band
    AliasFigure aliasAudioBand; // in 20 Hz - 20 kHz
    double thdnDb = 0.0;        // THD+N of a -0.1 dBFS tone near 1 kHz, 20 Hz - 20 kHz
    double thdnHz = 0.0;
    double latencyFrames = 0.0; // measured from the signal, in output frames
    bool invertedPolarity = false;
    bool linearPhase = false;
    double phaseDeviationDeg = 0.0; // from linear phase, over the passband
    int64_t inputFrames = 0;
    int64_t outputFrames = 0;
    int64_t expectedFrames = 0; // round(n * out / in)
};

struct ResponsePoint {
    double hz = 0.0;
    double db = 0.0;
    bool direct = true; // the tone at its own frequency; false: the alias or image at hz
};

struct Spectrogram {
    int columns = 0;
    int rows = 0;         // row 0 is 0 Hz, the last row the output Nyquist frequency
    double seconds = 0.0; // of output
    double topHz = 0.0;
    std::vector<float> db; // rows x columns, row-major, relative to the sweep's level
};

struct ImpulseView {
    std::vector<double> samples; // output frames around the peak
    int64_t firstFrame = 0;
    int64_t peakFrame = 0;
};

struct PlotData {
    std::vector<ResponsePoint> response; // ascending frequency (aliases and images among them)
    Spectrogram spectrogram;             // empty unless the sweep was asked for
    ImpulseView impulse;
};

struct EngineReport {
    std::string engine; // the name asked for
    int64_t fsIn = 0;
    int64_t fsOut = 0;
    bool measured = false;
    std::string ran;                      // what converted (never the name of what it stood in for)
    std::string substitution;             // what stood in and why, or a caveat of the engine
    std::string unavailable;              // why it cannot run here (not measured)
    std::string error;                    // why the measurement failed (not measured)
    std::optional<double> claimedLatency; // the engine's own claim
    Figures figures;
    Figures floor; // a flawless converter measured the same way
    PlotData plots;
    double seconds = 0.0; // the measurement's duration
};

} // namespace sonteva::analysis
