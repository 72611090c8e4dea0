#include "dsp/filter_design.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace sonteva;

TEST(FilterDesign, BesselAndKaiserBetaValues) {
    EXPECT_EQ(i0(0.0), 1.0);
    EXPECT_NEAR(i0(1.0), 1.2660658777520082, 1e-15);
    EXPECT_NEAR(i0(5.0) / 27.239871823604442, 1.0, 1e-14);
    EXPECT_EQ(kaiserBeta(-160.0), kaiserBeta(160.0));
    EXPECT_NEAR(kaiserBeta(160.0), 16.67326, 1e-12);
    EXPECT_EQ(kaiserBeta(20.0), 0.0);
    EXPECT_EQ(kaiserBeta(21.0), 0.0);
    EXPECT_NEAR(kaiserBeta(30.0), 2.1166248611409806, 1e-15);
}

TEST(FilterDesign, DegenerateLengths) {
    for (int64_t N : {0, 1}) {
        const size_t want = static_cast<size_t>(N);
        EXPECT_EQ(kaiserWindow(N, 8.0, 0.0).size(), want);
        EXPECT_EQ(blackmanHarrisWindow(N, 0.0).size(), want);
        EXPECT_EQ(nuttallWindow(N, 0.0).size(), want);
        EXPECT_EQ(hannWindow(N, 0.0).size(), want);
        EXPECT_EQ(gaussianWindow(N, 3.5, 0.0).size(), want);
        EXPECT_EQ(sincFilter(N, 0.25, 0.0).size(), want);
    }
    EXPECT_EQ(kaiserWindow(1, 8.0, 5.0)[0], 1.0);
    EXPECT_EQ(hannWindow(1, 5.0)[0], 1.0);
    EXPECT_EQ(gaussianWindow(1, 3.5, 5.0)[0], 1.0);
    EXPECT_NEAR(sincFilter(1, 0.25, 0.5)[0], 0.45015815807855303, 1e-15); // not special-cased
}

TEST(FilterDesign, CentredWindowsAreSymmetricWithUnitPeak) {
    const int64_t N = 33;
    const double c = (N - 1) * 0.5;
    const std::vector<std::vector<double>> windows = {
        kaiserWindow(N, 9.0, c), blackmanHarrisWindow(N, c), nuttallWindow(N, c), hannWindow(N, c),
        gaussianWindow(N, 3.5, c)};
    for (const auto& w : windows) {
        EXPECT_EQ(w[16], 1.0);
        for (int64_t n = 0; n < N; ++n)
            EXPECT_NEAR(w[n], w[N - 1 - n], 1e-15);
    }
    // The cosine sums reach exactly 1 at theta = pi because their coefficients sum to 1.
    EXPECT_EQ(blackmanHarrisWindow(9, 4.0)[4], 1.0);
    EXPECT_EQ(nuttallWindow(9, 4.0)[4], 1.0);
}

TEST(FilterDesign, ShiftedCentreMovesTheWindow) {
    const int64_t N = 32;
    const double beta = 10.0;
    const auto w = kaiserWindow(N, beta, (N - 1) * 0.5 + 0.5);
    EXPECT_NE(w[0], w[N - 1]);
    // Farther than the half-width from the centre the Kaiser window is 1/I0(beta), not 0.
    EXPECT_EQ(w[0], i0(0.0) / i0(beta));
    EXPECT_NEAR(hannWindow(9, 6.0)[0], 0.5, 1e-15); // cosine windows stay periodic
}

TEST(FilterDesign, SincCentreAndThreshold) {
    const auto h = sincFilter(5, 0.2, 2.0);
    EXPECT_EQ(h[2], 0.2 + 0.2);
    EXPECT_EQ(h[3], std::sin((0.2 * kTwoPi) * 1.0) / (1.0 * kPi));
    // A half-integer centre never hits the special case: the taps mirror exactly.
    const auto g = sincFilter(128, 0.25, 63.5);
    for (int64_t n = 0; n < 64; ++n)
        ASSERT_EQ(g[n], g[127 - n]) << n;
    EXPECT_NEAR(g[64], 0.45015815807855303, 1e-15);
}

TEST(FilterDesign, RoundHalfAwayFromZero) {
    EXPECT_EQ(roundHalfAway(2.5), 3.0);
    EXPECT_EQ(roundHalfAway(-2.5), -3.0);
    EXPECT_EQ(roundHalfAway(0.49999999999999994), 0.0);
    EXPECT_EQ(roundHalfAway(-0.50135), -1.0);
}
