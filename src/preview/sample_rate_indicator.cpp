#include "preview/sample_rate_indicator.h"

#include <algorithm>
#include <cmath>

namespace sonteva::SampleRateIndicator {

Colour dotColour(Tone tone) {
    if (tone == Tone::amber) return {1.0, 149.0 / 255.0, 0.0, 0.85};
    return {0.45, 0.45, 0.45, 1.0};
}

Colour textColour(Tone tone) {
    if (tone == Tone::amber) return dotColour(tone);
    return {0.55, 0.55, 0.55, 1.0};
}

// To a tenth of a kHz: a clock that reports 48000.9 Hz runs at 48k, not "48.0k".
QString label(double rate) {
    const double k = std::round(rate / 100.0) / 10.0;
    if (k == std::floor(k)) return QString::number(static_cast<long long>(k)) + QStringLiteral("k");
    return QString::asprintf("%.1fk", k);
}

State state(std::optional<double> deviceRate, std::optional<int> outputFs, bool rateIsSettable,
            const std::vector<RateRange>& availableRates) {
    if (!deviceRate)
        return {QStringLiteral("—"), Tone::grey, QStringLiteral("Output device sample rate"),
                false};
    const double d = *deviceRate;
    const QString running =
        QStringLiteral("Output device is running at ") + label(d) + QStringLiteral("Hz");
    if (!outputFs) return {label(d), Tone::grey, running, false};
    const double f = *outputFs;
    if (std::abs(d - f) <= 1)
        return {label(d), Tone::grey,
                running + QStringLiteral(" — the preview reaches it unresampled."), false};

    const bool offered =
        std::any_of(availableRates.begin(), availableRates.end(),
                    [f](const RateRange& r) { return r.minimum - 1 <= f && f <= r.maximum + 1; });
    const bool canSwitch = rateIsSettable && offered;
    QString tip = running + QStringLiteral(", the preview is ") + label(f) +
                  QStringLiteral("Hz — the sound server resamples it on the way out.");
    if (canSwitch)
        tip += QStringLiteral(" Click to switch the device to ") + label(f) + QStringLiteral("Hz.");
    else
        tip += QStringLiteral(" This device runs at ") + label(d) +
               QStringLiteral("Hz only; pick another output to hear the conversion unresampled.");
    return {label(d), Tone::amber, tip, canSwitch};
}

} // namespace sonteva::SampleRateIndicator
