#include "wms/WmsService.h"

#include "wms/WmsRenderer.h"

#include "wms/FeatureInfo.h"
#include "wms/WmsCrs.h"

#include "maplayers/LayerTable.h"
#include "rain/Error.h"

#include <ogr_spatialref.h>

#include <QBuffer>
#include <QImageWriter>
#include <QPainter>

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>
#include <stdexcept>
#include <thread>

namespace quorvel {

namespace {

constexpr WmsCrs kAllCrs[] = {WmsCrs::GaussBoaga, WmsCrs::Wgs84, WmsCrs::WebMercator};
constexpr const char* kServiceUrlMark = "\x01URL\x01";

std::string Upper(std::string text)
{
    for (char& c : text)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::optional<std::string> Param(const WmsParams& params, const char* name)
{
    for (const auto& [key, value] : params)
        if (Upper(key) == name)
            return value;
    return std::nullopt;
}

std::string XmlEscape(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default:
            // Control characters have no place in XML 1.0, and a client's bytes
            // need not be UTF-8: only plain ASCII is echoed.
            if (static_cast<unsigned char>(c) >= 0x80)
                out += '?';
            else if (static_cast<unsigned char>(c) >= 0x20 || c == '\t' || c == '\n')
                out += c;
        }
    }
    return out;
}

WmsResponse Exception(const char* code, const std::string& text)
{
    std::string body = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                       "<ServiceExceptionReport version=\"1.3.0\" xmlns=\"http://www.opengis.net/ogc\" "
                       "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
                       "xsi:schemaLocation=\"http://www.opengis.net/ogc "
                       "http://schemas.opengis.net/wms/1.3.0/exceptions_1_3_0.xsd\">\n";
    body += "  <ServiceException";
    if (code && *code)
        body += std::string(" code=\"") + code + "\"";
    body += ">" + XmlEscape(text) + "</ServiceException>\n</ServiceExceptionReport>\n";
    return {400, "text/xml; charset=utf-8", std::move(body)};
}

bool ParseInt(const std::string& text, int& value)
{
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end;
}

// minSide: the smallest side that still makes a map, in the CRS's units.
bool ParseBox(const std::string& text, MapExtents& box, double minSide)
{
    double v[4];
    const char* p = text.data();
    const char* end = p + text.size();
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            if (p == end || *p != ',')
                return false;
            ++p;
        }
        const auto [ptr, ec] = std::from_chars(p, end, v[i]);
        // Far beyond any map of the region: a box this large or small means a mistake.
        if (ec != std::errc() || !std::isfinite(v[i]) || std::abs(v[i]) > 1e9)
            return false;
        p = ptr;
    }
    box = {v[0], v[2], v[1], v[3]};
    return p == end && box.xMax - box.xMin >= minSide && box.yMax - box.yMin >= minSide;
}

bool ParseColour(std::string text, QColor& colour)
{
    text = Upper(text);
    if (text.size() != 8 || text.compare(0, 2, "0X") != 0)
        return false;
    unsigned rgb = 0;
    const auto [ptr, ec] = std::from_chars(text.data() + 2, text.data() + 8, rgb, 16);
    if (ec != std::errc() || ptr != text.data() + 8)
        return false;
    colour = QColor::fromRgb(QRgb(rgb));
    return true;
}

std::vector<std::string> Split(const std::string& text)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        parts.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos)
            return parts;
        start = comma + 1;
    }
}

std::string Number(double value)
{
    char text[400];
    return std::string(text, std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 6).ptr);
}

std::string CrsList()
{
    std::string xml;
    for (const WmsCrs crs : kAllCrs)
        xml += std::string("<CRS>") + WmsCrsName(crs) + "</CRS>";
    return xml;
}

std::string InfoFormats()
{
    std::string xml;
    for (const char* format : kFeatureInfoFormats)
        xml += std::string("<Format>") + format + "</Format>";
    return xml;
}

// The layers whose data answer GetFeatureInfo: the rainfall under the map,
// and the municipalities.
bool IsQueryable(int handle)
{
    return handle == WmsRenderer::kDesktopView || handle == kMunicipalityLayer;
}

// The box in another system, from the corners and the middles of its sides.
bool Converted(WmsCrs crs, const MapExtents& box, MapExtents& out)
{
    const double mx = (box.xMin + box.xMax) / 2, my = (box.yMin + box.yMax) / 2;
    std::vector<double> x = {box.xMin, mx, box.xMax, box.xMax, box.xMax, mx, box.xMin, box.xMin};
    std::vector<double> y = {box.yMin, box.yMin, box.yMin, my, box.yMax, box.yMax, box.yMax, my};
    FromGaussBoaga(crs, x, y);
    if (std::any_of(x.begin(), x.end(), [](double v) { return std::isnan(v); }))
        return false;
    out = {*std::min_element(x.begin(), x.end()), *std::max_element(x.begin(), x.end()),
           *std::min_element(y.begin(), y.end()), *std::max_element(y.begin(), y.end())};
    return true;
}

std::string BoundingBoxes(const MapExtents& box)
{
    std::string xml;
    if (MapExtents lonLat; Converted(WmsCrs::Wgs84, box, lonLat))
        xml += "<EX_GeographicBoundingBox><westBoundLongitude>" + Number(lonLat.xMin) +
               "</westBoundLongitude><eastBoundLongitude>" + Number(lonLat.xMax) +
               "</eastBoundLongitude><southBoundLatitude>" + Number(lonLat.yMin) +
               "</southBoundLatitude><northBoundLatitude>" + Number(lonLat.yMax) +
               "</northBoundLatitude></EX_GeographicBoundingBox>";
    for (const WmsCrs crs : kAllCrs) {
        MapExtents in = box;
        if (crs != WmsCrs::GaussBoaga && !Converted(crs, box, in))
            continue;
        // EPSG:4326 lists latitude first in WMS 1.3.0.
        const MapExtents given = AxisOrdered(crs, in);
        xml += std::string("<BoundingBox CRS=\"") + WmsCrsName(crs) + "\" minx=\"" + Number(given.xMin) +
               "\" miny=\"" + Number(given.yMin) + "\" maxx=\"" + Number(given.xMax) + "\" maxy=\"" +
               Number(given.yMax) + "\"/>";
    }
    return xml;
}

std::string Capabilities(WmsRenderer& renderer, const RainfallLayers::Classes* classes)
{
    MapExtents all{0, 1, 0, 1};
    renderer.Extents(WmsRenderer::kDesktopView, all);
    const std::string url = kServiceUrlMark;
    const std::string online = "<OnlineResource xmlns:xlink=\"http://www.w3.org/1999/xlink\" xlink:type=\"simple\" "
                               "xlink:href=\"" + url + "\"/>";
    const std::string dcp = "<DCPType><HTTP><Get>" + online + "</Get></HTTP></DCPType>";
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<WMS_Capabilities version=\"1.3.0\" xmlns=\"http://www.opengis.net/wms\" "
        "xmlns:xlink=\"http://www.w3.org/1999/xlink\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
        "xsi:schemaLocation=\"http://www.opengis.net/wms "
        "http://schemas.opengis.net/wms/1.3.0/capabilities_1_3_0.xsd\">\n"
        "<Service><Name>WMS</Name><Title>Quorvel</Title>"
        "<Abstract>La cartografia di Quorvel: rilievo, confini, toponimi e raster dei distretti.</Abstract>" +
        online + "<Fees>none</Fees><AccessConstraints>none</AccessConstraints>"
                 "<LayerLimit>" + std::to_string(WmsService::LayerNames().size()) + "</LayerLimit>"
                 "<MaxWidth>" + std::to_string(WmsService::kMaxSide) + "</MaxWidth>"
                 "<MaxHeight>" + std::to_string(WmsService::kMaxSide) + "</MaxHeight></Service>\n"
        "<Capability><Request>"
        "<GetCapabilities><Format>text/xml</Format>" + dcp + "</GetCapabilities>"
        "<GetMap><Format>image/png</Format><Format>image/jpeg</Format>" + dcp + "</GetMap>"
        "<GetFeatureInfo>" + InfoFormats() + dcp + "</GetFeatureInfo>"
        "</Request><Exception><Format>XML</Format></Exception>\n"
        "<Layer><Title>Quorvel</Title>" + CrsList() + BoundingBoxes(all) + "\n";
    for (const WmsRenderer::Layer& layer : WmsRenderer::Layers()) {
        MapExtents box = all;
        renderer.Extents(layer.handle, box);
        const bool opaque = layer.handle == WmsRenderer::kDesktopView || layer.handle == kElevationLayer;
        xml += std::string("<Layer queryable=\"") + (IsQueryable(layer.handle) ? "1" : "0") + "\" opaque=\"" +
               (opaque ? "1" : "0") + "\"><Name>" + layer.name + "</Name><Title>" + XmlEscape(layer.title) +
               "</Title>" + BoundingBoxes(box) + "</Layer>\n";
    }
    if (classes) {
        const MapExtents grid{double(kGridWestEdge), double(kGridWestEdge) + double(classes->maps.columns) * kGridCellSize,
                              kGridNorthEdge - double(classes->maps.rows) * kGridCellSize, kGridNorthEdge};
        for (const RainfallLayers::Layer& layer : RainfallLayers::Layers()) {
            const QImage legend = RainfallLayers::Legend(*classes, layer);
            xml += std::string("<Layer queryable=\"1\" opaque=\"1\"><Name>") + layer.name + "</Name><Title>" +
                   XmlEscape(layer.title) + "</Title>" + BoundingBoxes(grid) +
                   "<Style><Name>default</Name><Title>Classi fisse</Title><LegendURL width=\"" +
                   std::to_string(legend.width()) + "\" height=\"" + std::to_string(legend.height()) +
                   "\"><Format>image/png</Format><OnlineResource xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
                   "xlink:type=\"simple\" xlink:href=\"" + url +
                   "SERVICE=WMS&amp;VERSION=1.3.0&amp;REQUEST=GetLegendGraphic&amp;FORMAT=image/png&amp;LAYER=" +
                   layer.name + "\"/></LegendURL></Style></Layer>\n";
        }
    }
    xml += "</Layer></Capability></WMS_Capabilities>\n";
    return xml;
}

// The relief is shaded like a photograph: as JPEG a full view weighs a
// fifth of its PNG, which is what a browser on a slow link waits for. On a
// screen of two or more pixels to a point (a phone) each 8 x 8 block is a
// few points wide, too small to show the coarser quality that makes the
// picture a third lighter.
std::string Jpeg(const QImage& picture, bool denseScreen)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(denseScreen ? 70 : 85);
    writer.setOptimizedWrite(true);
    if (!writer.write(picture.convertToFormat(QImage::Format_RGB32)))
        throw std::runtime_error("cannot write the JPEG");
    return bytes.toStdString();
}

void Append(png_structp png, png_bytep data, png_size_t length)
{
    static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), length);
}

// The picture as PNG, written for speed: one cheap filter and zlib's fastest
// run-length strategy, since the relief's smooth shading compresses well
// after the filter alone. Qt's writer spends most of a request on this.
// Opaque pictures are written as RGB straight from Qt's 32-bit pixels,
// whatever their alpha bytes say.
std::string Png(const QImage& picture, bool alpha)
{
    const QImage image = picture.format() == QImage::Format_ARGB32 ||
                                 (!alpha && (picture.format() == QImage::Format_RGB32 ||
                                             picture.format() == QImage::Format_ARGB32_Premultiplied))
                             ? picture
                             : picture.convertToFormat(alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    std::string out;
    out.reserve(std::size_t(image.width()) * std::size_t(image.height()) * 2);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        throw std::runtime_error("cannot write the PNG");
    }
    png_set_write_fn(png, &out, Append, nullptr);
    png_set_IHDR(png, info, png_uint_32(image.width()), png_uint_32(image.height()), 8,
                 alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
    png_set_compression_level(png, 1);
    png_set_compression_strategy(png, Z_RLE);
    png_write_info(png, info);
    // Qt's 32-bit pixels lie blue, green, red, alpha (or unused) in memory.
    static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "the byte order above assumes little-endian pixels");
    png_set_bgr(png);
    if (!alpha)
        png_set_filler(png, 0, PNG_FILLER_AFTER);
    for (int y = 0; y < image.height(); ++y)
        png_write_row(png, image.constScanLine(y));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

WmsResponse Busy(std::string english, std::string italian)
{
    WmsResponse busy{503, "application/json", {}};
    busy.english = std::move(english);
    busy.italian = std::move(italian);
    busy.retryAfter = 1;
    return busy;
}

}  // namespace

WmsService::WmsService(std::string folder, WmsServiceOptions options)
    : folder_(std::move(folder)), maxRenderers_(std::max(2u, std::thread::hardware_concurrency())),
      options_(std::move(options)), rainfall_(std::make_unique<RainfallLayers>(folder_))
{
    auto renderer = std::make_unique<WmsRenderer>(folder_);
    renderer->AdoptOverviews(options_.overviews);
    // Grids that cannot be read leave the map without its rainfall layers.
    std::shared_ptr<const RainfallLayers::Classes> classes;
    try {
        classes = rainfall_->Current();
    } catch (const Error&) {
    }
    capabilities_ = Capabilities(*renderer, classes.get());
    idle_.push_back(std::move(renderer));
    made_ = 1;
}

WmsService::~WmsService() = default;

std::vector<std::string> WmsService::LayerNames()
{
    std::vector<std::string> names;
    for (const WmsRenderer::Layer& layer : WmsRenderer::Layers())
        names.emplace_back(layer.name);
    for (const RainfallLayers::Layer& layer : RainfallLayers::Layers())
        names.emplace_back(layer.name);
    return names;
}

std::unique_ptr<WmsRenderer> WmsService::Borrow()
{
    const LayerFileStamps stamps = StampLayerFiles(folder_);
    std::vector<std::unique_ptr<WmsRenderer>> stale;
    std::unique_lock lock(mutex_);
    const auto free = [this] { return !idle_.empty() || made_ < maxRenderers_; };
    if (!free()) {
        if (waiting_ >= options_.limits.waiting)
            return nullptr;
        ++waiting_;
        const bool came = returned_.wait_for(lock, options_.limits.maxWait, free);
        --waiting_;
        if (!came)
            return nullptr;
    }
    // Renderers of files since replaced go; they are closed outside the lock.
    for (auto it = idle_.begin(); it != idle_.end();) {
        if ((*it)->Stamps() == stamps) {
            ++it;
            continue;
        }
        stale.push_back(std::move(*it));
        it = idle_.erase(it);
        --made_;
    }
    if (!idle_.empty()) {
        auto renderer = std::move(idle_.back());
        idle_.pop_back();
        lock.unlock();
        renderer->AdoptOverviews(options_.overviews);
        return renderer;
    }
    ++made_;
    lock.unlock();
    stale.clear();
    try {
        auto renderer = std::make_unique<WmsRenderer>(folder_);
        renderer->AdoptOverviews(options_.overviews);
        return renderer;
    } catch (...) {
        lock.lock();
        --made_;
        returned_.notify_one();
        throw;
    }
}

void WmsService::GiveBack(std::unique_ptr<WmsRenderer> renderer)
{
    // One whose files have changed since is dropped by the next Borrow.
    const bool keep = renderer->Unopened().empty();
    if (!keep)
        renderer.reset();
    {
        std::lock_guard lock(mutex_);
        if (keep)
            idle_.push_back(std::move(renderer));
        else
            --made_;
    }
    returned_.notify_one();
}

WmsResponse WmsService::Handle(const WmsParams& params, const std::string& serviceUrl)
{
    const auto service = Param(params, "SERVICE");
    if (!service)
        return Exception("MissingParameterValue", "SERVICE is missing");
    if (Upper(*service) != "WMS")
        return Exception("InvalidParameterValue", "SERVICE must be WMS");
    const auto request = Param(params, "REQUEST");
    if (!request)
        return Exception("MissingParameterValue", "REQUEST is missing");
    if (Upper(*request) == "GETCAPABILITIES") {
        // Whatever version was asked for, 1.3.0 is the one there is.
        std::string xml = capabilities_;
        const std::string url = XmlEscape(serviceUrl + "?");
        for (std::size_t at = xml.find(kServiceUrlMark); at != std::string::npos; at = xml.find(kServiceUrlMark, at))
            xml.replace(at, std::char_traits<char>::length(kServiceUrlMark), url);
        return {200, "text/xml; charset=utf-8", std::move(xml)};
    }
    if (Upper(*request) == "GETMAP")
        return GetMap(params);
    if (Upper(*request) == "GETFEATUREINFO")
        return GetFeatureInfo(params);
    if (Upper(*request) == "GETLEGENDGRAPHIC")
        return GetLegendGraphic(params);
    return Exception("OperationNotSupported",
                     "REQUEST must be GetCapabilities, GetMap, GetFeatureInfo or GetLegendGraphic");
}

namespace {

// The part of a GetMap request that GetFeatureInfo repeats: the map asked
// for, or the exception that refuses it.
struct MapRequest {
    std::vector<std::string> layers;
    WmsCrs crs = WmsCrs::GaussBoaga;
    MapExtents box;  // in crs, x east or longitude
    int width = 0, height = 0;
};

std::optional<WmsResponse> ReadMapRequest(const WmsParams& params, MapRequest& map)
{
    for (const char* name : {"VERSION", "LAYERS", "CRS", "BBOX", "WIDTH", "HEIGHT"})
        if (!Param(params, name))
            return Exception("MissingParameterValue", std::string(name) + " is missing");
    if (*Param(params, "VERSION") != "1.3.0")
        return Exception("InvalidParameterValue", "VERSION must be 1.3.0");
    const auto crs = WmsCrsFromName(*Param(params, "CRS"));
    if (!crs)
        return Exception("InvalidCRS", "CRS must be EPSG:3004, EPSG:4326 or EPSG:3857");
    map.crs = *crs;
    map.layers = Split(*Param(params, "LAYERS"));
    if (map.layers.size() > WmsService::LayerNames().size())
        return Exception("InvalidParameterValue", "too many layers");
    if (const auto styles = Param(params, "STYLES"); styles && !styles->empty()) {
        const std::vector<std::string> names = Split(*styles);
        if (names.size() != map.layers.size())
            return Exception("InvalidParameterValue", "STYLES must name one style for each layer");
        for (const std::string& style : names)
            if (!style.empty() && style != "default")
                return Exception("StyleNotDefined", "no style named " + style.substr(0, 100));
    }
    MapExtents given;
    // A millimetre, or in degrees about as much.
    if (!ParseBox(*Param(params, "BBOX"), given, map.crs == WmsCrs::Wgs84 ? 1e-8 : 1e-3))
        return Exception("InvalidParameterValue", "BBOX must be minx,miny,maxx,maxy in the CRS's axis order, min below max");
    map.box = AxisOrdered(map.crs, given);
    if (!ParseInt(*Param(params, "WIDTH"), map.width) || !ParseInt(*Param(params, "HEIGHT"), map.height) ||
        map.width < 1 || map.height < 1 || map.width > WmsService::kMaxSide || map.height > WmsService::kMaxSide)
        return Exception("InvalidParameterValue",
                         "WIDTH and HEIGHT must be whole numbers from 1 to " + std::to_string(WmsService::kMaxSide));
    return std::nullopt;
}

}  // namespace

QImage WmsService::Picture(WmsRenderer& renderer, const std::vector<LayerRef>& layers, const MapExtents& box,
                           int width, int height, const QColor& background)
{
    std::shared_ptr<const RainfallLayers::Classes> classes;
    if (std::any_of(layers.begin(), layers.end(), [](const LayerRef& l) { return l.rainfall != nullptr; }))
        classes = rainfall_->Current();
    if (!classes) {
        std::vector<int> handles;
        for (const LayerRef& layer : layers)
            handles.push_back(layer.handle);
        return renderer.Draw(box, width, height, handles, background);
    }
    // In the order asked: the renderer's layers in runs, each rainfall map
    // as its colours over the relief.
    QImage picture(width, height, QImage::Format_ARGB32_Premultiplied);
    if (picture.isNull())
        return picture;
    picture.fill(background);
    QPainter painter(&picture);
    std::vector<int> run;
    const auto flush = [&] {
        if (!run.empty())
            painter.drawImage(0, 0, renderer.Draw(box, width, height, run, Qt::transparent));
        run.clear();
    };
    for (const LayerRef& layer : layers) {
        if (!layer.rainfall) {
            run.push_back(layer.handle);
            continue;
        }
        run.push_back(kElevationLayer);
        flush();
        painter.drawImage(0, 0, RainfallLayers::Colours(*classes, layer.rainfall->map, box, width, height));
    }
    flush();
    return picture;
}

WmsResponse WmsService::GetMap(const WmsParams& params)
{
    MapRequest map;
    if (auto refused = ReadMapRequest(params, map))
        return *refused;
    const auto format = Param(params, "FORMAT");
    if (!format)
        return Exception("MissingParameterValue", "FORMAT is missing");
    if (*format != "image/png" && *format != "image/jpeg")
        return Exception("InvalidFormat", "FORMAT must be image/png or image/jpeg");

    std::vector<LayerRef> layers;
    for (const std::string& name : map.layers) {
        const auto& all = WmsRenderer::Layers();
        const auto found =
            std::find_if(all.begin(), all.end(), [&](const WmsRenderer::Layer& l) { return name == l.name; });
        if (found != all.end())
            layers.push_back({found->handle, nullptr});
        else if (const RainfallLayers::Layer* rainfall = RainfallLayers::Find(name))
            layers.push_back({kElevationLayer, rainfall});
        else
            return Exception("LayerNotDefined", "no layer named " + name.substr(0, 100));
    }
    bool transparent = false;
    if (const auto value = Param(params, "TRANSPARENT")) {
        if (Upper(*value) != "TRUE" && Upper(*value) != "FALSE")
            return Exception("InvalidParameterValue", "TRANSPARENT must be TRUE or FALSE");
        transparent = Upper(*value) == "TRUE";
    }
    // The screen's dots per inch as map clients send them, 90 to a pixel per point.
    bool denseScreen = false;
    if (const auto value = Param(params, "DPI")) {
        double dpi = 0;
        const char* end = value->data() + value->size();
        const auto [ptr, ec] = std::from_chars(value->data(), end, dpi);
        if (ec != std::errc() || ptr != end || !(dpi > 0))
            return Exception("InvalidParameterValue", "DPI must be a positive number");
        denseScreen = dpi >= 180;
    }
    QColor background = Qt::white;
    if (const auto value = Param(params, "BGCOLOR"); value && !ParseColour(*value, background))
        return Exception("InvalidParameterValue", "BGCOLOR must be 0xRRGGBB");
    if (transparent)
        background = Qt::transparent;

    if (static_cast<long long>(map.width) * map.height > options_.limits.maxPixels)
        return Exception("InvalidParameterValue",
                         "WIDTH x HEIGHT must be at most " + std::to_string(options_.limits.maxPixels) + " pixels");
    std::unique_ptr<WmsRenderer> renderer = Borrow();
    if (!renderer)
        return Busy("too many maps are being drawn", "si stanno disegnando troppe mappe");
    // The renderer is held until the picture is encoded, so no more pictures
    // are in memory at once than there are renderers.
    WmsResponse answer;
    try {
        QImage picture;
        if (map.crs == WmsCrs::GaussBoaga) {
            picture = Picture(*renderer, layers, map.box, map.width, map.height, background);
        } else {
            picture = QImage(map.width, map.height, QImage::Format_ARGB32_Premultiplied);
            if (!picture.isNull()) {
                picture.fill(background);
                QPainter painter(&picture);
                painter.drawImage(0, 0, Reprojected(map.crs, map.box, map.width, map.height,
                                                    [&](const MapExtents& box, int width, int height) {
                                                        return Picture(*renderer, layers, box, width, height,
                                                                       background);
                                                    },
                                                    kMaxSide));
            }
        }
        // Drawing may have opened the district's raster: checked after it.
        if (picture.isNull())
            answer = Busy("no memory for the picture now", "ora non c'è memoria per l'immagine");
        else if (const std::string unopened = renderer->Unopened(); !unopened.empty())
            answer = Busy("the map file " + unopened + " could not be opened",
                          "il file della mappa " + unopened + " non si è potuto aprire");
        else if (*format == "image/jpeg")
            answer = {200, "image/jpeg", Jpeg(picture, denseScreen)};
        else
            answer = {200, "image/png", Png(picture, transparent)};
    } catch (...) {
        GiveBack(std::move(renderer));
        throw;
    }
    GiveBack(std::move(renderer));
    return answer;
}

WmsResponse WmsService::GetFeatureInfo(const WmsParams& params)
{
    MapRequest map;
    if (auto refused = ReadMapRequest(params, map))
        return *refused;
    for (const char* name : {"QUERY_LAYERS", "I", "J"})
        if (!Param(params, name))
            return Exception("MissingParameterValue", std::string(name) + " is missing");
    std::string format = "text/plain";
    if (const auto asked = Param(params, "INFO_FORMAT"))
        format = *asked;
    if (std::find(std::begin(kFeatureInfoFormats), std::end(kFeatureInfoFormats), format) ==
        std::end(kFeatureInfoFormats))
        return Exception("InvalidFormat", "INFO_FORMAT must be text/plain, text/html or application/json");
    int i = 0, j = 0;
    if (!ParseInt(*Param(params, "I"), i) || !ParseInt(*Param(params, "J"), j) || i < 0 || j < 0 ||
        i >= map.width || j >= map.height)
        return Exception("InvalidPoint", "I and J must be a pixel of the map, from 0 to WIDTH - 1 and HEIGHT - 1");

    // The pixel's centre, in Gauss-Boaga.
    std::vector<double> x = {map.box.xMin + (i + 0.5) * (map.box.xMax - map.box.xMin) / map.width};
    std::vector<double> y = {map.box.yMax - (j + 0.5) * (map.box.yMax - map.box.yMin) / map.height};
    ToGaussBoaga(map.crs, x, y);
    const bool converted = !std::isnan(x[0]) && std::abs(x[0]) < 1e9 && std::abs(y[0]) < 1e9;
    const GaussBoagaPoint point{float(x[0]), float(y[0])};

    std::vector<LayerInfo> answers;
    for (const std::string& name : Split(*Param(params, "QUERY_LAYERS"))) {
        if (std::find(map.layers.begin(), map.layers.end(), name) == map.layers.end())
            return Exception("LayerNotDefined", "QUERY_LAYERS names " + name.substr(0, 100) + ", which LAYERS does not");
        const auto& all = WmsRenderer::Layers();
        const auto found =
            std::find_if(all.begin(), all.end(), [&](const WmsRenderer::Layer& l) { return name == l.name; });
        const bool rainfall = RainfallLayers::Find(name) || (found != all.end() && found->handle == WmsRenderer::kDesktopView);
        if (!rainfall && (found == all.end() || !IsQueryable(found->handle)))
            return Exception("LayerNotQueryable", "the layer " + name.substr(0, 100) + " answers no GetFeatureInfo");
        LayerInfo info;
        info.layer = name;
        info.point = point;
        if (rainfall && converted) {
            try {
                info.rain = ComputePointRain(point, *rainfall_->Grids());
            } catch (const Error& error) {
                // A point outside the grids or in a cell without an answer has
                // no data; grids that cannot be read are the service's failure.
                if (error.kind() != ErrorKind::NoValidData && error.kind() != ErrorKind::NoValidRainfall &&
                    error.kind() != ErrorKind::SubscriptOutOfRange && error.kind() != ErrorKind::Overflow)
                    throw;
            }
        } else if (!rainfall) {
            info.municipalityLayer = true;
            if (converted && options_.municipality) {
                std::unique_ptr<WmsRenderer> renderer = Borrow();
                if (!renderer)
                    return Busy("too many maps are being drawn", "si stanno disegnando troppe mappe");
                int polygon;
                try {
                    polygon = renderer->MunicipalityAt(x[0], y[0]);
                } catch (...) {
                    GiveBack(std::move(renderer));
                    throw;
                }
                GiveBack(std::move(renderer));
                if (polygon >= 0)
                    std::tie(info.municipality, info.province) = options_.municipality(polygon);
            }
        }
        answers.push_back(std::move(info));
    }
    if (format == "text/html")
        return {200, "text/html; charset=utf-8", FeatureInfoHtml(answers)};
    if (format == "application/json")
        return {200, "application/json", FeatureInfoJson(answers)};
    return {200, "text/plain; charset=utf-8", FeatureInfoText(answers)};
}

WmsResponse WmsService::GetLegendGraphic(const WmsParams& params)
{
    const auto name = Param(params, "LAYER");
    if (!name)
        return Exception("MissingParameterValue", "LAYER is missing");
    const RainfallLayers::Layer* layer = RainfallLayers::Find(*name);
    if (!layer)
        return Exception("LayerNotDefined", "no legend for a layer named " + name->substr(0, 100));
    if (const auto format = Param(params, "FORMAT"); format && *format != "image/png")
        return Exception("InvalidFormat", "FORMAT must be image/png");
    return {200, "image/png", Png(RainfallLayers::Legend(*rainfall_->Current(), *layer), false)};
}

}  // namespace quorvel
