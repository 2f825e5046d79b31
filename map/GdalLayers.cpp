#include "map/GdalLayers.h"

#include "map/ViewTransform.h"
#include "rain/SidecarFiles.h"

#include <cpl_error.h>
#include <cpl_string.h>
#include <ogrsf_frmts.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace quorvel {

namespace {

// The map reports a failed open through the open's result and OpenError();
// GDAL's own printing to stderr would only duplicate it.
class QuietGdalErrors {
public:
    QuietGdalErrors()
    {
        CPLPushErrorHandler(CPLQuietErrorHandler);
        CPLErrorReset();
    }
    ~QuietGdalErrors() { CPLPopErrorHandler(); }
    QuietGdalErrors(const QuietGdalErrors&) = delete;
    QuietGdalErrors& operator=(const QuietGdalErrors&) = delete;
};

constexpr GIntBig kBlockCacheBytes = 64 << 20;

// A raster wider or taller than this without overviews gets them built; a
// smaller one is read whole quickly enough.
constexpr int kOverviewlessSide = 2048;
// Without overviews, a view that needs more source pixels than this many per
// pixel drawn, and more than kSlowReadPixels in all, is not read: it would
// hold the map up for seconds on a large raster.
constexpr double kDirectReadRatio = 16;
constexpr double kSlowReadPixels = 4e6;

bool HasOverviews(GDALDataset& dataset)
{
    return dataset.GetRasterBand(1)->GetOverviewCount() > 0;
}

void RegisterDrivers()
{
    static const bool registered = [] {
        GDALAllRegister();
        // The map reads rasters at screen size, so a small block cache serves
        // it; GDAL's default, a share of the machine's memory, would only grow
        // the program while the user pans around.
        if (!CPLGetConfigOption("GDAL_CACHEMAX", nullptr) && GDALGetCacheMax64() > kBlockCacheBytes)
            GDALSetCacheMax64(kBlockCacheBytes);
        return true;
    }();
    (void)registered;
}

// Why a dataset is not handed to GDAL at all; empty when it may be.
std::string RefusedBeforeOpening(const std::string& name)
{
    const std::string companion = IrregularCompanion(name);
    return companion.empty() ? std::string() : companion + " is not a regular file; the file is not opened";
}

std::string LastGdalMessage(const std::string& name)
{
    const char* msg = CPLGetLastErrorMsg();
    return (msg && *msg) ? std::string(msg) : "impossibile aprire " + name;
}

void AddCurve(const OGRSimpleCurve& curve, std::vector<QPolygonF>& parts)
{
    QPolygonF ring;
    ring.reserve(curve.getNumPoints());
    for (int i = 0; i < curve.getNumPoints(); ++i)
        ring.append(QPointF(curve.getX(i), curve.getY(i)));
    if (!ring.isEmpty())
        parts.push_back(std::move(ring));
}

void AddPolygon(const OGRPolygon& polygon, std::vector<QPolygonF>& parts)
{
    if (const OGRLinearRing* outer = polygon.getExteriorRing())
        AddCurve(*outer, parts);
    for (int i = 0; i < polygon.getNumInteriorRings(); ++i)
        AddCurve(*polygon.getInteriorRing(i), parts);
}

ShapeData ToShape(const OGRGeometry* geometry)
{
    ShapeData shape;
    if (!geometry || geometry->IsEmpty())
        return shape;
    OGREnvelope env;
    geometry->getEnvelope(&env);
    shape.bounds = {env.MinX, env.MaxX, env.MinY, env.MaxY};

    switch (wkbFlatten(geometry->getGeometryType())) {
    case wkbPoint: {
        const auto* p = geometry->toPoint();
        shape.kind = ShapeKind::Point;
        shape.parts.push_back(QPolygonF{QPointF(p->getX(), p->getY())});
        break;
    }
    case wkbMultiPoint: {
        QPolygonF points;
        for (const OGRPoint* p : *geometry->toMultiPoint())
            points.append(QPointF(p->getX(), p->getY()));
        shape.kind = ShapeKind::Point;
        shape.parts.push_back(std::move(points));
        break;
    }
    case wkbLineString:
        shape.kind = ShapeKind::Line;
        AddCurve(*geometry->toLineString(), shape.parts);
        break;
    case wkbMultiLineString:
        shape.kind = ShapeKind::Line;
        for (const OGRLineString* line : *geometry->toMultiLineString())
            AddCurve(*line, shape.parts);
        break;
    case wkbPolygon:
        shape.kind = ShapeKind::Polygon;
        AddPolygon(*geometry->toPolygon(), shape.parts);
        break;
    case wkbMultiPolygon:
        shape.kind = ShapeKind::Polygon;
        for (const OGRPolygon* polygon : *geometry->toMultiPolygon())
            AddPolygon(*polygon, shape.parts);
        break;
    default:
        // Shapefiles hold nothing else; anything exotic keeps its box and draws nothing.
        break;
    }
    return shape;
}

std::string FieldText(const OGRFeature& feature, int field, bool layerIsUtf8)
{
    if (!feature.IsFieldSetAndNotNull(field))
        return {};
    switch (feature.GetFieldDefnRef(field)->GetType()) {
    case OFTInteger:
    case OFTInteger64:
        return std::to_string(feature.GetFieldAsInteger64(field));
    case OFTReal: {
        const double v = feature.GetFieldAsDouble(field);
        char buf[64];
        if (std::isfinite(v) && v == std::floor(v) && std::abs(v) < 1e15)
            std::snprintf(buf, sizeof buf, "%.0f", v);
        else
            std::snprintf(buf, sizeof buf, "%.15g", v);
        return buf;
    }
    default: {
        const char* raw = feature.GetFieldAsString(field);
        // Without a .cpg or code page mark GDAL passes the bytes through; such
        // old files are Latin-1, and bytes that are not UTF-8 are read that way.
        if (layerIsUtf8 || CPLIsUTF8(raw, -1))
            return raw;
        char* recoded = CPLRecode(raw, CPL_ENC_ISO8859_1, CPL_ENC_UTF8);
        std::string text(recoded);
        CPLFree(recoded);
        return text;
    }
    }
}

void Include(MapExtents& total, const MapExtents& box, bool& any)
{
    if (!any) {
        total = box;
        any = true;
        return;
    }
    total.xMin = std::min(total.xMin, box.xMin);
    total.xMax = std::max(total.xMax, box.xMax);
    total.yMin = std::min(total.yMin, box.yMin);
    total.yMax = std::max(total.yMax, box.yMax);
}

}  // namespace

bool GdalShapefileLayer::OpenShapefile(const std::string& name)
{
    *this = GdalShapefileLayer();
    name_ = name;
    openError_ = RefusedBeforeOpening(name);
    if (!openError_.empty())
        return false;
    RegisterDrivers();
    QuietGdalErrors quiet;
    GDALDatasetUniquePtr ds(GDALDataset::Open(name.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY | GDAL_OF_VERBOSE_ERROR));
    OGRLayer* layer = ds && ds->GetLayerCount() > 0 ? ds->GetLayer(0) : nullptr;
    if (!layer) {
        openError_ = LastGdalMessage(name);
        return false;
    }
    fieldCount_ = layer->GetLayerDefn()->GetFieldCount();
    const bool utf8 = layer->TestCapability(OLCStringsAsUTF8);
    const GIntBig count = layer->GetFeatureCount();
    if (count > 0) {
        shapes_.reserve(size_t(count));
        cells_.reserve(size_t(count) * size_t(fieldCount_));
    }
    layer->ResetReading();
    for (const auto& feature : *layer) {
        shapes_.push_back(ToShape(feature->GetGeometryRef()));
        if (shapes_.back().kind != ShapeKind::Empty)
            Include(extents_, shapes_.back().bounds, hasExtents_);
        for (int f = 0; f < fieldCount_; ++f)
            cells_.push_back(FieldText(*feature, f, utf8));
    }
    open_ = true;
    return true;
}

int GdalShapefileLayer::ShapeCount() const
{
    return int(shapes_.size());
}

std::string GdalShapefileLayer::CellValue(int field, int shape) const
{
    if (shape < 0 || shape >= ShapeCount() || field < 0 || field >= fieldCount_)
        return {};
    return cells_[size_t(shape) * size_t(fieldCount_) + size_t(field)];
}

MapExtents GdalShapefileLayer::ShapeExtents(int shape) const
{
    if (shape < 0 || shape >= ShapeCount())
        return {};
    return shapes_[size_t(shape)].bounds;
}

bool GdalShapefileLayer::ShapeContainsPoint(int shape, double x, double y) const
{
    if (shape < 0 || shape >= ShapeCount())
        return false;
    const ShapeData& s = shapes_[size_t(shape)];
    if (s.kind != ShapeKind::Polygon || x < s.bounds.xMin || x > s.bounds.xMax || y < s.bounds.yMin ||
        y > s.bounds.yMax)
        return false;
    // Even-odd over every ring: a point in a hole crosses the outer ring and the hole's.
    bool inside = false;
    for (const QPolygonF& ring : s.parts) {
        const qsizetype n = ring.size();
        for (qsizetype i = 0, j = n - 1; i < n; j = i++) {
            const QPointF& a = ring[i];
            const QPointF& b = ring[j];
            if ((a.y() > y) != (b.y() > y) && x < (b.x() - a.x()) * (y - a.y()) / (b.y() - a.y()) + a.x())
                inside = !inside;
        }
    }
    return inside;
}

bool GdalImageLayer::OpenImage(const std::string& name, int, bool)
{
    *this = GdalImageLayer();
    name_ = name;
    openError_ = RefusedBeforeOpening(name);
    if (!openError_.empty())
        return false;
    RegisterDrivers();
    QuietGdalErrors quiet;
    dataset_.reset(GDALDataset::Open(name.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY | GDAL_OF_VERBOSE_ERROR));
    if (!dataset_ || dataset_->GetRasterCount() == 0) {
        openError_ = dataset_ ? "nessuna banda raster in " + name : LastGdalMessage(name);
        dataset_.reset();
        return false;
    }
    if (dataset_->GetGeoTransform(geo_.data()) != CE_None)
        geo_ = {0, 1, 0, 0, 0, -1};
    const double w = dataset_->GetRasterXSize();
    const double h = dataset_->GetRasterYSize();
    const double x0 = geo_[0], x1 = geo_[0] + w * geo_[1];
    const double y0 = geo_[3], y1 = geo_[3] + h * geo_[5];
    extents_ = {std::min(x0, x1), std::max(x0, x1), std::min(y0, y1), std::max(y0, y1)};

    GDALRasterBand* band = dataset_->GetRasterBand(1);
    int has = 0;
    noData_ = band->GetNoDataValue(&has);
    hasNoData_ = has != 0;
    if (dataset_->GetRasterCount() >= 3) {
        style_ = Style::Rgb;
        hasAlpha_ = dataset_->GetRasterCount() >= 4 &&
                    dataset_->GetRasterBand(4)->GetColorInterpretation() == GCI_AlphaBand;
    } else if (const GDALColorTable* table = band->GetColorTable();
               table && band->GetColorInterpretation() == GCI_PaletteIndex) {
        style_ = Style::Palette;
        for (int i = 0; i < table->GetColorEntryCount(); ++i) {
            const GDALColorEntry* e = table->GetColorEntry(i);
            palette_.push_back(qRgba(e->c1, e->c2, e->c3, e->c4));
        }
        if (hasNoData_ && noData_ >= 0 && noData_ < double(palette_.size()))
            palette_[size_t(noData_)] = 0;
    } else {
        style_ = Style::Grey;
        double mn = 0, mx = 0;
        // Stored statistics cost nothing; otherwise an approximate pass, which GDAL
        // runs on an overview when the file has one.
        if (band->GetStatistics(TRUE, FALSE, &mn, &mx, nullptr, nullptr) != CE_None) {
            double minMax[2] = {0, 255};
            band->ComputeRasterMinMax(TRUE, minMax);
            mn = minMax[0];
            mx = minMax[1];
        }
        greyMin_ = mn;
        greyMax_ = mx;
    }
    return true;
}

bool GdalImageLayer::NeedsOverviews() const
{
    return dataset_ && std::max(dataset_->GetRasterXSize(), dataset_->GetRasterYSize()) > kOverviewlessSide &&
           !HasOverviews(*dataset_);
}

bool GdalImageLayer::AdoptOverviews(const std::string& dataset)
{
    if (!dataset_ || !RefusedBeforeOpening(dataset).empty())
        return false;
    QuietGdalErrors quiet;
    GDALDatasetUniquePtr other(GDALDataset::Open(dataset.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
    if (!other || other->GetRasterXSize() != dataset_->GetRasterXSize() ||
        other->GetRasterYSize() != dataset_->GetRasterYSize() ||
        other->GetRasterCount() != dataset_->GetRasterCount() || !HasOverviews(*other))
        return false;
    dataset_ = std::move(other);
    return true;
}

QImage GdalImageLayer::Render(const ViewTransform& view, double devicePixelRatio, QRectF& target) const
{
    if (!dataset_)
        return {};
    const int rasterW = dataset_->GetRasterXSize();
    const int rasterH = dataset_->GetRasterYSize();
    const MapExtents e = view.Extents();
    const double ca = (e.xMin - geo_[0]) / geo_[1], cb = (e.xMax - geo_[0]) / geo_[1];
    const double ra = (e.yMax - geo_[3]) / geo_[5], rb = (e.yMin - geo_[3]) / geo_[5];
    const double colLo = std::max(0.0, std::min(ca, cb)), colHi = std::min(double(rasterW), std::max(ca, cb));
    const double rowLo = std::max(0.0, std::min(ra, rb)), rowHi = std::min(double(rasterH), std::max(ra, rb));
    if (!(colHi > colLo) || !(rowHi > rowLo))
        return {};

    const int xOff = std::min(rasterW - 1, int(std::floor(colLo)));
    const int yOff = std::min(rasterH - 1, int(std::floor(rowLo)));
    const int xSize = std::clamp(int(std::ceil(colHi)) - xOff, 1, rasterW - xOff);
    const int ySize = std::clamp(int(std::ceil(rowHi)) - yOff, 1, rasterH - yOff);

    auto place = [&](double c0, double r0, double c1, double r1, double& pxLo, double& pyLo, double& pxHi,
                     double& pyHi) {
        view.MapToPixel(geo_[0] + c0 * geo_[1], geo_[3] + r0 * geo_[5], pxLo, pyLo);
        view.MapToPixel(geo_[0] + c1 * geo_[1], geo_[3] + r1 * geo_[5], pxHi, pyHi);
        target = QRectF(QPointF(std::min(pxLo, pxHi), std::min(pyLo, pyHi)),
                        QPointF(std::max(pxLo, pxHi), std::max(pyLo, pyHi)));
    };
    double pxLo, pyLo, pxHi, pyHi;
    place(colLo, rowLo, colHi, rowHi, pxLo, pyLo, pxHi, pyHi);
    int bufW = std::max(1, int(std::lround(target.width() * devicePixelRatio)));
    int bufH = std::max(1, int(std::lround(target.height() * devicePixelRatio)));
    const double sourcePixels = double(xSize) * double(ySize);
    if (sourcePixels > kSlowReadPixels && sourcePixels > kDirectReadRatio * bufW * bufH && !HasOverviews(*dataset_))
        return {};

    GDALRasterIOExtraArg extra;
    INIT_RASTERIO_EXTRA_ARG(extra);
    extra.eResampleAlg = GRIORA_NearestNeighbour;
    if (xSize <= bufW && ySize <= bufH) {
        // Zoomed in past the file's own resolution: read its whole pixels once
        // and let the painter enlarge them smoothly.
        bufW = xSize;
        bufH = ySize;
        place(xOff, yOff, xOff + xSize, yOff + ySize, pxLo, pyLo, pxHi, pyHi);
    } else {
        // Reduced: GDAL picks the overview that matches the screen.
        extra.bFloatingPointWindowValidity = TRUE;
        extra.dfXOff = colLo;
        extra.dfYOff = rowLo;
        extra.dfXSize = colHi - colLo;
        extra.dfYSize = rowHi - rowLo;
    }

    QuietGdalErrors quiet;
    QImage image;
    if (style_ == Style::Rgb) {
        // Straight into Qt's native 32-bit layout, blue green red alpha in memory,
        // so drawing it needs no conversion.
        image = QImage(bufW, bufH, hasAlpha_ ? QImage::Format_ARGB32 : QImage::Format_RGB32);
        image.fill(Qt::black);
        int bands[4] = {3, 2, 1, 4};
        static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "the band order above assumes little-endian pixels");
        if (dataset_->RasterIO(GF_Read, xOff, yOff, xSize, ySize, image.bits(), bufW, bufH, GDT_Byte,
                               hasAlpha_ ? 4 : 3, bands, 4, image.bytesPerLine(), 1, &extra) != CE_None)
            return {};
    } else if (style_ == Style::Palette) {
        std::vector<GInt32> index(size_t(bufW) * size_t(bufH));
        if (dataset_->GetRasterBand(1)->RasterIO(GF_Read, xOff, yOff, xSize, ySize, index.data(), bufW, bufH,
                                                 GDT_Int32, 0, 0, &extra) != CE_None)
            return {};
        image = QImage(bufW, bufH, QImage::Format_ARGB32);
        for (int y = 0; y < bufH; ++y) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            const GInt32* src = index.data() + size_t(y) * size_t(bufW);
            for (int x = 0; x < bufW; ++x)
                line[x] = src[x] >= 0 && size_t(src[x]) < palette_.size() ? palette_[size_t(src[x])] : 0;
        }
    } else {
        std::vector<float> values(size_t(bufW) * size_t(bufH));
        if (dataset_->GetRasterBand(1)->RasterIO(GF_Read, xOff, yOff, xSize, ySize, values.data(), bufW, bufH,
                                                 GDT_Float32, 0, 0, &extra) != CE_None)
            return {};
        image = QImage(bufW, bufH, QImage::Format_ARGB32);
        const float noData = float(noData_);
        const double scale = greyMax_ > greyMin_ ? 255.0 / (greyMax_ - greyMin_) : 0.0;
        for (int y = 0; y < bufH; ++y) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            const float* src = values.data() + size_t(y) * size_t(bufW);
            for (int x = 0; x < bufW; ++x) {
                const float v = src[x];
                if (std::isnan(v) || (hasNoData_ && v == noData)) {
                    line[x] = 0;
                    continue;
                }
                const int g = scale > 0 ? std::clamp(int((v - greyMin_) * scale + 0.5), 0, 255) : 128;
                line[x] = qRgb(g, g, g);
            }
        }
    }
    const bool mirrorH = pxLo > pxHi;
    const bool mirrorV = pyLo > pyHi;
    if (mirrorH || mirrorV)
        image = image.mirrored(mirrorH, mirrorV);
    image.setDevicePixelRatio(devicePixelRatio);
    return image;
}

}  // namespace quorvel
