#include "sampledata/Output.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <stdexcept>

#include <cpl_conv.h>
#include <cpl_string.h>
#include <gdal_alg.h>
#include <gdal_priv.h>
#include <ogr_spatialref.h>
#include <ogrsf_frmts.h>

#include "rain/Durations.h"
#include "rain/SampleMark.h"
#include "sampledata/Random.h"

namespace quorvel::sample {

namespace {

[[noreturn]] void Fail(const std::string& what)
{
    throw std::runtime_error(what + ": " + CPLGetLastErrorMsg());
}

std::string Cp1252(const std::string& utf8)
{
    std::string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        unsigned code = c;
        std::size_t length = 1;
        if (c >= 0xC0 && c < 0xE0 && i + 1 < utf8.size()) {
            code = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu);
            length = 2;
        } else if (c >= 0x80) {
            throw std::runtime_error("character outside Windows-1252 in " + utf8);
        }
        if (code >= 0x80 && code < 0xA0)
            throw std::runtime_error("character outside Windows-1252 in " + utf8);
        out += static_cast<char>(code);
        i += length;
    }
    return out;
}

// Smooth fields over the 500 m grid follow the relief at the scale of valleys,
// not of single slopes.
std::vector<double> SmoothedRelief(const Dem& dem, int columns, int rows)
{
    const int factor = static_cast<int>(500 / dem.cell);
    std::vector<double> relief(static_cast<std::size_t>(columns) * rows, 0);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) {
            double sum = 0;
            int n = 0;
            for (int y = r * factor; y < (r + 1) * factor && y < dem.rows; ++y)
                for (int x = c * factor; x < (c + 1) * factor && x < dem.columns; ++x) {
                    sum += std::max(0.0f, dem.At(x, y));
                    ++n;
                }
            relief[static_cast<std::size_t>(r) * columns + c] = n ? sum / n : 0;
        }
    const int radius = 8;
    for (int pass = 0; pass < 3; ++pass) {
        std::vector<double> next(relief.size());
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < columns; ++c) {
                double sum = 0;
                int n = 0;
                for (int y = std::max(0, r - radius); y <= std::min(rows - 1, r + radius); ++y)
                    for (int x = std::max(0, c - radius); x <= std::min(columns - 1, c + radius); ++x) {
                        sum += relief[static_cast<std::size_t>(y) * columns + x];
                        ++n;
                    }
                next[static_cast<std::size_t>(r) * columns + c] = sum / n;
            }
        relief = std::move(next);
    }
    return relief;
}

void WriteGrid(const std::string& base, int columns, int rows, const std::vector<float>& values)
{
    std::ofstream header(base + ".hdr", std::ios::binary);
    char line[64];
    std::snprintf(line, sizeof line, "ncols    %d\r\nnrows    %d\r\ncells    500\r\n", columns, rows);
    header << line;
    std::ofstream raster(base + ".ras", std::ios::binary);
    for (float v : values) {
        std::uint32_t bits;
        static_assert(sizeof bits == sizeof v);
        std::memcpy(&bits, &v, sizeof bits);
        const char bytes[4] = {static_cast<char>(bits), static_cast<char>(bits >> 8), static_cast<char>(bits >> 16),
                               static_cast<char>(bits >> 24)};
        raster.write(bytes, 4);
    }
    if (!header || !raster)
        throw std::runtime_error("cannot write " + base);
}

OGRSpatialReference GaussBoagaEast()
{
    OGRSpatialReference srs;
    srs.importFromEPSG(3004);
    srs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    return srs;
}

struct FieldSpec {
    const char* name;
    OGRFieldType type;
    int width;
    int precision;
};

class ShapefileWriter {
public:
    ShapefileWriter(const std::string& path, OGRwkbGeometryType type, const std::vector<FieldSpec>& fields)
    {
        GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("ESRI Shapefile");
        VSIStatBufL stat;
        if (VSIStatL(path.c_str(), &stat) == 0)
            driver->Delete(path.c_str());
        dataset_.reset(driver->Create(path.c_str(), 0, 0, 0, GDT_Unknown, nullptr));
        if (!dataset_)
            Fail("cannot create " + path);
        OGRSpatialReference srs = GaussBoagaEast();
        // A fixed date in the .dbf header keeps the files identical from run to run.
        const char* options[] = {"ENCODING=UTF-8", "DBF_DATE_LAST_UPDATE=2026-01-01", nullptr};
        layer_ = dataset_->CreateLayer(CPLGetBasename(path.c_str()), &srs, type, const_cast<char**>(options));
        if (!layer_)
            Fail("cannot create layer " + path);
        for (const FieldSpec& f : fields) {
            OGRFieldDefn defn(f.name, f.type);
            defn.SetWidth(f.width);
            defn.SetPrecision(f.precision);
            if (layer_->CreateField(&defn) != OGRERR_NONE)
                Fail("cannot create field " + std::string(f.name));
        }
    }

    OGRFeature* NewFeature() { return OGRFeature::CreateFeature(layer_->GetLayerDefn()); }

    void Add(OGRFeature* feature)
    {
        const OGRErr err = layer_->CreateFeature(feature);
        OGRFeature::DestroyFeature(feature);
        if (err != OGRERR_NONE)
            Fail("cannot write feature");
    }

private:
    GDALDatasetUniquePtr dataset_;
    OGRLayer* layer_ = nullptr;
};

struct Rgb {
    double r, g, b;
};

Rgb Mix(Rgb a, Rgb b, double t) { return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t}; }

Rgb Hypsometric(double h)
{
    struct Stop {
        double h;
        Rgb c;
    };
    static const Stop ramp[] = {{0, {112, 160, 96}},     {80, {140, 182, 110}},  {250, {190, 204, 130}},
                                {600, {214, 200, 140}},  {1100, {190, 160, 110}}, {1600, {160, 128, 95}},
                                {2100, {150, 140, 135}}, {2500, {215, 212, 210}}, {2900, {250, 250, 250}}};
    if (h <= ramp[0].h)
        return ramp[0].c;
    for (std::size_t i = 1; i < std::size(ramp); ++i)
        if (h < ramp[i].h)
            return Mix(ramp[i - 1].c, ramp[i].c, (h - ramp[i - 1].h) / (ramp[i].h - ramp[i - 1].h));
    return std::rbegin(ramp)->c;
}

// Lambertian shading, light from the north-west at 45 degrees, in [0, 1].
double Shade(double dzdx, double dzdy)
{
    const double nx = -dzdx, ny = -dzdy, nz = 1.0;
    const double len = std::sqrt(nx * nx + ny * ny + nz * nz);
    const double lx = -0.5, ly = 0.5, lz = 0.7071;
    return std::clamp((nx * lx + ny * ly + nz * lz) / len, 0.0, 1.0);
}

std::uint8_t Byte(double v) { return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

// Fills rows [first, first + count) of an RGB raster, 3 bytes a pixel, row after row.
using StripFill = std::function<void(int first, int count, std::uint8_t* rgb)>;

// A tiled RGB GeoTIFF written a strip of tile rows at a time, so that a raster
// of any size needs only a strip in memory; empty overviews: none.
void WriteRgbTiff(const std::string& path, int width, int height, const double transform[6], bool jpeg,
                  const std::vector<int>& overviews, const StripFill& fill)
{
    GDALDriver* gtiff = GetGDALDriverManager()->GetDriverByName("GTiff");
    CPLStringList options;
    options.AddString("TILED=YES");
    options.AddString("BLOCKXSIZE=256");
    options.AddString("BLOCKYSIZE=256");
    options.AddString("INTERLEAVE=PIXEL");
    options.AddString("BIGTIFF=IF_SAFER");
    if (jpeg) {
        options.AddString("COMPRESS=JPEG");
        options.AddString("PHOTOMETRIC=YCBCR");
        options.AddString("JPEG_QUALITY=85");
    } else {
        options.AddString("COMPRESS=DEFLATE");
        options.AddString("PREDICTOR=2");
        options.AddString("PHOTOMETRIC=RGB");
    }
    GDALDatasetUniquePtr ds(gtiff->Create(path.c_str(), width, height, 3, GDT_Byte, options.List()));
    if (!ds)
        Fail("cannot create " + path);
    ds->SetGeoTransform(const_cast<double*>(transform));
    OGRSpatialReference srs = GaussBoagaEast();
    ds->SetSpatialRef(&srs);
    constexpr int kStripRows = 512;
    std::vector<std::uint8_t> rgb;
    for (int first = 0; first < height; first += kStripRows) {
        const int count = std::min(kStripRows, height - first);
        rgb.assign(static_cast<std::size_t>(width) * count * 3, 0);
        fill(first, count, rgb.data());
        int bands[3] = {1, 2, 3};
        if (ds->RasterIO(GF_Write, 0, first, width, count, rgb.data(), width, count, GDT_Byte, 3, bands, 3,
                         static_cast<GSpacing>(width) * 3, 1, nullptr) != CE_None)
            Fail("cannot write " + path);
    }
    if (overviews.empty())
        return;
    if (jpeg) {
        CPLSetConfigOption("COMPRESS_OVERVIEW", "JPEG");
        CPLSetConfigOption("PHOTOMETRIC_OVERVIEW", "YCBCR");
        CPLSetConfigOption("JPEG_QUALITY_OVERVIEW", "85");
    }
    const CPLErr built = ds->BuildOverviews("AVERAGE", static_cast<int>(overviews.size()),
                                            const_cast<int*>(overviews.data()), 0, nullptr, nullptr, nullptr);
    for (const char* key : {"COMPRESS_OVERVIEW", "PHOTOMETRIC_OVERVIEW", "JPEG_QUALITY_OVERVIEW"})
        CPLSetConfigOption(key, nullptr);
    if (built != CE_None)
        Fail("cannot build overviews of " + path);
}

// Overview factors 2, 4, 8... until the smallest is under a tile a side.
std::vector<int> OverviewFactors(int width, int height)
{
    std::vector<int> factors;
    for (int f = 2; std::max(width, height) / (f / 2) > 256; f *= 2)
        factors.push_back(f);
    return factors;
}

// The geometries whose boxes come within margin of the box: what a strip
// needs burnt, without handing the rasteriser every town of the region.
std::vector<const OGRGeometry*> Near(const std::vector<const OGRGeometry*>& geometries, const OGREnvelope& box,
                                     double margin)
{
    std::vector<const OGRGeometry*> out;
    for (const OGRGeometry* g : geometries) {
        OGREnvelope e;
        g->getEnvelope(&e);
        if (e.MaxX >= box.MinX - margin && e.MinX <= box.MaxX + margin && e.MaxY >= box.MinY - margin &&
            e.MinY <= box.MaxY + margin)
            out.push_back(g);
    }
    return out;
}

Rgb ReliefColour(double h, double dzdx, double dzdy, bool inRegion)
{
    if (h < 0)
        return Mix({150, 196, 228}, {92, 150, 200}, std::min(1.0, -h / 120));
    const double shade = Shade(dzdx * 2.0, dzdy * 2.0);
    const Rgb tint = Hypsometric(h);
    const double light = 0.55 + 0.75 * (shade - 0.7071) + 0.45;
    const Rgb colour = {tint.r * light, tint.g * light, tint.b * light};
    return inRegion ? colour : Mix(colour, {236, 236, 232}, 0.55);
}

void PutPixel(std::uint8_t* px, const Rgb& colour)
{
    px[0] = Byte(colour.r);
    px[1] = Byte(colour.g);
    px[2] = Byte(colour.b);
}

std::unique_ptr<OGRLineString> LineOf(const Polyline& line)
{
    auto ls = std::make_unique<OGRLineString>();
    for (const Pt& p : line)
        ls->addPoint(p.x, p.y);
    return ls;
}

}  // namespace

std::vector<std::uint8_t> Burn(int width, int height, const double transform[6],
                               const std::vector<const OGRGeometry*>& geometries, bool allTouched)
{
    std::vector<std::uint8_t> mask(static_cast<std::size_t>(width) * height, 0);
    if (geometries.empty())
        return mask;
    GDALDriver* mem = GetGDALDriverManager()->GetDriverByName("MEM");
    GDALDatasetUniquePtr ds(mem->Create("", width, height, 1, GDT_Byte, nullptr));
    ds->SetGeoTransform(const_cast<double*>(transform));
    std::vector<OGRGeometryH> handles;
    std::vector<double> values(geometries.size(), 1.0);
    for (const OGRGeometry* g : geometries)
        handles.push_back(OGRGeometry::ToHandle(const_cast<OGRGeometry*>(g)));
    int band = 1;
    const char* options[] = {allTouched ? "ALL_TOUCHED=TRUE" : "ALL_TOUCHED=FALSE", nullptr};
    if (GDALRasterizeGeometries(ds.get(), 1, &band, static_cast<int>(handles.size()), handles.data(), nullptr,
                                nullptr, values.data(), const_cast<char**>(options), nullptr, nullptr) != CE_None)
        Fail("rasterize");
    if (ds->GetRasterBand(1)->RasterIO(GF_Read, 0, 0, width, height, mask.data(), width, height, GDT_Byte, 0, 0) !=
        CE_None)
        Fail("rasterize");
    return mask;
}

void WriteGrids(const Region& region, const std::string& folder)
{
    const int columns = 361, rows = 260;
    const std::vector<double> relief = SmoothedRelief(region.dem, columns, rows);
    // Cells whose centre lies in the sea hold the no-data value, as real
    // regional grids mark them.
    const double transform[6] = {kWest, 500, 0, kNorth, 0, -500};
    const std::vector<std::uint8_t> sea = Burn(columns, rows, transform, {region.sea.get()});
    constexpr float kNoData = -9999;
    std::vector<float> a1, a2, cv;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) {
            if (sea[static_cast<std::size_t>(r) * columns + c]) {
                a1.push_back(kNoData);
                a2.push_back(kNoData);
                cv.push_back(kNoData);
                continue;
            }
            const double u = c * 0.5, v = (rows - r) * 0.5;  // km from the south-west corner
            const double mountain = SmoothStep(0, 1600, relief[static_cast<std::size_t>(r) * columns + c]);
            const double coast = SmoothStep(40, 0, v) * SmoothStep(60, 150, u);
            a1.push_back(static_cast<float>(
                std::clamp(23.5 + 17.0 * mountain + 3.0 * Fbm(Hash(kSeed, 21), u / 30, v / 30, 3) + 3.0 * coast, 20.5, 44.5)));
            a2.push_back(static_cast<float>(
                std::clamp(0.44 - 0.13 * mountain + 0.035 * Fbm(Hash(kSeed, 22), u / 35, v / 35, 3), 0.26, 0.49)));
            cv.push_back(static_cast<float>(
                std::clamp(0.31 - 0.07 * mountain + 0.08 * coast + 0.05 * Fbm(Hash(kSeed, 23), u / 40, v / 40, 3), 0.21,
                           0.44)));
        }
    WriteGrid(folder + "/grd/param_a1", columns, rows, a1);
    WriteGrid(folder + "/grd/param_a2", columns, rows, a2);
    WriteGrid(folder + "/grd/param_cv", columns, rows, cv);
    // The grids are invented: the mark lets every front end say so.
    std::ofstream(folder + "/" + kSampleMarkFile, std::ios::binary) << SampleMarkText(folder + "/");
}

void WriteTable(const Region& region, const std::string& folder)
{
    std::ofstream out(folder + "/dat/comuniPolyRid.dat", std::ios::binary);
    int objectId = 0;
    for (const Municipality& m : region.municipalities) {
        const std::string name = Cp1252(m.name);
        char line[128];
        std::snprintf(line, sizeof line, "%10d%-40s%10d%10s%10.2f\r\n", ++objectId, name.c_str(), m.code,
                      region.provinces[static_cast<std::size_t>(m.province)].code.c_str(), m.areaKm2);
        out << line;
    }
    if (!out)
        throw std::runtime_error("cannot write the municipality table");
}

void WriteDurationLaw(const std::string& folder)
{
    // The sample template's duration table is h1 * d^a2 from 1 to 24 hours;
    // the law says the same. The sub-hour part is invented.
    std::ofstream out(folder + "/" + kDurationLawFile, std::ios::binary);
    out << "# Linee segnalatrici di possibilita' pluviometrica della regione di esempio\n"
           "# h(d, T) = h1(T) * d^a2, d in ore, h1 altezza di 1 ora e a2 della cella\n"
           "law=power\n"
           "hours_from=1\n"
           "hours_to=24\n"
           "# Sotto l'ora: esponente fisso, INVENTATO per i dati di esempio\n"
           "subhour_exponent=0.5\n"
           "subhour_from_minutes=10\n";
    if (!out)
        throw std::runtime_error("cannot write the depth-duration law");
}

void WriteShapefiles(const Region& region, const std::string& folder)
{
    const std::string shp = folder + "/Shp/";
    {
        ShapefileWriter w(shp + "comuniPoly.shp", wkbPolygon,
                          {{"OBJECTID", OFTInteger, 10, 0}, {"CODICE_COM", OFTInteger, 6, 0},
                           {"DENOMINAZI", OFTString, 40, 0}, {"PROVINCIA", OFTString, 4, 0},
                           {"DISTRETTO", OFTString, 2, 0}, {"AREA_KMQ", OFTReal, 10, 2}});
        int id = 0;
        for (const Municipality& m : region.municipalities) {
            OGRFeature* f = w.NewFeature();
            f->SetField(0, ++id);
            f->SetField(1, m.code);
            f->SetField(2, m.name.c_str());
            f->SetField(3, region.provinces[static_cast<std::size_t>(m.province)].code.c_str());
            f->SetField(4, region.districts[static_cast<std::size_t>(m.district)].code.c_str());
            f->SetField(5, std::round(m.areaKm2 * 100) / 100);
            f->SetGeometry(m.shape.get());
            w.Add(f);
        }
    }
    {
        ShapefileWriter w(shp + "V_PROVINCEpoly.shp", wkbPolygon,
                          {{"COD_PRO", OFTString, 4, 0}, {"NOME_PRO", OFTString, 40, 0}});
        for (const Area& a : region.provinces) {
            OGRFeature* f = w.NewFeature();
            f->SetField(0, a.code.c_str());
            f->SetField(1, ("Provincia di " + a.name).c_str());
            f->SetGeometry(a.shape.get());
            w.Add(f);
        }
    }
    {
        ShapefileWriter w(shp + "V_ISPETTORATI.shp", wkbPolygon, {{"CODICE", OFTString, 2, 0}, {"NOME", OFTString, 40, 0}});
        for (const Area& a : region.districts) {
            OGRFeature* f = w.NewFeature();
            f->SetField(0, a.code.c_str());
            f->SetField(1, a.name.c_str());
            f->SetGeometry(a.shape.get());
            w.Add(f);
        }
    }
    {
        ShapefileWriter w(shp + "toponomasticaComuni.shp", wkbPoint,
                          {{"CODICE_COM", OFTInteger, 6, 0}, {"DENOMINAZI", OFTString, 40, 0}});
        for (const Municipality& m : region.municipalities) {
            OGRFeature* f = w.NewFeature();
            f->SetField(0, m.code);
            f->SetField(1, m.name.c_str());
            OGRPoint p(m.seat.x, m.seat.y);
            f->SetGeometry(&p);
            w.Add(f);
        }
    }
    {
        ShapefileWriter w(shp + "toponomastica25kdep.shp", wkbPoint,
                          {{"NOME", OFTString, 60, 0}, {"TIPO", OFTString, 20, 0}});
        for (const PlaceName& place : region.places) {
            OGRFeature* f = w.NewFeature();
            f->SetField(0, place.name.c_str());
            f->SetField(1, place.kind.c_str());
            OGRPoint p(place.at.x, place.at.y);
            f->SetGeometry(&p);
            w.Add(f);
        }
    }
}

void WriteReliefRaster(const Region& region, const std::string& folder, const RasterDetail& detail)
{
    const Dem& dem = region.dem;
    const std::string path = folder + "/Raster/demTRNSh.ecw";
    if (detail.reliefCell == dem.cell) {
        // The elevation model's own cells, shaded from their neighbours.
        const double transform[6] = {dem.west, dem.cell, 0, dem.north, 0, -dem.cell};
        WriteRgbTiff(path, dem.columns, dem.rows, transform, detail.reliefJpeg, {2, 4, 8, 16},
                     [&](int first, int count, std::uint8_t* rgb) {
                         ParallelRows(count, [&](int a, int b) {
                             for (int r = first + a; r < first + b; ++r)
                                 for (int c = 0; c < dem.columns; ++c) {
                                     const int cl = std::max(0, c - 1), cr = std::min(dem.columns - 1, c + 1);
                                     const int ru = std::max(0, r - 1), rd = std::min(dem.rows - 1, r + 1);
                                     const double dzdx = (std::max(0.0f, dem.At(cr, r)) - std::max(0.0f, dem.At(cl, r))) /
                                                         ((cr - cl) * dem.cell);
                                     const double dzdy = (std::max(0.0f, dem.At(c, ru)) - std::max(0.0f, dem.At(c, rd))) /
                                                         ((rd - ru) * dem.cell);
                                     const bool inside = dem.inRegion[static_cast<std::size_t>(r) * dem.columns + c];
                                     PutPixel(rgb + (static_cast<std::size_t>(r - first) * dem.columns + c) * 3,
                                              ReliefColour(dem.At(c, r), dzdx, dzdy, inside));
                                 }
                         });
                     });
        return;
    }
    // Finer than the model: heights interpolated, shaded from the interpolated
    // neighbours, the land burnt at the raster's own cells.
    const double cell = detail.reliefCell;
    const int width = static_cast<int>(std::lround(dem.columns * dem.cell / cell));
    const int height = static_cast<int>(std::lround(dem.rows * dem.cell / cell));
    const double transform[6] = {dem.west, cell, 0, dem.north, 0, -cell};
    std::vector<float> h;
    WriteRgbTiff(path, width, height, transform, detail.reliefJpeg, OverviewFactors(width, height),
                 [&](int first, int count, std::uint8_t* rgb) {
                     // One row of halo on each side for the slopes.
                     const int top = std::max(0, first - 1), bottom = std::min(height, first + count + 1);
                     const int rows = bottom - top;
                     h.assign(static_cast<std::size_t>(width) * rows, 0);
                     ParallelRows(rows, [&](int a, int b) {
                         for (int r = a; r < b; ++r)
                             for (int c = 0; c < width; ++c)
                                 h[static_cast<std::size_t>(r) * width + c] = static_cast<float>(
                                     dem.Bicubic(dem.west + (c + 0.5) * cell, dem.north - (top + r + 0.5) * cell));
                     });
                     const double stripTransform[6] = {dem.west, cell, 0, dem.north - first * cell, 0, -cell};
                     const auto land = Burn(width, count, stripTransform, {region.land.get()});
                     auto at = [&](int c, int r) {
                         return std::max(0.0f, h[static_cast<std::size_t>(r - top) * width + c]);
                     };
                     ParallelRows(count, [&](int a, int b) {
                         for (int r = first + a; r < first + b; ++r)
                             for (int c = 0; c < width; ++c) {
                                 const int cl = std::max(0, c - 1), cr = std::min(width - 1, c + 1);
                                 const int ru = std::max(top, r - 1), rd = std::min(bottom - 1, r + 1);
                                 const double dzdx = (at(cr, r) - at(cl, r)) / ((cr - cl) * cell);
                                 const double dzdy = (at(c, ru) - at(c, rd)) / ((rd - ru) * cell);
                                 const std::size_t i = static_cast<std::size_t>(r - first) * width + c;
                                 PutPixel(rgb + i * 3, ReliefColour(h[static_cast<std::size_t>(r - top) * width + c],
                                                                    dzdx, dzdy, land[i] != 0));
                             }
                     });
                 });
}

void WriteDistrictRasters(const Region& region, const std::string& folder, const RasterDetail& detail)
{
    const double cell = detail.districtCell;
    // Line features are burnt as narrow polygons so that they keep a width on the map.
    std::vector<std::unique_ptr<OGRGeometry>> riverShapes, roadOuter, roadInner, towns;
    for (const River& river : region.rivers)
        riverShapes.emplace_back(LineOf(river.line)->Buffer(std::max(14.0, river.width / 2), 2));
    for (const Polyline& road : region.roads) {
        auto line = LineOf(road);
        roadOuter.emplace_back(line->Buffer(32, 2));
        roadInner.emplace_back(line->Buffer(12, 2));
    }
    for (std::size_t i = 0; i < region.municipalities.size(); ++i) {
        const Municipality& m = region.municipalities[i];
        const double radius = 350 + 500 * (1 - SmoothStep(100, 1200, region.dem.Bilinear(m.seat.x, m.seat.y)));
        Polyline ring;
        for (int k = 0; k < 24; ++k) {
            const double a = k * 2 * M_PI / 24;
            const double rr = radius * (0.7 + 0.5 * (0.5 + 0.5 * ValueNoise(Hash(kSeed, 1300, i), k * 0.7, 0)));
            ring.push_back({m.seat.x + rr * std::cos(a), m.seat.y + rr * std::sin(a)});
        }
        towns.push_back(MakePolygon(ring));
    }
    for (const PlaceName& place : region.places)
        if (place.kind == "località") {
            OGRPoint p(place.at.x, place.at.y);
            towns.emplace_back(p.Buffer(110 + 60 * (Hash(kSeed, 1400, static_cast<std::uint64_t>(place.at.x)) % 3), 3));
        }
    auto refs = [](const std::vector<std::unique_ptr<OGRGeometry>>& v) {
        std::vector<const OGRGeometry*> out;
        for (const auto& g : v)
            out.push_back(g.get());
        return out;
    };

    const auto rivers = refs(riverShapes), outers = refs(roadOuter), inners = refs(roadInner), townRefs = refs(towns);

    for (const Area& district : region.districts) {
        if (!detail.onlyDistrict.empty() && district.code != detail.onlyDistrict)
            continue;
        OGREnvelope env;
        district.shape->getEnvelope(&env);
        const double west = std::floor((env.MinX - 1000) / 500) * 500;
        const double north = std::ceil((env.MaxY + 1000) / 500) * 500;
        const int width = static_cast<int>(std::ceil((env.MaxX + 1000 - west) / cell));
        const int height = static_cast<int>(std::ceil((north - (env.MinY - 1000)) / cell));
        const double transform[6] = {west, cell, 0, north, 0, -cell};

        std::vector<float> h;
        const auto fill = [&](int first, int count, std::uint8_t* rgb) {
            // One row of halo on each side, for slopes, contours and the shore.
            const int top = std::max(0, first - 1), bottom = std::min(height, first + count + 1);
            const int rows = bottom - top;
            const double stripTransform[6] = {west, cell, 0, north - top * cell, 0, -cell};
            OGREnvelope box;
            box.MinX = west;
            box.MaxX = west + width * cell;
            box.MinY = north - bottom * cell;
            box.MaxY = north - top * cell;
            auto burn = [&](const std::vector<const OGRGeometry*>& all, bool allTouched) {
                return Burn(width, rows, stripTransform, Near(all, box, cell), allTouched);
            };
            const auto sea = burn({region.sea.get()}, false);
            const auto land = burn({region.land.get()}, false);
            const auto water = burn(rivers, true);
            const auto outer = burn(outers, true);
            const auto inner = burn(inners, true);
            const auto town = burn(townRefs, false);

            h.assign(static_cast<std::size_t>(width) * rows, 0);
            ParallelRows(rows, [&](int a, int b) {
                for (int r = a; r < b; ++r)
                    for (int c = 0; c < width; ++c) {
                        const double x = west + (c + 0.5) * cell, y = north - (top + r + 0.5) * cell;
                        double z = region.dem.Bicubic(x, y);
                        z += 14 * SmoothStep(150, 1500, z) * Fbm(Hash(kSeed, 1500), x / 900, y / 900, 3);
                        h[static_cast<std::size_t>(r) * width + c] = static_cast<float>(z);
                    }
            });

            ParallelRows(count, [&](int a, int b) {
                auto level = [](double z) {
                    if (z <= 0)
                        return -1.0;
                    return z < 200 ? std::floor(z / 10) : 20 + std::floor((z - 200) / 50);
                };
                for (int rr = first + a; rr < first + b; ++rr)
                    for (int c = 0; c < width; ++c) {
                        // r counts rows of the strip with its halo, rr of the raster.
                        const int r = rr - top;
                        const std::size_t i = static_cast<std::size_t>(r) * width + c;
                        const double x = west + (c + 0.5) * cell, y = north - (rr + 0.5) * cell;
                        const int cl = std::max(0, c - 1), cr = std::min(width - 1, c + 1);
                        const int ru = std::max(0, r - 1), rd = std::min(rows - 1, r + 1);
                        const double z = h[i];
                        const double zr = h[static_cast<std::size_t>(r) * width + cr];
                        const double zd = h[static_cast<std::size_t>(rd) * width + c];
                        const double dzdx = (zr - h[static_cast<std::size_t>(r) * width + cl]) / ((cr - cl) * cell);
                        const double dzdy = (h[static_cast<std::size_t>(ru) * width + c] - zd) / ((rd - ru) * cell);

                        Rgb colour{250, 247, 238};
                        const double woods = Fbm(Hash(kSeed, 1600), x / 3000, y / 3000, 4);
                        if (z > 2050)
                            colour = {236, 233, 228};
                        else if (z > 180 && woods > -0.15 + 0.5 * SmoothStep(1500, 1900, z))
                            colour = {208, 230, 186};
                        else if (z < 120 && Fbm(Hash(kSeed, 1700), x / 700, y / 700, 2) > 0.25)
                            colour = {244, 240, 214};
                        const double shade = Shade(dzdx * 1.5, dzdy * 1.5);
                        const double light = 1.0 + 0.55 * (shade - 0.7071);
                        colour = {colour.r * light, colour.g * light, colour.b * light};

                        const double lz = level(z);
                        const double lr = level(zr), ld = level(zd);
                        if (lz >= 0 && (lz != lr || lz != ld)) {
                            const double topLevel = std::max({lz, lr, ld});
                            const bool index = topLevel >= 20 ? static_cast<long>(topLevel - 20) % 5 == 0
                                                              : static_cast<long>(topLevel) % 5 == 0;
                            colour = Mix(colour, index ? Rgb{150, 92, 50} : Rgb{190, 135, 88}, index ? 0.95 : 0.75);
                        }
                        if (town[i])
                            colour = Mix(colour, {214, 150, 140}, 0.85);
                        if (outer[i])
                            colour = inner[i] ? Rgb{246, 200, 70} : Rgb{150, 70, 45};
                        if (water[i] && !inner[i])
                            colour = {72, 148, 212};
                        if (sea[i]) {
                            const bool shore = (c > 0 && !sea[i - 1]) || (c + 1 < width && !sea[i + 1]) ||
                                               (rr > 0 && !sea[i - width]) || (rr + 1 < height && !sea[i + width]);
                            colour = shore ? Rgb{60, 130, 196} : Rgb{166, 210, 240};
                        } else if (!land[i]) {
                            colour = Mix(colour, {232, 232, 230}, 0.5);
                        }
                        PutPixel(rgb + (static_cast<std::size_t>(rr - first) * width + c) * 3, colour);
                    }
            });
        };
        WriteRgbTiff(folder + "/Raster/" + district.code + ".tif", width, height, transform, false,
                     detail.districtOverviews ? std::vector<int>{2, 4, 8, 16, 32, 64} : std::vector<int>{}, fill);
    }
}

}  // namespace quorvel::sample
