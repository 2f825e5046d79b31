#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <set>
#include <stdexcept>
#include <thread>

#include <cpl_error.h>
#include <ogr_api.h>

#include "sampledata/Random.h"
#include "sampledata/Region.h"

namespace quorvel::sample {

namespace {

double Distance(Pt a, Pt b) { return std::hypot(a.x - b.x, a.y - b.y); }

void Subdivide(Pt a, Pt b, Rng& rng, double amplitude, double minSegment, Polyline& out)
{
    const double length = Distance(a, b);
    if (length < minSegment) {
        out.push_back(b);
        return;
    }
    const double offset = rng.Uniform(-1, 1) * amplitude * length;
    const double along = rng.Uniform(0.4, 0.6);
    const Pt mid{a.x + (b.x - a.x) * along - (b.y - a.y) / length * offset,
                 a.y + (b.y - a.y) * along + (b.x - a.x) / length * offset};
    Subdivide(a, mid, rng, amplitude * 0.72, minSegment, out);
    Subdivide(mid, b, rng, amplitude * 0.72, minSegment, out);
}

Polyline Chain(const std::vector<Pt>& anchors, std::uint64_t seed, double roughness, double minSegment)
{
    Polyline out{anchors.front()};
    for (std::size_t i = 1; i < anchors.size(); ++i) {
        Polyline piece = FractalLine(anchors[i - 1], anchors[i], Hash(seed, i), roughness, minSegment);
        out.insert(out.end(), piece.begin() + 1, piece.end());
    }
    return out;
}

// Keeps only the polygonal parts of an overlay result.
std::unique_ptr<OGRGeometry> Polygonal(OGRGeometry* geometry)
{
    std::unique_ptr<OGRGeometry> owned(geometry);
    if (!owned)
        throw std::runtime_error("geometry overlay failed");
    const auto type = wkbFlatten(owned->getGeometryType());
    if (type == wkbPolygon || type == wkbMultiPolygon)
        return owned;
    auto multi = std::make_unique<OGRMultiPolygon>();
    if (type == wkbGeometryCollection) {
        for (const OGRGeometry* part : *owned->toGeometryCollection()) {
            const auto partType = wkbFlatten(part->getGeometryType());
            if (partType == wkbPolygon)
                multi->addGeometry(part);
            else if (partType == wkbMultiPolygon)
                for (const OGRPolygon* p : *part->toMultiPolygon())
                    multi->addGeometry(p);
        }
    }
    return multi;
}

}  // namespace

Polyline FractalLine(Pt a, Pt b, std::uint64_t seed, double roughness, double minSegment)
{
    Rng rng(seed);
    Polyline out{a};
    Subdivide(a, b, rng, roughness, minSegment, out);
    return out;
}

std::unique_ptr<OGRPolygon> MakePolygon(const Polyline& ring)
{
    auto linear = std::make_unique<OGRLinearRing>();
    for (const Pt& p : ring)
        linear->addPoint(p.x, p.y);
    linear->closeRings();
    auto polygon = std::make_unique<OGRPolygon>();
    polygon->addRingDirectly(linear.release());
    return polygon;
}

void ParallelRows(int count, const std::function<void(int, int)>& body)
{
    const int workers = std::max(1, std::min(8, static_cast<int>(std::thread::hardware_concurrency())));
    std::vector<std::thread> threads;
    for (int w = 0; w < workers; ++w) {
        const int first = count * w / workers;
        const int last = count * (w + 1) / workers;
        threads.emplace_back(body, first, last);
    }
    for (auto& t : threads)
        t.join();
}

// The land borders follow crests and streams, so they wander; the coast of the
// gulf in the south-east is smoother at large scale but ragged in detail.
void BuildOutline(Region& region)
{
    const Pt sw{2318500, 5045500};
    const Pt nw{2316000, 5163500};
    const Pt ne{2483500, 5165500};
    const Pt eastCoast{2486500, 5101000};
    const Pt southCoast{2401000, 5042500};

    // A fractal line may cross itself; the first variant whose rings are
    // simple is taken.
    for (std::uint64_t attempt = 0;; ++attempt) {
        auto seed = [&](std::uint64_t part) { return Hash(kSeed, part, attempt); };
        const Polyline west = Chain({sw, {2322000, 5090000}, {2315500, 5128000}, nw}, seed(1), 0.11, 250);
        const Polyline north = Chain({nw, {2352000, 5160000}, {2398000, 5166000}, {2441000, 5158500}, ne},
                                     seed(2), 0.12, 250);
        const Polyline east = Chain({ne, {2480000, 5140000}, {2487000, 5120000}, eastCoast}, seed(3), 0.11, 250);
        const Polyline coast = Chain({eastCoast, {2471000, 5091000}, {2463000, 5074000}, {2449000, 5067500},
                                      {2437000, 5060500}, {2426000, 5059000}, {2417000, 5051000}, southCoast},
                                     seed(4), 0.09, 150);
        const Polyline south = Chain({southCoast, {2372000, 5046500}, {2343000, 5043000}, sw}, seed(5), 0.10, 250);

        Polyline ring;
        for (const Polyline* part : {&west, &north, &east, &coast, &south})
            ring.insert(ring.end(), part->begin() + (ring.empty() ? 0 : 1), part->end());
        region.land = MakePolygon(ring);

        // The sea lies south-east of the coast; west of the coast's end the
        // southern edge borders the neighbouring land.
        Polyline seaRing = coast;
        seaRing.push_back({southCoast.x, kSouth - 20000});
        seaRing.push_back({kEast + 20000, kSouth - 20000});
        seaRing.push_back({kEast + 20000, eastCoast.y});
        region.sea = MakePolygon(seaRing);
        CPLPushErrorHandler(CPLQuietErrorHandler);
        const bool simple = region.land->IsValid() && region.sea->IsValid();
        CPLPopErrorHandler();
        if (simple)
            return;
    }
}

void BuildRivers(Region& region)
{
    struct Plan {
        Pt source;
        Pt middle;
        Pt mouth;
        double width;
        double sourceHeight;
        const char* name;
    };
    // Mouths on the coast or across the southern border, sources under the crests.
    const std::array<Plan, 6> plans{{
        {{2332000, 5150000}, {2338000, 5095000}, {2352000, 5036000}, 45, 1300, "Fiume Sarvèn"},
        {{2366000, 5156000}, {2374000, 5098000}, {2386000, 5036000}, 60, 1400, "Fiume Dorna"},
        {{2402000, 5158000}, {2404000, 5100000}, {2418500, 5052500}, 70, 1500, "Fiume Tarvadòr"},
        {{2436000, 5152000}, {2433000, 5105000}, {2440000, 5063500}, 55, 1350, "Fiume Lusinç"},
        {{2466000, 5150000}, {2462000, 5112000}, {2466000, 5082000}, 40, 1200, "Torrente Vuàr"},
        {{2350000, 5108000}, {2358000, 5075000}, {2366000, 5036000}, 25, 250, "Roggia Clauzèt"},
    }};
    std::uint64_t index = 0;
    for (const Plan& plan : plans) {
        River river;
        river.line = Chain({plan.source, plan.middle, plan.mouth}, Hash(kSeed, 100, index++), 0.17, 120);
        river.width = plan.width;
        river.sourceHeight = plan.sourceHeight;
        river.name = plan.name;
        region.rivers.push_back(std::move(river));
    }
    // Tributaries join the main rivers from the side valleys.
    Rng rng(Hash(kSeed, 200));
    const std::size_t mains = region.rivers.size() - 1;
    for (int t = 0; t < 16; ++t) {
        const River& main = region.rivers[static_cast<std::size_t>(t) % mains];
        const std::size_t at = static_cast<std::size_t>(main.line.size() * rng.Uniform(0.12, 0.55));
        const Pt join = main.line[at];
        const double side = (t / static_cast<int>(mains)) % 2 == 0 ? -1 : 1;
        const Pt source{join.x + side * rng.Uniform(7000, 14000), join.y + rng.Uniform(5000, 15000)};
        River river;
        river.line = FractalLine(source, join, Hash(kSeed, 300, static_cast<std::uint64_t>(t)), 0.17, 120);
        river.width = 18;
        river.sourceHeight = 1100;
        region.rivers.push_back(std::move(river));
    }
}

namespace {

// A clip constraint: a site index (>= 0) or a side of the frame (-1 .. -4).
using VertexKey = std::array<int, 3>;

struct Frame {
    double xMin, yMin, xMax, yMax;
};

Pt SideCorner(const Frame& f, int a, int b)
{
    const int lo = std::max(a, b);  // -1 bottom, -2 right, -3 top, -4 left
    const int hi = std::min(a, b);
    const bool bottom = lo == -1 || hi == -1;
    const bool right = lo == -2 || hi == -2;
    return {right ? f.xMax : f.xMin, bottom ? f.yMin : f.yMax};
}

// A Voronoi vertex is fixed by the three constraints that meet there, and is
// computed from them alone, so that every cell sharing it gets the same bits.
Pt VertexFor(const VertexKey& key, const std::vector<Pt>& sites, const Frame& frame)
{
    const int sitesInKey = static_cast<int>(std::count_if(key.begin(), key.end(), [](int k) { return k >= 0; }));
    if (sitesInKey == 3) {
        const Pt a = sites[static_cast<std::size_t>(key[0])];
        const Pt b = sites[static_cast<std::size_t>(key[1])];
        const Pt c = sites[static_cast<std::size_t>(key[2])];
        const double bx = b.x - a.x, by = b.y - a.y, cx = c.x - a.x, cy = c.y - a.y;
        const double d = 2 * (bx * cy - by * cx);
        const double b2 = bx * bx + by * by, c2 = cx * cx + cy * cy;
        return {a.x + (cy * b2 - by * c2) / d, a.y + (bx * c2 - cx * b2) / d};
    }
    if (sitesInKey == 2) {
        const int side = key[0];
        const Pt a = sites[static_cast<std::size_t>(key[1])];
        const Pt b = sites[static_cast<std::size_t>(key[2])];
        const Pt mid{(a.x + b.x) / 2, (a.y + b.y) / 2};
        const double nx = b.x - a.x, ny = b.y - a.y;  // bisector: (p - mid) . n = 0
        if (side == -1 || side == -3) {
            const double y = side == -1 ? frame.yMin : frame.yMax;
            return {mid.x - (y - mid.y) * ny / nx, y};
        }
        const double x = side == -2 ? frame.xMax : frame.xMin;
        return {x, mid.y - (x - mid.x) * nx / ny};
    }
    return SideCorner(frame, key[0], key[1]);
}

struct CellVertex {
    Pt p;
    int label;  // constraint of the edge from this vertex to the next
};

std::vector<CellVertex> ClipCell(std::size_t i, const std::vector<Pt>& sites, const Frame& f)
{
    std::vector<CellVertex> poly{{{f.xMin, f.yMin}, -1}, {{f.xMax, f.yMin}, -2},
                                 {{f.xMax, f.yMax}, -3}, {{f.xMin, f.yMax}, -4}};
    const Pt s = sites[i];
    for (std::size_t j = 0; j < sites.size(); ++j) {
        if (j == i)
            continue;
        const Pt t = sites[j];
        const Pt mid{(s.x + t.x) / 2, (s.y + t.y) / 2};
        const double nx = t.x - s.x, ny = t.y - s.y;
        auto side = [&](Pt p) { return (p.x - mid.x) * nx + (p.y - mid.y) * ny; };
        std::vector<CellVertex> out;
        for (std::size_t k = 0; k < poly.size(); ++k) {
            const CellVertex& a = poly[k];
            const CellVertex& b = poly[(k + 1) % poly.size()];
            const double fa = side(a.p), fb = side(b.p);
            auto cross = [&] {
                const double u = fa / (fa - fb);
                return Pt{a.p.x + (b.p.x - a.p.x) * u, a.p.y + (b.p.y - a.p.y) * u};
            };
            if (fa <= 0 && fb <= 0) {
                out.push_back(a);
            } else if (fa <= 0 && fb > 0) {
                out.push_back(a);
                out.push_back({cross(), static_cast<int>(j)});
            } else if (fa > 0 && fb <= 0) {
                out.push_back({cross(), a.label});
            }
        }
        poly = std::move(out);
    }
    return poly;
}

VertexKey KeyOf(int site, int before, int after)
{
    VertexKey key{site, before, after};
    std::sort(key.begin(), key.end());
    return key;
}

// Municipalities are larger in the mountains than on the plain.
double Spacing(Pt p)
{
    const double t = (p.y - kSouth) / (kNorth - kSouth);
    return 1.0 + 0.9 * SmoothStep(0.35, 0.8, t);
}

std::vector<Pt> PlaceSeats(const OGRPolygon& land)
{
    Rng rng(Hash(kSeed, 400));
    OGREnvelope env;
    land.getEnvelope(&env);
    std::vector<Pt> seats;
    while (static_cast<int>(seats.size()) < kMunicipalityCount) {
        Pt best;
        double bestScore = -1;
        for (int c = 0; c < 40; ++c) {
            const Pt p{rng.Uniform(env.MinX, env.MaxX), rng.Uniform(env.MinY, env.MaxY)};
            OGRPoint point(p.x, p.y);
            if (!land.Contains(&point))
                continue;
            double score = 1e30;
            for (const Pt& q : seats)
                score = std::min(score, Distance(p, q) / (Spacing(p) + Spacing(q)));
            if (score > bestScore) {
                bestScore = score;
                best = p;
            }
        }
        if (bestScore > 0)
            seats.push_back(best);
    }
    return seats;
}

struct Centre {
    Pt at;
    double weight;
};

int Nearest(Pt p, const std::vector<Centre>& centres, std::uint64_t seed)
{
    const double wobble = 9000 * Fbm(seed, p.x / 25000, p.y / 25000, 3);
    int best = 0;
    double bestDistance = 1e30;
    for (std::size_t c = 0; c < centres.size(); ++c) {
        const double d = Distance(p, centres[c].at) * centres[c].weight + wobble * (c % 2 == 0 ? 1 : -1);
        if (d < bestDistance) {
            bestDistance = d;
            best = static_cast<int>(c);
        }
    }
    return best;
}

std::unique_ptr<OGRGeometry> UnionOf(const std::vector<const OGRGeometry*>& parts, const OGRGeometry& land)
{
    OGRMultiPolygon all;
    for (const OGRGeometry* part : parts)
        all.addGeometry(part);
    std::unique_ptr<OGRGeometry> merged(all.UnionCascaded());
    return Polygonal(merged ? merged->Intersection(&land) : nullptr);
}

}  // namespace

void BuildMunicipalities(Region& region)
{
    const std::vector<Pt> seats = PlaceSeats(*region.land);
    const Frame frame{kWest - 40000, kSouth - 40000, kEast + 40000, kNorth + 40000};
    std::vector<std::unique_ptr<OGRPolygon>> cells(seats.size());
    // An edge whose wiggle makes a cell cross itself, or come near its seat, is
    // calmed for both cells that share it, until every cell is a simple polygon
    // around its seat.
    using EdgeKey = std::pair<VertexKey, VertexKey>;
    std::map<EdgeKey, int> calm;
    std::vector<std::vector<EdgeKey>> cellEdges(seats.size());
    for (bool valid = false; !valid;) {
        ParallelRows(static_cast<int>(seats.size()), [&](int first, int last) {
            for (int i = first; i < last; ++i) {
                const auto index = static_cast<std::size_t>(i);
                const std::vector<CellVertex> poly = ClipCell(index, seats, frame);
                const std::size_t n = poly.size();
                std::vector<VertexKey> keys(n);
                for (std::size_t k = 0; k < n; ++k)
                    keys[k] = KeyOf(i, poly[(k + n - 1) % n].label, poly[k].label);
                Polyline ring;
                cellEdges[index].clear();
                for (std::size_t k = 0; k < n; ++k) {
                    const VertexKey& from = keys[k];
                    const VertexKey& to = keys[(k + 1) % n];
                    const Pt a = VertexFor(from, seats, frame);
                    const Pt b = VertexFor(to, seats, frame);
                    if (poly[k].label < 0) {
                        ring.push_back(a);
                        continue;
                    }
                    // Both cells of an edge draw the same wiggle: it is made in the
                    // direction of increasing vertex key and reversed when needed.
                    const bool forward = from < to;
                    const EdgeKey edgeKey{forward ? from : to, forward ? to : from};
                    cellEdges[index].push_back(edgeKey);
                    const auto found = calm.find(edgeKey);
                    const int level = found == calm.end() ? 0 : found->second;
                    const double roughness = level >= 4 ? 0.0 : 0.22 / (1 << level);
                    const VertexKey& lo = edgeKey.first;
                    const VertexKey& hi = edgeKey.second;
                    const std::uint64_t edgeSeed = Hash(Hash(kSeed, 500), Hash(lo[0] + 8, lo[1] + 8, lo[2] + 8),
                                                        Hash(hi[0] + 8, hi[1] + 8, hi[2] + 8));
                    Polyline edge = FractalLine(forward ? a : b, forward ? b : a, edgeSeed, roughness, 140);
                    if (!forward)
                        std::reverse(edge.begin(), edge.end());
                    ring.insert(ring.end(), edge.begin(), edge.end() - 1);
                }
                cells[index] = MakePolygon(ring);
            }
        });
        valid = true;
        for (std::size_t i = 0; i < cells.size(); ++i) {
            CPLPushErrorHandler(CPLQuietErrorHandler);
            const bool simple = cells[i]->IsValid();
            CPLPopErrorHandler();
            // The seat, where the municipality's name is placed, keeps clear of the wiggles.
            const OGRPoint seat(seats[i].x, seats[i].y);
            // GEOS measures distances to line strings, not to rings.
            const OGRLineString border(*cells[i]->getExteriorRing());
            if (simple && cells[i]->Contains(&seat) && border.Distance(&seat) > 400)
                continue;
            // Straight edges give the plain Voronoi cell, simple and around its seat.
            for (const EdgeKey& e : cellEdges[i]) {
                int& level = calm[e];
                if (level < 4) {
                    ++level;
                    valid = false;
                }
            }
        }
    }

    // Provinces and districts group whole municipalities, each by its own centres,
    // so that their borders cross.
    const std::vector<Centre> provinceCentres{{{2352000, 5142000}, 1.0}, {{2445000, 5140000}, 1.0},
                                              {{2345000, 5072000}, 1.0}, {{2425000, 5085000}, 1.05}};
    const std::vector<Centre> districtCentres{{{2405000, 5148000}, 1.0}, {{2455000, 5102000}, 1.0},
                                              {{2338000, 5098000}, 1.0}, {{2392000, 5062000}, 1.0}};

    std::vector<int> provinceOf, districtOf;
    for (const Pt& seat : seats) {
        provinceOf.push_back(Nearest(seat, provinceCentres, Hash(kSeed, 700)));
        districtOf.push_back(Nearest(seat, districtCentres, Hash(kSeed, 701)));
    }

    std::set<std::string> used;
    for (std::size_t i = 0; i < seats.size(); ++i) {
        Municipality m;
        m.seat = seats[i];
        std::uint64_t attempt = 0;
        do {
            m.name = MunicipalityName(Hash(kSeed, 600, i, attempt++));
        } while (!used.insert(m.name).second);
        m.province = provinceOf[i];
        m.district = districtOf[i];
        m.shape = Polygonal(cells[i]->Intersection(region.land.get()));
        m.areaKm2 = OGR_G_Area(OGRGeometry::ToHandle(m.shape.get())) / 1e6;
        region.municipalities.push_back(std::move(m));
    }

    // The table lists municipalities by province, then by name, as a printed
    // register would.
    std::stable_sort(region.municipalities.begin(), region.municipalities.end(),
                     [](const Municipality& a, const Municipality& b) {
                         if (a.province != b.province)
                             return a.province < b.province;
                         return a.name < b.name;
                     });
    std::vector<int> perProvince(4, 0);
    const int provinceCodes[4] = {21, 22, 23, 24};
    for (Municipality& m : region.municipalities)
        m.code = provinceCodes[m.province] * 1000 + ++perProvince[static_cast<std::size_t>(m.province)];

    const char* provinceNames[4] = {"Valdòria", "Carsenta", "Bassafonte", "Marisèla"};
    const char* districtCodes[4] = {"UD", "TG", "PN", "TO"};
    const char* districtNames[4] = {"Ispettorato di Uduèrna", "Ispettorato di Tergàl",
                                    "Ispettorato di Pienàl", "Ispettorato di Torvàn"};
    for (int p = 0; p < 4; ++p) {
        std::vector<const OGRGeometry*> provinceParts;
        std::vector<const OGRGeometry*> districtParts;
        for (std::size_t i = 0; i < seats.size(); ++i) {
            if (provinceOf[i] == p)
                provinceParts.push_back(cells[i].get());
            if (districtOf[i] == p)
                districtParts.push_back(cells[i].get());
        }
        region.provinces.push_back({std::to_string(provinceCodes[p]), provinceNames[p],
                                    UnionOf(provinceParts, *region.land)});
        region.districts.push_back({districtCodes[p], districtNames[p], UnionOf(districtParts, *region.land)});
    }
}

}  // namespace quorvel::sample
