#include "dsp/filter_design.h"

#include <cmath>

namespace sonteva {

double roundHalfAway(double x) {
    return std::round(x);
}

double i0(double x) {
    const double q = x * x * 0.25;
    double sum = 1.0 + q;
    double term = q;
    if (term < sum * 1e-15) return sum;
    for (int64_t k = 2; k <= 50; ++k) {
        term = term * (q / static_cast<double>(k * k));
        sum = sum + term;
        if (term < sum * 1e-15) break;
    }
    return sum;
}

double kaiserBeta(double stopband_db) {
    const double a = std::fabs(stopband_db);
    if (a >= 50.0) return (a - 8.7) * 0.1102;
    if (a >= 21.0) return (a - 21.0) * 0.07886 + std::pow(a - 21.0, 0.4) * 0.5842;
    return 0.0;
}

namespace {

// N = 0 and N = 1 are the same for every window; the callers handle N >= 2.
bool trivialWindow(int64_t N, std::vector<double>& w) {
    if (N <= 0) {
        w.clear();
        return true;
    }
    if (N == 1) {
        w.assign(1, 1.0);
        return true;
    }
    w.resize(static_cast<size_t>(N));
    return false;
}

// The phase of a cosine-sum window: pi at the centre, continuing periodically
// beyond the half-width when the centre is shifted.
double cosineTheta(int64_t n, int64_t N, double center) {
    const double half = static_cast<double>(N - 1) * 0.5;
    return (half + (static_cast<double>(n) - center)) * kTwoPi / static_cast<double>(N - 1);
}

template <typename Shape>
std::vector<double> cosineSumWindow(int64_t N, double center, Shape shape) {
    std::vector<double> w;
    if (trivialWindow(N, w)) return w;
    for (int64_t n = 0; n < N; ++n)
        w[static_cast<size_t>(n)] = shape(cosineTheta(n, N, center));
    return w;
}

} // namespace

std::vector<double> kaiserWindow(int64_t N, double beta, double center) {
    std::vector<double> w;
    if (trivialWindow(N, w)) return w;
    const double i0beta = i0(beta);
    const double half = static_cast<double>(N - 1) * 0.5;
    for (int64_t n = 0; n < N; ++n) {
        const double x = (static_cast<double>(n) - center) / half;
        double r = 1.0 - x * x;
        if (r < 0.0) r = 0.0;
        w[static_cast<size_t>(n)] = i0(beta * std::sqrt(r)) / i0beta;
    }
    return w;
}

std::vector<double> blackmanHarrisWindow(int64_t N, double center) {
    return cosineSumWindow(N, center, [](double t) {
        return ((-0.48829 * std::cos(t) + 0.35875) + 0.14128 * std::cos(t + t)) +
               (-0.01168) * std::cos(t * 3.0);
    });
}

std::vector<double> nuttallWindow(int64_t N, double center) {
    return cosineSumWindow(N, center, [](double t) {
        return ((-0.487396 * std::cos(t) + 0.355768) + 0.144232 * std::cos(t + t)) +
               (-0.012604) * std::cos(t * 3.0);
    });
}

std::vector<double> hannWindow(int64_t N, double center) {
    return cosineSumWindow(N, center, [](double t) { return (1.0 - std::cos(t)) * 0.5; });
}

std::vector<double> gaussianWindow(int64_t N, double alpha, double center) {
    std::vector<double> w;
    if (trivialWindow(N, w)) return w;
    const double s = static_cast<double>(N - 1) * 0.5 * alpha;
    for (int64_t n = 0; n < N; ++n) {
        const double t = (static_cast<double>(n) - center) / s;
        w[static_cast<size_t>(n)] = std::exp(t * (t * -0.5));
    }
    return w;
}

std::vector<double> sincFilter(int64_t N, double fc_normalized, double center) {
    std::vector<double> h(static_cast<size_t>(N > 0 ? N : 0));
    const double omega = fc_normalized * kTwoPi;
    for (int64_t n = 0; n < N; ++n) {
        const double d = static_cast<double>(n) - center;
        h[static_cast<size_t>(n)] =
            std::fabs(d) < 1e-10 ? fc_normalized + fc_normalized : std::sin(omega * d) / (d * kPi);
    }
    return h;
}

} // namespace sonteva
