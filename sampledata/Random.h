#pragma once

#include <cmath>
#include <algorithm>
#include <cstdint>

// Deterministic randomness for the sample region. The standard library's
// distributions differ between implementations, so every draw and every noise
// value here is computed by our own integer arithmetic: the same seed gives the
// same region on any machine.
namespace quorvel::sample {

inline std::uint64_t Mix64(std::uint64_t z)
{
    z += 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

inline std::uint64_t Hash(std::uint64_t a, std::uint64_t b = 0, std::uint64_t c = 0,
                          std::uint64_t d = 0)
{
    return Mix64(Mix64(Mix64(Mix64(a) ^ b) ^ c) ^ d);
}

// SplitMix64 stream.
class Rng {
public:
    explicit Rng(std::uint64_t seed) : state_(seed) {}

    std::uint64_t Next() { return Mix64(state_++); }
    // [0, 1)
    double Uniform() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
    double Uniform(double lo, double hi) { return lo + (hi - lo) * Uniform(); }
    // [0, n)
    int Below(int n) { return static_cast<int>(Uniform() * n); }
    bool Chance(double p) { return Uniform() < p; }

private:
    std::uint64_t state_;
};

// Eases the weight t in [0, 1] so that slope and curvature vanish at the
// lattice points: the noise shows no seams along the lattice.
inline double Fade(double t)
{
    return t * t * t * (t * (t * 6 - 15) + 10);
}

// Smooth value noise in [-1, 1] on a lattice of unit spacing.
inline double LatticeValue(std::uint64_t seed, std::int64_t ix, std::int64_t iy)
{
    const std::uint64_t h = Hash(seed, static_cast<std::uint64_t>(ix), static_cast<std::uint64_t>(iy));
    return static_cast<double>(h >> 11) * 0x1.0p-52 - 1.0;
}

inline double ValueNoise(std::uint64_t seed, double x, double y)
{
    const double fx = std::floor(x);
    const double fy = std::floor(y);
    const auto ix = static_cast<std::int64_t>(fx);
    const auto iy = static_cast<std::int64_t>(fy);
    const double tx = x - fx;
    const double ty = y - fy;
    const double sx = Fade(tx);
    const double sy = Fade(ty);
    const double v00 = LatticeValue(seed, ix, iy);
    const double v10 = LatticeValue(seed, ix + 1, iy);
    const double v01 = LatticeValue(seed, ix, iy + 1);
    const double v11 = LatticeValue(seed, ix + 1, iy + 1);
    const double a = v00 + (v10 - v00) * sx;
    const double b = v01 + (v11 - v01) * sx;
    return a + (b - a) * sy;
}

// Gradient noise in about [-1, 1] on a lattice of unit spacing: unlike value
// noise it has no blocky lattice texture, which matters for ridges.
inline double GradientNoise(std::uint64_t seed, double x, double y)
{
    static constexpr double kDirections[16][2] = {
        {1, 0}, {0.9239, 0.3827}, {0.7071, 0.7071}, {0.3827, 0.9239}, {0, 1}, {-0.3827, 0.9239},
        {-0.7071, 0.7071}, {-0.9239, 0.3827}, {-1, 0}, {-0.9239, -0.3827}, {-0.7071, -0.7071},
        {-0.3827, -0.9239}, {0, -1}, {0.3827, -0.9239}, {0.7071, -0.7071}, {0.9239, -0.3827}};
    const double fx = std::floor(x);
    const double fy = std::floor(y);
    const auto ix = static_cast<std::int64_t>(fx);
    const auto iy = static_cast<std::int64_t>(fy);
    const double tx = x - fx;
    const double ty = y - fy;
    auto corner = [&](std::int64_t cx, std::int64_t cy, double dx, double dy) {
        const auto* g = kDirections[Hash(seed, static_cast<std::uint64_t>(cx), static_cast<std::uint64_t>(cy)) & 15u];
        return g[0] * dx + g[1] * dy;
    };
    const double sx = Fade(tx);
    const double sy = Fade(ty);
    const double a = corner(ix, iy, tx, ty) + (corner(ix + 1, iy, tx - 1, ty) - corner(ix, iy, tx, ty)) * sx;
    const double b = corner(ix, iy + 1, tx, ty - 1) +
                     (corner(ix + 1, iy + 1, tx - 1, ty - 1) - corner(ix, iy + 1, tx, ty - 1)) * sx;
    return std::clamp((a + (b - a) * sy) * 1.41, -1.0, 1.0);
}

// Fractal sum of octaves; x and y in units of the coarsest wavelength.
inline double Fbm(std::uint64_t seed, double x, double y, int octaves, double gain = 0.5)
{
    double sum = 0;
    double amplitude = 1;
    double norm = 0;
    for (int o = 0; o < octaves; ++o) {
        sum += amplitude * GradientNoise(seed + 7919u * static_cast<unsigned>(o), x, y);
        norm += amplitude;
        amplitude *= gain;
        // An irrational-ish factor and a shift keep octave lattices from lining up.
        x = x * 2.03 + 17.1;
        y = y * 2.03 - 9.7;
    }
    return sum / norm;
}

// Sharp crests and rounded valleys, in [0, 1]: the texture of an alpine range.
inline double Ridged(std::uint64_t seed, double x, double y, int octaves)
{
    double sum = 0;
    double amplitude = 1;
    double norm = 0;
    double weight = 1;
    for (int o = 0; o < octaves; ++o) {
        double v = 1.0 - std::fabs(GradientNoise(seed + 104729u * static_cast<unsigned>(o), x, y));
        v *= v;
        v *= weight;
        weight = std::clamp(v * 1.6, 0.0, 1.0);
        sum += v * amplitude;
        norm += amplitude;
        amplitude *= 0.5;
        x = x * 2.07 + 3.3;
        y = y * 2.07 + 11.9;
    }
    return sum / norm;
}

inline double SmoothStep(double e0, double e1, double x)
{
    const double t = std::clamp((x - e0) / (e1 - e0), 0.0, 1.0);
    return t * t * (3 - 2 * t);
}

}  // namespace quorvel::sample
