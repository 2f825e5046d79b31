#include "server/Municipalities.h"

#include <cerrno>
#include <charconv>
#include <memory>
#include <mutex>
#include <optional>

#include <unistd.h>

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include "rain/DataFile.h"
#include "rain/Error.h"
#include "rain/FileDescriptor.h"
#include "rain/SidecarFiles.h"

namespace quorvel::server {

namespace {

constexpr std::size_t kMaxRows = 219;

// 0x80 to 0x9F, the only range where Windows-1252 differs from Latin-1; the
// five undefined bytes stay C1 controls.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

std::string Utf8FromWindows1252(std::string_view bytes)
{
    std::string text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        const char16_t unit = byte >= 0x80 && byte < 0xA0 ? kHighControls[byte - 0x80] : byte;
        if (unit < 0x80) {
            text += char(unit);
        } else if (unit < 0x800) {
            text += char(0xC0 | (unit >> 6));
            text += char(0x80 | (unit & 0x3F));
        } else {
            text += char(0xE0 | (unit >> 12));
            text += char(0x80 | ((unit >> 6) & 0x3F));
            text += char(0x80 | (unit & 0x3F));
        }
    }
    return text;
}

std::string_view Field(std::string_view line, std::size_t first, std::size_t width)
{
    if (first >= line.size())
        return {};
    std::string_view field = line.substr(first, width);
    while (!field.empty() && field.front() == ' ')
        field.remove_prefix(1);
    while (!field.empty() && field.back() == ' ')
        field.remove_suffix(1);
    return field;
}

// 219 short lines: a file much larger is not the table.
constexpr std::size_t kMaxTableSize = std::size_t(1) << 20;

// The envelope of every feature of the shapefile in reading order; nothing
// for a feature without geometry.
std::vector<std::optional<OGREnvelope>> ShapeEnvelopes(const std::string& path)
{
    // Opening a missing file through GDAL says little: the system says more.
    OpenRegularFile(path);
    // GDAL opens the companions (.prj, .dbf, ...) too, and would wait for ever on a FIFO among them.
    if (const std::string companion = IrregularCompanion(path); !companion.empty())
        OpenRegularFile(companion);
    static std::once_flag registered;
    std::call_once(registered, [] { GDALAllRegister(); });
    const GDALDatasetUniquePtr dataset(GDALDataset::Open(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY));
    OGRLayer* layer = dataset && dataset->GetLayerCount() > 0 ? dataset->GetLayer(0) : nullptr;
    if (!layer) {
        const char* why = CPLGetLastErrorMsg();
        const std::string detail = why && *why ? why : "not a shapefile GDAL can read";
        throw Error(ErrorKind::BadFileFormat, path, {detail, detail});
    }
    std::vector<std::optional<OGREnvelope>> envelopes;
    layer->ResetReading();
    for (const auto& feature : *layer) {
        const OGRGeometry* geometry = feature->GetGeometryRef();
        if (!geometry || geometry->IsEmpty()) {
            envelopes.emplace_back();
            continue;
        }
        OGREnvelope envelope;
        geometry->getEnvelope(&envelope);
        envelopes.emplace_back(envelope);
    }
    return envelopes;
}

}  // namespace

std::vector<MunicipalityRow> ParseMunicipalityTable(const std::string& bytes, const std::string& path)
{
    std::vector<MunicipalityRow> rows;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        std::size_t end = bytes.find_first_of("\r\n", pos);
        if (end == std::string::npos)
            end = bytes.size();
        const std::string_view line = std::string_view(bytes).substr(pos, end - pos);
        pos = end + 1;
        if (end < bytes.size() && bytes[end] == '\r' && pos < bytes.size() && bytes[pos] == '\n')
            ++pos;
        if (rows.size() == kMaxRows)
            throw Error(ErrorKind::SubscriptOutOfRange, path,
                        {"more than 219 lines", "più di 219 righe"});
        rows.push_back({std::string(Field(line, 0, 10)), Utf8FromWindows1252(Field(line, 10, 40)),
                        Utf8FromWindows1252(Field(line, 60, 10))});
    }
    return rows;
}

std::vector<Municipality> LoadMunicipalities(const std::string& folder)
{
    const std::string tablePath = folder + kMunicipalityTable;
    const std::string shapesPath = folder + kMunicipalityShapes;
    const std::vector<MunicipalityRow> rows = ParseMunicipalityTable(ReadDataFile(tablePath, kMaxTableSize), tablePath);
    const auto envelopes = ShapeEnvelopes(shapesPath);

    std::vector<Municipality> municipalities;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const MunicipalityRow& row = rows[i];
        if (row.name.empty())
            continue;
        long objectId = 0;
        const char* first = row.objectId.data();
        const char* last = first + row.objectId.size();
        const auto [end, ec] = std::from_chars(first, last, objectId);
        const std::string line = std::to_string(i + 1);
        if (ec != std::errc() || end != last || objectId < 1 || std::size_t(objectId) > envelopes.size() ||
            !envelopes[std::size_t(objectId - 1)])
            throw Error(ErrorKind::BadFileFormat, tablePath,
                        {"line " + line + ": OBJECTID \"" + row.objectId + "\" is not a polygon of " + shapesPath,
                         "riga " + line + ": l'OBJECTID \"" + row.objectId + "\" non è un poligono di " + shapesPath});
        const OGREnvelope& e = *envelopes[std::size_t(objectId - 1)];
        municipalities.push_back({row.name, row.province, e.MinX, e.MaxX, e.MinY, e.MaxY, int(objectId - 1)});
    }
    return municipalities;
}

}  // namespace quorvel::server
