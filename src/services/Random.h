#pragma once
// The one program-wide random source. Everything that draws (battle, filler
// bytes, random items, creation) goes through Rnd(), so tests can feed chosen
// draws and the command-line tool can replay a battle from a seed.
#include <cstdint>
#include <random>

namespace dm {

class RandomSource {
public:
    virtual ~RandomSource() = default;
    // A uniform draw in [0, 1).
    virtual float next() = 0;
};

class SeededRandom final : public RandomSource {
public:
    explicit SeededRandom(std::uint32_t seed = 0) : m_engine(seed) {}
    void seed(std::uint32_t s) { m_engine.seed(s); }
    float next() override
    {
        // 24 random bits map exactly onto the floats of [0, 1); this avoids
        // generate_canonical's occasional 1.0.
        return static_cast<float>(m_engine() >> 8) * (1.0F / 16777216.0F);
    }

private:
    std::mt19937 m_engine;
};

// The source Rnd() draws from; the program's own seeded generator unless a
// test or tool has installed another.
RandomSource& randomSource();
// Installs `source` (not owned) as the program-wide source; nullptr restores
// the built-in one.
void setRandomSource(RandomSource* source);
// Seeds the built-in generator.
void Randomize(std::uint32_t seed);
// One draw in [0, 1) from the program-wide source.
float Rnd();

} // namespace dm
