#pragma once
// What the transport bar's rate indicator shows for the device rate and the preview's
// rate: text, colours, tooltip and whether a click switches the device (the view draws it).
#include "preview/device_backend.h"

#include <QString>

#include <optional>
#include <vector>

namespace sonteva::SampleRateIndicator {

struct Colour {
    double red = 0, green = 0, blue = 0, alpha = 1;
    bool operator==(const Colour&) const = default;
};

enum class Tone { grey, amber };

// Amber: orange at 85 % opacity for dot and text. Grey: white level 0.45 for the dot and
// 0.55 for the text, opaque.
Colour dotColour(Tone tone);
Colour textColour(Tone tone);

struct State {
    QString text;
    Tone tone = Tone::grey;
    QString toolTip;
    bool clickMatches = false; // a click runs the match action
};

// 48000 gives "48k", 44100 gives "44.1k".
QString label(double rate);

// deviceRate: the active device's nominal rate; outputFs: the rate the preview produces
// (the target rate of the job concerned).
State state(std::optional<double> deviceRate, std::optional<int> outputFs, bool rateIsSettable,
            const std::vector<RateRange>& availableRates);

} // namespace sonteva::SampleRateIndicator
