// Cell conversion and reflection positions, to the bit.
#include "peakpos/celcon.hpp"
#include "peakpos/positions.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <memory>

namespace peakpos {
namespace {

std::uint32_t bits(float v) {
    return std::bit_cast<std::uint32_t>(v);
}

struct Cell {
    float a, b, c, al, be, ga;
    float rcv = 0, vol = 0;
    Array1<float, 6> rcp, prcp;
    Cell(float a_, float b_, float c_, float al_, float be_, float ga_)
        : a(a_), b(b_), c(c_), al(al_), be(be_), ga(ga_) {
        celcon(a, b, c, al, be, ga, rcv, rcp, vol, prcp);
    }
};

// Reflections of one cell, with 2-theta and d for each (h, k, l).
std::unique_ptr<Run> reflections(const Cell& cell, float wave,
                                 std::initializer_list<std::array<std::int32_t, 3>> hkl) {
    auto run = std::make_unique<peakpos::Run>();
    run->prcp = cell.prcp;
    run->wave = wave;
    for (const auto& [h, k, l] : hkl) {
        ++run->npeak;
        run->h(run->npeak) = h, run->k(run->npeak) = k, run->l(run->npeak) = l;
    }
    positions(*run);
    return run;
}

TEST(Celcon, RightAnglesLeaveCrossTermsJustBelowZero) {
    // cos(90 K) in single precision is about 1.22e-8, not 0.
    const Cell cubic(5.64f, 5.64f, 5.64f, 90, 90, 90);
    const float cos90 = static_cast<float>(std::cos(90 * double{K}));
    ASSERT_NE(cos90, 0.0f);
    for (int i = 4; i <= 6; ++i) {
        EXPECT_EQ(cubic.rcp(i), -cos90) << i; // (cos^2 - cos) / sin^2 with sin = 1
        EXPECT_LT(cubic.prcp(i), 0.0f) << i;
        EXPECT_EQ(bits(cubic.prcp(i)), bits(cubic.prcp(4))) << i;
    }
    EXPECT_NEAR(cubic.prcp(4), -9.56e-11, 0.01e-11);
    EXPECT_EQ(bits(cubic.prcp(1)), bits(cubic.prcp(2)));
    EXPECT_EQ(cubic.a, 5.64f); // a direct cell stays as given
    EXPECT_EQ(cubic.al, 90.0f);
}

TEST(Celcon, ReciprocalInputGivesTheDirectCellBack) {
    const float astar = static_cast<float>(1.0 / 5.64);
    const Cell rec(astar, astar, astar, 90, 90, 90);
    const Cell direct(5.64f, 5.64f, 5.64f, 90, 90, 90);
    EXPECT_NEAR(rec.a, 5.64f, 1e-5f);
    EXPECT_NEAR(rec.al, 90.0f, 1e-5f);
    EXPECT_EQ(rec.rcp(1), astar); // the given lengths, swapped in
    EXPECT_NEAR(rec.rcv, direct.rcv, 1e-3f);
    EXPECT_NEAR(rec.vol, direct.vol, 1e-8f);
    // rcp(4..6) now hold the cosines of the given angles: positive.
    EXPECT_EQ(rec.rcp(4), static_cast<float>(std::cos(90 * double{K})));
    EXPECT_GT(rec.prcp(4), 0.0f);
    EXPECT_NEAR(rec.prcp(4), -direct.prcp(4), 0.01e-11);
}

TEST(Celcon, AOfExactlyOneIsReciprocal) {
    const Cell one(1.0f, 1.0f, 1.0f, 90, 90, 90);
    EXPECT_EQ(one.rcp(1), 1.0f); // the given length, moved to the reciprocal side
    EXPECT_GT(one.rcp(4), 0.0f);
    const Cell above(std::nextafter(1.0f, 2.0f), 1.0f, 1.0f, 90, 90, 90);
    EXPECT_EQ(above.a, std::nextafter(1.0f, 2.0f));
    EXPECT_LT(above.rcp(4), 0.0f);
}

TEST(Celcon, ImpossibleCellsGiveInfinitiesAndNaNs) {
    const Cell flat(5.64f, 5.64f, 5.64f, 180, 90, 90);
    EXPECT_TRUE(std::isinf(flat.rcp(5)) || std::isnan(flat.rcp(5)));
    EXPECT_TRUE(std::isnan(flat.prcp(1)));
    const Cell bzero(5.64f, 0, 5.64f, 90, 90, 90);
    EXPECT_EQ(bzero.rcv, 0.0f);
    EXPECT_TRUE(std::isinf(bzero.rcp(2)));
    EXPECT_TRUE(std::isnan(bzero.rcp(1)));
    // A zero a makes the cell reciprocal; h then has no weight.
    const Cell azero(0, 5.64f, 5.64f, 90, 90, 90);
    EXPECT_EQ(azero.prcp(1), 0.0f);
    EXPECT_EQ(azero.prcp(4), 0.0f);
    EXPECT_EQ(azero.vol, 0.0f);
    EXPECT_TRUE(std::isfinite(azero.prcp(2)));
}

TEST(Positions, RockSalt) {
    const auto run = reflections(Cell(5.64f, 5.64f, 5.64f, 90, 90, 90), 1.54f,
                                 {{{1, 1, 1}}, {{2, 0, 0}}, {{9, 9, 9}}, {{1, -1, 1}}});
    EXPECT_TRUE(run->flag4 && run->flag5 && run->flag6);
    // The expected values are those of the reference output for this cell.
    EXPECT_EQ(bits(run->tt(1)), bits(27.3563347f));
    EXPECT_EQ(bits(run->ds(1)), bits(3.25625563f));
    EXPECT_EQ(bits(run->tt(2)), bits(31.6916389f));
    EXPECT_EQ(bits(run->ds(2)), bits(2.81999993f));
    EXPECT_EQ(run->tt(3), -1.0f); // the wavelength cannot reach (9,9,9)
    EXPECT_EQ(bits(run->ds(3)), bits(0.361806184f));
    // The tiny cross terms still move (1,-1,1) against (1,1,1).
    EXPECT_NE(bits(run->ds(4)), bits(run->ds(1)));
}

TEST(Positions, SinThetaOfExactlyOneIsReached) {
    // d = 2 for (1,0,0) of a cubic a = 2; lambda = 4 gives s = 1 exactly.
    const auto run = reflections(Cell(2, 2, 2, 90, 90, 90), 4, {{{1, 0, 0}}});
    EXPECT_EQ(run->ds(1), 2.0f);
    // asin(1) * 360 / Pi, with Pi one unit below the float nearest pi.
    EXPECT_EQ(bits(run->tt(1)), bits(180.000015f));
}

TEST(Positions, ZeroIndicesAndNegativeWavelength) {
    const Cell cubic(5.64f, 5.64f, 5.64f, 90, 90, 90);
    const auto run = reflections(cubic, 1.54f, {{{0, 0, 0}}});
    EXPECT_TRUE(std::isinf(run->ds(1)) && run->ds(1) > 0);
    EXPECT_EQ(bits(run->tt(1)), bits(0.0f));
    const auto neg = reflections(cubic, -1.54f, {{{0, 0, 0}}, {{1, 1, 1}}, {{9, 9, 9}}});
    EXPECT_EQ(bits(neg->tt(1)), bits(-0.0f));
    EXPECT_EQ(bits(neg->tt(2)), bits(-27.3563347f));
    EXPECT_TRUE(std::isnan(neg->tt(3))); // s < -1: only s > 1 is marked
}

TEST(Positions, ObliqueCellsTellHKFromMinusHK) {
    const Cell mono(5, 6, 7, 90, 100, 90);
    const auto run =
        reflections(mono, 1.54f, {{{1, 0, 1}}, {{1, 0, -1}}, {{-1, 0, 0}}, {{1, 0, 0}}});
    EXPECT_NE(bits(run->ds(1)), bits(run->ds(2)));
    EXPECT_EQ(bits(run->ds(3)), bits(run->ds(4)));
    EXPECT_EQ(bits(run->tt(3)), bits(run->tt(4)));
    const Cell hex(4, 4, 6, 90, 90, 120);
    const auto h = reflections(hex, 1.54f, {{{1, 1, 0}}, {{1, -1, 0}}});
    EXPECT_NE(bits(h->ds(1)), bits(h->ds(2)));
    EXPECT_LT(h->ds(1), h->ds(2)); // gamma 120: (1,1,0) is the shorter spacing
}

TEST(Positions, ExactZeroCoefficientsSwitchCrossTermsOff) {
    auto run = std::make_unique<peakpos::Run>();
    run->prcp(1) = run->prcp(2) = run->prcp(3) = 0.01f;
    run->prcp(4) = -0.0f;
    run->prcp(5) = NAN;
    positions(*run);
    EXPECT_FALSE(run->flag4);
    EXPECT_TRUE(run->flag5);
    EXPECT_FALSE(run->flag6);
}

TEST(Positions, HugeIndicesDoNotOverflow) {
    // 100000^2 is beyond 32 bits; the products are formed in 64.
    const Cell cubic(5.64f, 5.64f, 5.64f, 90, 90, 90);
    const auto run =
        reflections(cubic, 1.54f, {{{1, 0, 0}}, {{100000, 0, 0}}, {{65536, 65536, 0}}});
    EXPECT_NEAR(run->ds(2), run->ds(1) / 100000, run->ds(1) * 1e-11);
    EXPECT_NEAR(run->ds(3), run->ds(1) / (65536 * std::sqrt(2.0f)), run->ds(1) * 1e-10);
}

} // namespace
} // namespace peakpos
