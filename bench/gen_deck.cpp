// Writes the benchmark deck: a triclinic cell and 5000 distinct reflections
// that the wavelength reaches, about a quarter of them flagged extinct.
//
//   peakpos_gendeck [NPEAK] > deck
//
// The choice is deterministic (a fixed-seed mt19937, whose output the C++
// standard fixes), so every machine benchmarks the same deck.
#include <array>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

int main(int argc, char** argv) {
    const long npeak = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 5000;
    constexpr int span = 9; // indices -9..9: 6858 triples besides (0,0,0)
    if (npeak < 1 || npeak > (2 * span + 1) * (2 * span + 1) * (2 * span + 1) - 1) {
        std::fprintf(stderr, "peakpos_gendeck: NPEAK must be 1..6858\n");
        return 2;
    }
    std::vector<std::array<int, 3>> hkl;
    for (int h = -span; h <= span; ++h)
        for (int k = -span; k <= span; ++k)
            for (int l = -span; l <= span; ++l)
                if (h != 0 || k != 0 || l != 0) hkl.push_back({h, k, l});
    std::mt19937 rng(20261210);
    // Fisher-Yates with the raw generator output, the same everywhere.
    for (std::size_t i = hkl.size() - 1; i > 0; --i) std::swap(hkl[i], hkl[rng() % (i + 1)]);
    hkl.resize(static_cast<std::size_t>(npeak));

    // The shortest spacing of indices up to 9 in this cell is about 0.35 A;
    // 0.6 A reaches down to 0.3 A, so every reflection has a 2-theta.
    std::printf("bench triclinic %ld reflections\n", npeak);
    std::printf("5.13 6.27 7.41 81.5 97.25 103.75 0.6\n");
    std::printf("0 100 0.05\n");
    std::printf("%ld\n", npeak);
    for (int axis = 0; axis < 3; ++axis) {
        for (long i = 0; i < npeak; ++i)
            std::printf("%d%c", hkl[static_cast<std::size_t>(i)][axis],
                        (i + 1) % 25 == 0 || i + 1 == npeak ? '\n' : ' ');
    }
    for (long i = 0; i < npeak; ++i)
        std::printf("%d%c", rng() % 4 == 0 ? 1 : 0,
                    (i + 1) % 25 == 0 || i + 1 == npeak ? '\n' : ' ');
    return 0;
}
