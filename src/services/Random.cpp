#include "services/Random.h"

namespace dm {
namespace {
SeededRandom& builtIn()
{
    static SeededRandom generator;
    return generator;
}
RandomSource* g_source = nullptr;
} // namespace

RandomSource& randomSource() { return g_source != nullptr ? *g_source : builtIn(); }
void setRandomSource(RandomSource* source) { g_source = source; }
void Randomize(std::uint32_t seed) { builtIn().seed(seed); }
float Rnd() { return randomSource().next(); }

} // namespace dm
