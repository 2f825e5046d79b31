#include <algorithm>
#include <cmath>
#include <set>

#include "sampledata/Random.h"
#include "sampledata/Region.h"

namespace quorvel::sample {

namespace {

constexpr double kDemCell = 100;

double Lerp(double a, double b, double t) { return a + (b - a) * t; }

// Nearest-source transform: for every cell, the index of the nearest cell
// that was a source (two chamfer passes carrying the source, near-Euclidean).
std::vector<int> NearestSource(int columns, int rows, const std::vector<int>& sources)
{
    std::vector<int> nearest = sources;
    auto d2 = [&](int cell, int src) {
        const double dx = cell % columns - src % columns;
        const double dy = cell / columns - src / columns;
        return dx * dx + dy * dy;
    };
    auto relax = [&](int x, int y, int nx, int ny) {
        if (nx < 0 || ny < 0 || nx >= columns || ny >= rows)
            return;
        const int cell = y * columns + x;
        const int candidate = nearest[static_cast<std::size_t>(ny * columns + nx)];
        if (candidate < 0)
            return;
        int& current = nearest[static_cast<std::size_t>(cell)];
        if (current < 0 || d2(cell, candidate) < d2(cell, current))
            current = candidate;
    };
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < columns; ++x) {
            relax(x, y, x - 1, y);
            relax(x, y, x - 1, y - 1);
            relax(x, y, x, y - 1);
            relax(x, y, x + 1, y - 1);
        }
        for (int x = columns - 1; x >= 0; --x)
            relax(x, y, x + 1, y);
    }
    for (int y = rows - 1; y >= 0; --y) {
        for (int x = columns - 1; x >= 0; --x) {
            relax(x, y, x + 1, y);
            relax(x, y, x + 1, y + 1);
            relax(x, y, x, y + 1);
            relax(x, y, x - 1, y + 1);
        }
        for (int x = 0; x < columns; ++x)
            relax(x, y, x - 1, y);
    }
    return nearest;
}

double BaseHeight(double x, double y)
{
    const double u = (x - kWest) / 1000;
    const double v = (y - kSouth) / 1000;
    const double t = v / 130;
    const double mountains = SmoothStep(0.47, 0.80, t + 0.08 * Fbm(Hash(kSeed, 11), u / 45, v / 45, 3));
    const double hillBelt = SmoothStep(0.26, 0.50, t + 0.10 * Fbm(Hash(kSeed, 12), u / 35, v / 35, 3));
    const double plain = 4 + 95 * SmoothStep(0.0, 0.5, t) + 8 * Fbm(Hash(kSeed, 13), u / 10, v / 10, 3);
    const double hills = hillBelt * (70 + 420 * (0.5 + 0.5 * Fbm(Hash(kSeed, 14), u / 5, v / 5, 6)));
    const double ridge = Ridged(Hash(kSeed, 15), u / 13, v / 13, 8);
    const double massif = 0.65 + 0.35 * Fbm(Hash(kSeed, 16), u / 30, v / 30, 2);
    const double mount = mountains * (300 + 2900 * massif * std::pow(ridge, 1.35)) * (0.6 + 0.4 * mountains);
    return plain + hills + mount;
}

void Chamfer(std::vector<float>& dist, int columns, int rows, double cell)
{
    const float straight = static_cast<float>(cell);
    const float diagonal = static_cast<float>(cell * std::sqrt(2.0));
    auto at = [&](int x, int y) -> float& { return dist[static_cast<std::size_t>(y) * columns + x]; };
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < columns; ++x) {
            float& d = at(x, y);
            if (x > 0) d = std::min(d, at(x - 1, y) + straight);
            if (y > 0) d = std::min(d, at(x, y - 1) + straight);
            if (x > 0 && y > 0) d = std::min(d, at(x - 1, y - 1) + diagonal);
            if (x + 1 < columns && y > 0) d = std::min(d, at(x + 1, y - 1) + diagonal);
        }
    for (int y = rows - 1; y >= 0; --y)
        for (int x = columns - 1; x >= 0; --x) {
            float& d = at(x, y);
            if (x + 1 < columns) d = std::min(d, at(x + 1, y) + straight);
            if (y + 1 < rows) d = std::min(d, at(x, y + 1) + straight);
            if (x + 1 < columns && y + 1 < rows) d = std::min(d, at(x + 1, y + 1) + diagonal);
            if (x > 0 && y + 1 < rows) d = std::min(d, at(x - 1, y + 1) + diagonal);
        }
}

}  // namespace

double Dem::Bilinear(double x, double y) const
{
    const double fx = std::clamp((x - west) / cell - 0.5, 0.0, columns - 1.001);
    const double fy = std::clamp((north - y) / cell - 0.5, 0.0, rows - 1.001);
    const int ix = static_cast<int>(fx);
    const int iy = static_cast<int>(fy);
    const double tx = fx - ix, ty = fy - iy;
    return Lerp(Lerp(At(ix, iy), At(ix + 1, iy), tx), Lerp(At(ix, iy + 1), At(ix + 1, iy + 1), tx), ty);
}

double Dem::Bicubic(double x, double y) const
{
    const double fx = (x - west) / cell - 0.5;
    const double fy = (north - y) / cell - 0.5;
    const int ix = static_cast<int>(std::floor(fx));
    const int iy = static_cast<int>(std::floor(fy));
    const double tx = fx - ix, ty = fy - iy;
    auto weights = [](double t, double w[4]) {
        const double t2 = t * t, t3 = t2 * t;
        w[0] = -0.5 * t3 + t2 - 0.5 * t;
        w[1] = 1.5 * t3 - 2.5 * t2 + 1;
        w[2] = -1.5 * t3 + 2 * t2 + 0.5 * t;
        w[3] = 0.5 * t3 - 0.5 * t2;
    };
    double wx[4], wy[4];
    weights(tx, wx);
    weights(ty, wy);
    double sum = 0;
    for (int j = 0; j < 4; ++j) {
        const int row = std::clamp(iy - 1 + j, 0, rows - 1);
        double line = 0;
        for (int i = 0; i < 4; ++i)
            line += wx[i] * At(std::clamp(ix - 1 + i, 0, columns - 1), row);
        sum += wy[j] * line;
    }
    return sum;
}

void BuildTerrain(Region& region)
{
    Dem& dem = region.dem;
    dem.west = kWest;
    dem.north = kNorth;
    dem.cell = kDemCell;
    dem.columns = static_cast<int>(std::lround((kEast - kWest) / kDemCell));
    dem.rows = static_cast<int>(std::lround((kNorth - kSouth) / kDemCell));
    const std::size_t count = static_cast<std::size_t>(dem.columns) * dem.rows;

    const double transform[6] = {dem.west, dem.cell, 0, dem.north, 0, -dem.cell};
    const std::vector<std::uint8_t> sea = Burn(dem.columns, dem.rows, transform, {region.sea.get()});
    dem.inRegion = Burn(dem.columns, dem.rows, transform, {region.land.get()});
    for (std::size_t i = 0; i < count; ++i)
        if (sea[i])
            dem.inRegion[i] = 0;

    // Distance from each land cell to the sea, and from each sea cell to land.
    const float far = 1e9f;
    std::vector<float> toSea(count), toLand(count);
    for (std::size_t i = 0; i < count; ++i) {
        toSea[i] = sea[i] ? 0 : far;
        toLand[i] = sea[i] ? far : 0;
    }
    Chamfer(toSea, dem.columns, dem.rows, dem.cell);
    Chamfer(toLand, dem.columns, dem.rows, dem.cell);

    // River beds: each main river falls from its source to the sea along a
    // concave profile; a tributary falls to the bed of the river it joins.
    std::vector<int> sources(count, -1);
    std::vector<float> bed(count, 0);
    std::vector<float> carve(count, 0);  // how deep the valley cuts: none at a spring
    const std::size_t mainCount = 6;
    auto bedAlong = [](const Polyline& line, double top, double bottom, std::vector<double>& out) {
        std::vector<double> along{0};
        for (std::size_t i = 1; i < line.size(); ++i)
            along.push_back(along.back() + std::hypot(line[i].x - line[i - 1].x, line[i].y - line[i - 1].y));
        out.clear();
        for (double s : along)
            out.push_back(bottom + (top - bottom) * std::pow(1 - s / along.back(), 1.8));
    };
    std::vector<std::vector<double>> beds(region.rivers.size());
    for (std::size_t r = 0; r < region.rivers.size(); ++r) {
        const River& river = region.rivers[r];
        double bottom = 0;
        if (r >= mainCount) {
            const Pt end = river.line.back();
            double best = 1e30;
            for (std::size_t m = 0; m < mainCount; ++m)
                for (std::size_t i = 0; i < region.rivers[m].line.size(); ++i) {
                    const double d = std::hypot(region.rivers[m].line[i].x - end.x, region.rivers[m].line[i].y - end.y);
                    if (d < best) {
                        best = d;
                        bottom = beds[m][i];
                    }
                }
        }
        bedAlong(river.line, river.sourceHeight, bottom, beds[r]);
        double fromSpring = 0;
        for (std::size_t i = 0; i + 1 < river.line.size(); ++i) {
            const Pt a = river.line[i], b = river.line[i + 1];
            const int steps = std::max(1, static_cast<int>(std::hypot(b.x - a.x, b.y - a.y) / 40));
            for (int s = 0; s <= steps; ++s) {
                const double t = static_cast<double>(s) / steps;
                const int col = static_cast<int>((a.x + (b.x - a.x) * t - dem.west) / dem.cell);
                const int row = static_cast<int>((dem.north - (a.y + (b.y - a.y) * t)) / dem.cell);
                if (col < 0 || row < 0 || col >= dem.columns || row >= dem.rows)
                    continue;
                const auto cell = static_cast<std::size_t>(row) * dem.columns + col;
                const float h = static_cast<float>(Lerp(beds[r][i], beds[r][i + 1], t));
                if (sources[cell] < 0 || h < bed[cell]) {
                    sources[cell] = static_cast<int>(cell);
                    bed[cell] = h;
                    carve[cell] = static_cast<float>(SmoothStep(0, 5000, fromSpring + std::hypot(b.x - a.x, b.y - a.y) * t));
                }
            }
            fromSpring += std::hypot(b.x - a.x, b.y - a.y);
        }
    }
    const std::vector<int> nearestRiver = NearestSource(dem.columns, dem.rows, sources);

    dem.height.assign(count, 0);
    ParallelRows(dem.rows, [&](int first, int last) {
        for (int row = first; row < last; ++row)
            for (int col = 0; col < dem.columns; ++col) {
                const auto i = static_cast<std::size_t>(row) * dem.columns + col;
                const double x = dem.west + (col + 0.5) * dem.cell;
                const double y = dem.north - (row + 0.5) * dem.cell;
                if (sea[i]) {
                    dem.height[i] = static_cast<float>(-std::min(150.0, 1.5 + toLand[i] * 0.004));
                    continue;
                }
                double h = BaseHeight(x, y);
                const int src = nearestRiver[i];
                if (src >= 0) {
                    // Valleys keep the texture of their slopes: the relief above the
                    // bed is scaled down towards the stream rather than cut flat.
                    const double d = std::hypot(col - src % dem.columns, row - src / dem.columns) * dem.cell;
                    // On the plain a stream runs only a few metres below the fields.
                    const double deepest = 6 + 1200 * SmoothStep(120, 1500, h);
                    const double floor = std::max(static_cast<double>(bed[static_cast<std::size_t>(src)]) + 2, h - deepest);
                    const double width = 900 + 3200 * SmoothStep(150, 1500, h);
                    if (h > floor) {
                        const double carved = floor + (h - floor) * (0.04 + 0.96 * SmoothStep(60, width, d));
                        h += (carved - h) * carve[static_cast<std::size_t>(src)];
                    }
                }
                const double coastal = SmoothStep(0, 9000, toSea[i]);
                h = std::max(0.5 + toSea[i] * 0.0005, h * (0.08 + 0.92 * coastal));
                dem.height[i] = static_cast<float>(h);
            }
    });
}

void BuildRoads(Region& region)
{
    const auto& ms = region.municipalities;
    const std::size_t n = ms.size();
    auto dist = [&](std::size_t a, std::size_t b) {
        return std::hypot(ms[a].seat.x - ms[b].seat.x, ms[a].seat.y - ms[b].seat.y);
    };
    auto overLand = [&](std::size_t a, std::size_t b) {
        for (int s = 1; s < 20; ++s) {
            const double t = s / 20.0;
            const double x = Lerp(ms[a].seat.x, ms[b].seat.x, t), y = Lerp(ms[a].seat.y, ms[b].seat.y, t);
            if (region.dem.Bilinear(x, y) < 1.0)
                return false;
        }
        return true;
    };
    // A spanning tree joins every seat; shortcuts to near neighbours make a network.
    std::set<std::pair<std::size_t, std::size_t>> edges;
    std::vector<bool> inTree(n, false);
    std::vector<double> best(n, 1e30);
    std::vector<std::size_t> parent(n, 0);
    best[0] = 0;
    for (std::size_t k = 0; k < n; ++k) {
        std::size_t u = n;
        for (std::size_t v = 0; v < n; ++v)
            if (!inTree[v] && (u == n || best[v] < best[u]))
                u = v;
        inTree[u] = true;
        if (k > 0)
            edges.emplace(std::min(parent[u], u), std::max(parent[u], u));
        for (std::size_t v = 0; v < n; ++v)
            if (!inTree[v] && dist(u, v) < best[v]) {
                best[v] = dist(u, v);
                parent[v] = u;
            }
    }
    for (std::size_t a = 0; a < n; ++a)
        for (std::size_t b = a + 1; b < n; ++b)
            if (dist(a, b) < 9000 && Hash(kSeed, 800, a, b) % 3 == 0)
                edges.emplace(a, b);
    std::uint64_t k = 0;
    for (auto [a, b] : edges) {
        if (!overLand(a, b))
            continue;
        region.roads.push_back(FractalLine(ms[a].seat, ms[b].seat, Hash(kSeed, 900, k++), 0.07, 250));
    }
}

void BuildPlaceNames(Region& region, int hamlets)
{
    const Dem& dem = region.dem;
    auto inRegion = [&](Pt p) {
        const int col = static_cast<int>((p.x - dem.west) / dem.cell);
        const int row = static_cast<int>((dem.north - p.y) / dem.cell);
        return col >= 0 && row >= 0 && col < dem.columns && row < dem.rows &&
               dem.inRegion[static_cast<std::size_t>(row) * dem.columns + col];
    };
    auto stem = [](std::uint64_t a, std::uint64_t b) { return PlaceStem(Hash(kSeed, 1000, a, b)); };

    // Peaks: the highest cell of its 3 km neighbourhood.
    std::uint64_t id = 0;
    const int radius = 15;
    for (int row = radius; row < dem.rows - radius; row += 4)
        for (int col = radius; col < dem.columns - radius; col += 4) {
            int br = row, bc = col;
            for (int r = row - 2; r < row + 2; ++r)
                for (int c = col - 2; c < col + 2; ++c)
                    if (dem.At(c, r) > dem.At(bc, br)) {
                        br = r;
                        bc = c;
                    }
            const float h = dem.At(bc, br);
            if (h < 900)
                continue;
            // The best cell may lie two cells nearer the edge than row and col,
            // so its neighbourhood is cut to the grid.
            bool top = true;
            for (int r = std::max(br - radius, 0); r <= std::min(br + radius, dem.rows - 1) && top; ++r)
                for (int c = std::max(bc - radius, 0); c <= std::min(bc + radius, dem.columns - 1) && top; ++c)
                    top = dem.At(c, r) <= h && !(dem.At(c, r) == h && (r < br || (r == br && c < bc)));
            const Pt p{dem.west + (bc + 0.5) * dem.cell, dem.north - (br + 0.5) * dem.cell};
            if (!top || !inRegion(p))
                continue;
            static const char* prefixes[] = {"Monte ", "Cima ", "Piz ", "Col ", "Creta di ", "Zuc dal "};
            const std::uint64_t h1 = Hash(kSeed, 1100, id);
            region.places.push_back({p, std::string(prefixes[h1 % 6]) + stem(1, id), "vetta"});
            ++id;
        }

    Rng rng(Hash(kSeed, 1200));
    OGREnvelope env;
    region.land->getEnvelope(&env);
    // Passes and huts high up, hamlets everywhere, most of them on the plain and hills.
    int passes = 0, tries = 0;
    while (passes < 160 && ++tries < 200000) {
        const Pt p{rng.Uniform(env.MinX, env.MaxX), rng.Uniform(env.MinY, env.MaxY)};
        if (!inRegion(p) || dem.Bilinear(p.x, p.y) < 1300)
            continue;
        static const char* prefixes[] = {"Forcella ", "Passo ", "Sella di ", "Forca di "};
        region.places.push_back({p, std::string(prefixes[rng.Below(4)]) + stem(2, id++), "passo"});
        ++passes;
    }
    // Hamlets keep a distance that shrinks as more of them must fit; a bucket
    // of that size holds the ones already placed, so only nine are looked at.
    const double spacing = 700 * std::min(1.0, std::sqrt(double(kSampleHamlets) / std::max(1, hamlets)));
    const int bucketColumns = static_cast<int>((env.MaxX - env.MinX) / spacing) + 1;
    const int bucketRows = static_cast<int>((env.MaxY - env.MinY) / spacing) + 1;
    std::vector<std::vector<Pt>> buckets(static_cast<std::size_t>(bucketColumns) * bucketRows);
    const long maxTries = hamlets > kSampleHamlets ? 2000000L * hamlets / kSampleHamlets : 400000L;
    int placed = 0;
    long hamletTries = 0;
    while (placed < hamlets && ++hamletTries < maxTries) {
        const Pt p{rng.Uniform(env.MinX, env.MaxX), rng.Uniform(env.MinY, env.MaxY)};
        if (!inRegion(p))
            continue;
        const double h = dem.Bilinear(p.x, p.y);
        if (h > 2000 || !rng.Chance(1.0 - 0.75 * SmoothStep(200, 1600, h)))
            continue;
        const int bc = std::min(bucketColumns - 1, static_cast<int>((p.x - env.MinX) / spacing));
        const int br = std::min(bucketRows - 1, static_cast<int>((p.y - env.MinY) / spacing));
        bool clear = true;
        for (int r = std::max(0, br - 1); r <= std::min(bucketRows - 1, br + 1) && clear; ++r)
            for (int c = std::max(0, bc - 1); c <= std::min(bucketColumns - 1, bc + 1) && clear; ++c)
                for (const Pt& q : buckets[static_cast<std::size_t>(r) * bucketColumns + c])
                    if (std::fabs(q.x - p.x) < spacing && std::fabs(q.y - p.y) < spacing) {
                        clear = false;
                        break;
                    }
        if (!clear)
            continue;
        buckets[static_cast<std::size_t>(br) * bucketColumns + bc].push_back(p);
        ++placed;
        std::string name;
        const int form = rng.Below(10);
        if (h > 900) {
            static const char* high[] = {"Casera ", "Malga ", "Stavoli ", "Casera "};
            name = std::string(high[rng.Below(4)]) + stem(3, id);
        } else {
            static const char* low[] = {"Borgo ", "Case ", "Casali ", "Molino ", "Cjase ", "", "", ""};
            name = std::string(low[form % 8]) + stem(3, id);
        }
        region.places.push_back({p, name, "località"});
        ++id;
    }
    // Streams named at intervals along their course.
    for (std::size_t r = 0; r < region.rivers.size(); ++r) {
        const River& river = region.rivers[r];
        const std::string name = river.name.empty() ? (r % 2 ? "Rio " : "Torrente ") + stem(4, r) : river.name;
        double since = 0;
        for (std::size_t i = 1; i < river.line.size(); ++i) {
            since += std::hypot(river.line[i].x - river.line[i - 1].x, river.line[i].y - river.line[i - 1].y);
            if (since < 4000 || !inRegion(river.line[i]))
                continue;
            since = 0;
            region.places.push_back({river.line[i], name, "corso d'acqua"});
        }
    }
}

}  // namespace quorvel::sample
