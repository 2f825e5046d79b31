#include "batch/Check.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <optional>
#include <string_view>

#include <unistd.h>

#include <cpl_error.h>
#include <gdal_priv.h>
#include <ogr_spatialref.h>
#include <ogrsf_frmts.h>

#include "rain/Durations.h"
#include "rain/DataFile.h"
#include "rain/Error.h"
#include "rain/FileDescriptor.h"
#include "rain/Grid.h"
#include "rain/PointRain.h"
#include "rain/SidecarFiles.h"
#include "rain/SampleMark.h"
#include "report/DurationTable.h"
#include "report/Report.h"
#include "report/Workbook.h"

namespace quorvel::batch {

namespace {

namespace fs = std::filesystem;
using Level = Finding::Level;

constexpr int kTableRows = 219;
constexpr std::size_t kTableMinimumWidth = 70;  // the four fields read by position
constexpr std::size_t kMaxTableSize = std::size_t(1) << 20;
const char* const kShapefiles[] = {"Shp/comuniPoly.shp", "Shp/V_PROVINCEpoly.shp", "Shp/toponomasticaComuni.shp",
                                   "Shp/toponomastica25kdep.shp", "Shp/V_ISPETTORATI.shp"};
const char* const kDistrictRasters[] = {"Raster/UD.tif", "Raster/TG.tif", "Raster/PN.tif", "Raster/TO.tif"};
const char* const kRelief = "Raster/demTRNSh.ecw";
const char* const kReliefStandIn = "Raster/demTRNSh.tif";
const char* const kTable = "dat/comuniPolyRid.dat";
const char* const kDataFolders[] = {"grd", "dat", "Shp", "Raster", "programs"};

struct GridFiles {
    const char* name;
    const char* header;
    const char* raster;
    // Values a point run cannot use: no data in this grid.
    bool (*noData)(float);
};
const GridFiles kGrids[] = {
    {"a2", "grd/param_a2.hdr", "grd/param_a2.ras", [](float v) { return !std::isfinite(v) || v <= 0; }},
    {"a1", "grd/param_a1.hdr", "grd/param_a1.ras", [](float v) { return !std::isfinite(v) || v <= 0; }},
    {"cv", "grd/param_cv.hdr", "grd/param_cv.ras", [](float v) { return !std::isfinite(v) || v < 0; }},
};

// The first word with a letter written as UTF-8 rather than as the single
// Latin-1 byte the table must hold: "Berluraccè" saved as UTF-8 would show as
// "BerluraccÃ¨". Latin-1 text is almost never valid UTF-8 by chance.
std::optional<std::string> Utf8Word(const std::string& bytes)
{
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        const std::size_t length = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                                   : lead >= 0xF0 && lead <= 0xF4                                   ? 4
                                                                                                   : 0;
        if (length == 0 || i + length > bytes.size())
            continue;
        bool continued = true;
        for (std::size_t k = 1; k < length; ++k)
            continued = continued && (static_cast<unsigned char>(bytes[i + k]) & 0xC0) == 0x80;
        if (!continued)
            continue;
        std::size_t begin = i, end = i + length;
        while (begin > 0 && bytes[begin - 1] != ' ' && bytes[begin - 1] != '\n' && bytes[begin - 1] != '\r')
            --begin;
        while (end < bytes.size() && bytes[end] != ' ' && bytes[end] != '\n' && bytes[end] != '\r')
            ++end;
        return bytes.substr(begin, std::min<std::size_t>(end - begin, 40));
    }
    return std::nullopt;
}

class Checker {
public:
    explicit Checker(fs::path folder) : folder_(std::move(folder)) {}

    std::vector<Finding> Run()
    {
        SampleLinks();
        Files();
        Grids();
        Relief();
        for (const char* raster : kDistrictRasters)
            Raster(raster);
        for (const char* shapefile : kShapefiles)
            Shapefile(shapefile);
        Table();
        Template();
        Durations();
        return std::move(findings_);
    }

private:
    void Add(Level level, const std::string& subject, const std::string& text)
    {
        findings_.push_back({level, subject, text});
    }

    fs::path Path(const std::string& relative) const { return folder_ / relative; }

    // A regular file that can be opened and read from.
    std::optional<std::string> Unreadable(const std::string& relative) const
    {
        std::error_code error;
        const fs::path path = Path(relative);
        if (!fs::exists(path, error))
            return "manca";
        if (!fs::is_regular_file(path, error))
            return "non è un file";
        try {
            const FileDescriptor fd = OpenRegularFile(path.string());
            char byte;
            if (::read(fd.get(), &byte, 1) < 0)
                return "non si può leggere";
        } catch (const Error&) {
            return "non si può leggere";
        }
        return std::nullopt;
    }

    bool Readable(const std::string& relative)
    {
        if (const auto problem = Unreadable(relative)) {
            Add(Level::Error, relative, *problem);
            return false;
        }
        return true;
    }

    // The data folders that are links into a sample region, as a launcher
    // makes them on a first start. Sample grids beside data of the user's own
    // would make invented numbers look real.
    void SampleLinks()
    {
        std::vector<std::pair<std::string, fs::path>> sample;
        std::string own;
        for (const char* name : kDataFolders) {
            std::error_code error;
            const fs::path target = fs::canonical(Path(name), error);
            if (error)
                continue;  // missing: the files inside it say so
            if (fs::is_symlink(Path(name), error) && IsSyntheticSample(target.parent_path().string() + "/"))
                sample.emplace_back(name, target);
            else
                own += (own.empty() ? "" : ", ") + std::string(name);
        }
        for (const auto& [name, target] : sample) {
            if (name == "grd" && !own.empty())
                Add(Level::Error, name,
                    "collegamento alle griglie di esempio sintetiche (" + target.string() + "), mentre " + own +
                        " sono dati propri: i calcoli userebbero griglie inventate. Copiare qui la cartella grd dei "
                        "dati regionali");
            else
                Add(Level::Note, name, "collegamento ai dati di esempio (" + target.string() + ")");
        }
    }

    void Files()
    {
        std::vector<std::string> needed = {kExecutableName, kTable, kTemplatePath};
        for (const GridFiles& grid : kGrids) {
            needed.push_back(grid.header);
            needed.push_back(grid.raster);
        }
        for (const char* shapefile : kShapefiles) {
            const std::string base = fs::path(shapefile).replace_extension().string();
            for (const char* extension : {".shp", ".shx", ".dbf"})
                needed.push_back(base + extension);
        }
        for (const char* raster : kDistrictRasters)
            needed.push_back(raster);
        int good = 0;
        for (const std::string& file : needed)
            good += Readable(file) ? 1 : 0;
        // The relief is checked by itself: its stand-in may take its place.
        // Each missing file is an error of its own already.
        Add(good == int(needed.size()) ? Level::Ok : Level::Note, ".",
            std::to_string(good) + " file necessari su " + std::to_string(needed.size()) + " presenti e leggibili");

        const fs::path output = Path(kOutputFolder);
        std::error_code error;
        if (!fs::is_directory(output, error))
            Add(Level::Error, kOutputFolder, "manca la cartella dei report");
        else if (::access(output.c_str(), W_OK) != 0)
            Add(Level::Error, kOutputFolder, "la cartella dei report non si può scrivere");
    }

    void Grids()
    {
        std::optional<std::pair<int, int>> size;
        bool sameSize = true;
        std::vector<ParameterGrid> loaded;
        for (const GridFiles& files : kGrids) {
            if (Unreadable(files.header) || Unreadable(files.raster))
                continue;
            try {
                // The reader refuses a raster of another size than its header gives.
                const ParameterGrid grid = ParameterGrid::Load(Path(files.raster), Path(files.header));
                const std::string shape =
                    std::to_string(grid.columnCount()) + " colonne, " + std::to_string(grid.rowCount()) + " righe";
                if (grid.rowCount() != kGridRows) {
                    Add(Level::Error, files.header,
                        shape + ": la griglia regionale ha " + std::to_string(kGridRows) + " righe");
                    continue;
                }
                long missing = 0;
                for (std::int32_t r = 1; r <= grid.rowCount(); ++r)
                    for (std::int32_t c = 1; c <= grid.columnCount(); ++c)
                        missing += files.noData(grid.At({r, c})) ? 1 : 0;
                const long cells = long(grid.rowCount()) * grid.columnCount();
                Add(missing == cells ? Level::Error : Level::Ok, files.raster,
                    shape + ", " + std::to_string(missing) + " celle senza dato su " + std::to_string(cells));
                const std::pair<int, int> this_size{grid.rowCount(), grid.columnCount()};
                if (size && *size != this_size)
                    sameSize = false;
                size = size ? size : this_size;
                loaded.push_back(std::move(grid));
            } catch (const Error& error) {
                const std::string file = fs::path(error.file()).lexically_relative(folder_).string();
                Add(Level::Error, file.empty() || file.starts_with("..") ? files.header : file,
                    ItalianMessage(error));
            }
        }
        if (!sameSize)
            Add(Level::Error, "grd", "le tre griglie non hanno la stessa dimensione");
        else if (loaded.size() == 3)
            Rainfall({std::move(loaded[0]), std::move(loaded[1]), std::move(loaded[2])});
    }

    // Every cell with data computed as a point run computes it: grids swapped
    // or corrupt show in cells whose rainfall cannot be real, and in the range
    // of q2 and q200.
    void Rainfall(const ParameterGrids& grids)
    {
        long refused = 0, computed = 0;
        float q2[2] = {INFINITY, -INFINITY}, q200[2] = {INFINITY, -INFINITY};
        for (std::int32_t r = 1; r <= grids.a2.rowCount(); ++r)
            for (std::int32_t c = 1; c <= grids.a2.columnCount(); ++c) {
                const GridCell cell{r, c};
                const float cv = grids.cv.At(cell), a1 = grids.a1.At(cell);
                if (kGrids[0].noData(grids.a2.At(cell)) || kGrids[1].noData(a1) || kGrids[2].noData(cv))
                    continue;
                try {
                    const RainQuantiles q = ComputeQuantiles(cv, a1);
                    q2[0] = std::min(q2[0], q.q2);
                    q2[1] = std::max(q2[1], q.q2);
                    q200[0] = std::min(q200[0], q.q200);
                    q200[1] = std::max(q200[1], q.q200);
                    ++computed;
                    refused += IsPlausibleRainfall(q) ? 0 : 1;
                } catch (const Error&) {
                    ++refused;  // beyond single precision
                }
            }
        if (computed == 0 && refused == 0)
            return;
        std::string text = std::to_string(refused) + " celle con dati che non danno una pioggia valida";
        if (computed > 0)
            text += "; q2 da " + Millimetres(q2[0]) + " a " + Millimetres(q2[1]) + ", q200 da " +
                    Millimetres(q200[0]) + " a " + Millimetres(q200[1]);
        Add(refused == 0 ? Level::Ok : Level::Error, "grd", text);
    }

    static std::string Millimetres(float value)
    {
        char text[32];
        return std::string(text, std::to_chars(text, text + sizeof text, value, std::chars_format::general, 4).ptr) +
               " mm";
    }

    // The reference system's name and code, or empty when it is Gauss-Boaga
    // East or there is none.
    static std::string ForeignCrs(const OGRSpatialReference* crs)
    {
        if (crs == nullptr || crs->IsEmpty())
            return {};
        OGRSpatialReference gaussBoaga;
        gaussBoaga.importFromEPSG(3004);
        const char* options[] = {"IGNORE_DATA_AXIS_TO_SRS_AXIS_MAPPING=YES",
                                 "CRITERION=EQUIVALENT_EXCEPT_AXIS_ORDER_GEOGCRS", nullptr};
        if (crs->IsSame(&gaussBoaga, options))
            return {};
        std::string name = crs->GetName() ? crs->GetName() : "senza nome";
        OGRSpatialReference identified(*crs);
        if (identified.AutoIdentifyEPSG() == OGRERR_NONE && identified.GetAuthorityCode(nullptr))
            name += std::string(" (EPSG:") + identified.GetAuthorityCode(nullptr) + ")";
        return name;
    }

    GDALDatasetUniquePtr Open(const std::string& relative, unsigned kind, std::string& reason) const
    {
        if (const std::string companion = IrregularCompanion(Path(relative)); !companion.empty()) {
            reason = fs::path(companion).lexically_relative(folder_).string() +
                     " non è un file regolare: GDAL non apre il file, che resterebbe in attesa";
            return nullptr;
        }
        CPLErrorReset();
        GDALDatasetUniquePtr dataset(GDALDataset::Open(Path(relative).c_str(),
                                                       kind | GDAL_OF_READONLY | GDAL_OF_VERBOSE_ERROR));
        if (!dataset)
            reason = *CPLGetLastErrorMsg() ? CPLGetLastErrorMsg() : "GDAL non lo apre";
        return dataset;
    }

    void Crs(const std::string& relative, const OGRSpatialReference* crs, const std::string& what)
    {
        const std::string foreign = ForeignCrs(crs);
        if (!foreign.empty())
            Add(Level::Error, relative, what + ", in " + foreign + " e non in Gauss-Boaga fuso Est (EPSG:3004)");
        else
            Add(Level::Ok, relative,
                what + (crs && !crs->IsEmpty() ? ", in EPSG:3004" : ", senza sistema di riferimento"));
    }

    bool Raster(const std::string& relative)
    {
        if (Unreadable(relative))
            return false;
        std::string reason;
        GDALDatasetUniquePtr raster = Open(relative, GDAL_OF_RASTER, reason);
        if (!raster || raster->GetRasterCount() == 0) {
            Add(Level::Error, relative, "GDAL non lo apre: " + (raster ? "nessuna banda" : reason));
            return false;
        }
        const GDALRasterBand* band = raster->GetRasterBand(1);
        const int side = std::max(raster->GetRasterXSize(), raster->GetRasterYSize());
        // The map builds overviews for a raster of this size that has none.
        const char* overviews = const_cast<GDALRasterBand*>(band)->GetOverviewCount() > 0 ? ", con piramidi"
                                : side > 2048 ? ", senza piramidi (il programma le costruisce una volta nella sua cache)"
                                              : ", senza piramidi";
        const std::string what = std::to_string(raster->GetRasterXSize()) + " x " +
                                 std::to_string(raster->GetRasterYSize()) + " pixel" + overviews;
        Crs(relative, raster->GetSpatialRef(), what);
        return true;
    }

    void Relief()
    {
        const bool ecwThere = !Unreadable(kRelief);
        if (ecwThere) {
            std::string reason;
            if (Open(kRelief, GDAL_OF_RASTER, reason)) {
                Raster(kRelief);
                return;
            }
            if (!Unreadable(kReliefStandIn) && Raster(kReliefStandIn)) {
                Add(Level::Note, kRelief, "GDAL non lo legge (" + reason + "): il programma usa " + kReliefStandIn);
                return;
            }
            Add(Level::Error, kRelief,
                "GDAL non lo legge (" + reason +
                    "). Convertirlo in GeoTIFF con GDAL su un sistema che legge l'ECW: gdal_translate -of COG "
                    "demTRNSh.ecw demTRNSh.tif, e copiare demTRNSh.tif in Raster");
            return;
        }
        if (!Unreadable(kReliefStandIn) && Raster(kReliefStandIn))
            return;
        Add(Level::Error, kRelief, std::string("manca, e manca anche ") + kReliefStandIn);
    }

    void Shapefile(const std::string& relative)
    {
        const fs::path base = fs::path(relative).replace_extension();
        for (const char* extension : {".shp", ".shx", ".dbf"})
            if (Unreadable(base.string() + extension))
                return;
        std::string reason;
        GDALDatasetUniquePtr data = Open(relative, GDAL_OF_VECTOR, reason);
        OGRLayer* layer = data && data->GetLayerCount() > 0 ? data->GetLayer(0) : nullptr;
        if (!layer) {
            Add(Level::Error, relative, "GDAL non lo apre: " + (data ? std::string("nessun livello") : reason));
            return;
        }
        const GIntBig count = layer->GetFeatureCount();
        if (relative == kShapefiles[0]) {
            municipalitiesRead_ = true;
            for (const auto& feature : *layer)
                municipalities_.push_back(feature->GetGeometryRef() && !feature->GetGeometryRef()->IsEmpty());
        }
        if (relative == kShapefiles[4] && count < 4)
            Add(Level::Error, relative, std::to_string(count) + " forme: servono i quattro distretti UD, TG, PN, TO");
        Crs(relative, layer->GetSpatialRef(), std::to_string(count) + " forme");
    }

    void Table()
    {
        if (Unreadable(kTable))
            return;
        std::string bytes;
        try {
            bytes = ReadDataFile(Path(kTable).string(), kMaxTableSize);
        } catch (const Error& failure) {
            Add(Level::Error, kTable,
                failure.kind() == ErrorKind::BadFileFormat ? "più grande di 1 MiB: la tabella dei comuni ne occupa pochi KiB"
                                                          : "non si può leggere");
            return;
        }
        if (const auto word = Utf8Word(bytes)) {
            Add(Level::Error, kTable,
                "salvata in UTF-8 (\"" + *word + "\"), ma deve essere in Latin-1 (ISO 8859-1): "
                "risalvarla con questa codifica");
            return;
        }
        std::vector<std::string> lines;
        for (std::size_t start = 0; start < bytes.size();) {
            std::size_t end = bytes.find_first_of("\r\n", start);
            if (end == std::string::npos)
                end = bytes.size();
            lines.push_back(bytes.substr(start, end - start));
            start = end + (bytes.compare(end, 2, "\r\n") == 0 ? 2 : 1);
        }
        std::vector<std::string> problems;
        if (lines.size() != std::size_t(kTableRows))
            problems.push_back(std::to_string(lines.size()) + " righe invece di " + std::to_string(kTableRows));
        const std::size_t width = lines.empty() ? 0 : lines.front().size();
        for (std::size_t i = 0; i < lines.size() && problems.size() < 6; ++i) {
            const std::string row = "riga " + std::to_string(i + 1) + ": ";
            if (lines[i].size() != width || width < kTableMinimumWidth) {
                problems.push_back(row + std::to_string(lines[i].size()) + " caratteri invece di " +
                                   std::to_string(std::max(width, kTableMinimumWidth)));
                continue;
            }
            std::string_view field = std::string_view(lines[i]).substr(0, 10);
            field.remove_prefix(std::min(field.find_first_not_of(" \t"), field.size()));
            field.remove_suffix(field.size() - std::min(field.find_last_not_of(" \t") + 1, field.size()));
            long objectId = 0;
            const auto read = std::from_chars(field.data(), field.data() + field.size(), objectId);
            if (field.empty() || read.ec != std::errc() || read.ptr != field.data() + field.size()) {
                problems.push_back(row + "OBJECTID non numerico");
                continue;
            }
            if (municipalitiesRead_ &&
                (objectId < 1 || objectId > long(municipalities_.size()) || !municipalities_[size_t(objectId - 1)]))
                problems.push_back(row + "l'OBJECTID " + std::to_string(objectId) +
                                   " non è un poligono di Shp/comuniPoly.shp");
        }
        if (problems.empty()) {
            Add(Level::Ok, kTable,
                std::to_string(lines.size()) + " righe di " + std::to_string(width) + " caratteri" +
                    (municipalitiesRead_ ? ", ogni OBJECTID un poligono di Shp/comuniPoly.shp" : ""));
            return;
        }
        for (const std::string& problem : problems)
            Add(Level::Error, kTable, problem);
    }

    void Template()
    {
        if (Unreadable(kTemplatePath))
            return;
        try {
            const std::vector<std::uint8_t> bytes = ReadReportTemplate(Path(kTemplatePath));
            const auto cells = ReportCells(2400000, 5100000, 2400250, 5100250, 0.3f, 1, 2, 3, 4, 5, 6, 7);
            if (BuildReportFile(bytes, cells, kTemplatePath).empty())
                throw Error(ErrorKind::BadFileFormat, kTemplatePath);
            Add(Level::Ok, kTemplatePath, "cartella di lavoro Excel 97 (BIFF8): un report di prova riesce");
            if (!StoresFormulaResults(ReadWorkbookStream(bytes, kTemplatePath), kTemplatePath))
                Add(Level::Note, kTemplatePath,
                    "salvato con l'opzione «precisione come visualizzato»: i report non contengono i risultati "
                    "delle formule, che il foglio di calcolo ricalcola all'apertura; i programmi che leggono "
                    "soltanto i valori (anteprime, python) li vedono vuoti");
        } catch (const Error& error) {
            Add(Level::Error, kTemplatePath, ItalianMessage(error));
        }
    }

    // The law, and the template's duration table against it: two statements
    // of one law that must not disagree.
    void Durations()
    {
        std::optional<DurationLaw> law;
        try {
            law = ReadDurationLaw(folder_.string() + "/");
        } catch (const Error& error) {
            Add(Level::Error, kDurationLawFile, ItalianMessage(error));
            return;
        }
        if (!law) {
            Add(Level::Note, kDurationLawFile, "manca: nessuna legge delle durate, solo le altezze di 1 ora");
            return;
        }
        std::string text = "legge h(d) = h1 · d^a2, d in ore, " + law->ItalianRangeText();
        if (law->subhourExponent) {
            char exponent[32];
            const auto written = std::to_chars(exponent, exponent + sizeof exponent, *law->subhourExponent);
            text += "; sotto l'ora esponente " + std::string(exponent, written.ptr) + " da " +
                    DurationText(law->subhourFromHours);
        }
        Add(Level::Ok, kDurationLawFile, text);
        if (Unreadable(kTemplatePath))
            return;
        constexpr float kA2 = 0.3f;
        const float heights[7] = {20, 25, 30, 35, 40, 45, 50};
        std::vector<ReportDurationRow> table;
        try {
            const auto cells = ReportCells(2400000, 5100000, 2400250, 5100250, kA2, heights[0], heights[1], heights[2],
                                           heights[3], heights[4], heights[5], heights[6]);
            table = ReportDurationTable(BuildReportFile(ReadReportTemplate(Path(kTemplatePath)), cells, kTemplatePath),
                                        kTemplatePath);
        } catch (const Error&) {
            return;  // the template's own check has said why
        }
        if (table.empty()) {
            Add(Level::Note, kTemplatePath, "nessuna tabella delle durate (intestazione \"Durata\") da confrontare");
            return;
        }
        int compared = 0, unknown = 0;
        std::string disagree;
        for (const ReportDurationRow& row : table) {
            if (!(row.hours >= law->MinHours() && row.hours <= law->MaxHours())) {
                disagree += " " + CellName(row.row, row.column) + " (durata fuori dalla legge)";
                continue;
            }
            for (std::size_t k = 0; k < 7; ++k) {
                if (!row.heights[k]) {
                    ++unknown;
                    continue;
                }
                ++compared;
                const double expected = DepthAt(*law, heights[k], kA2, row.hours);
                if (!(std::abs(*row.heights[k] - expected) <= 1e-9 * expected))
                    disagree += " " + CellName(row.row, row.column + 1 + int(k));
            }
        }
        if (!disagree.empty())
            Add(Level::Error, kTemplatePath, "la tabella delle durate non segue la legge di " +
                                                 std::string(kDurationLawFile) + " nelle celle" + disagree);
        else
            Add(Level::Ok, kTemplatePath,
                "tabella delle durate (" + std::to_string(table.size()) + " durate): " + std::to_string(compared) +
                    " celle uguali alla legge" +
                    (unknown ? ", " + std::to_string(unknown) + " senza un valore numerico non confrontate" : ""));
    }

    fs::path folder_;
    bool municipalitiesRead_ = false;
    std::vector<bool> municipalities_;  // by shape index: has a geometry
    std::vector<Finding> findings_;
};

}  // namespace

std::vector<Finding> CheckAppFolder(const std::string& folder)
{
    static const bool registered = [] {
        GDALAllRegister();
        return true;
    }();
    (void)registered;
    CPLPushErrorHandler(CPLQuietErrorHandler);
    std::vector<Finding> findings = Checker(folder).Run();
    CPLPopErrorHandler();
    return findings;
}

bool PrintCheck(const std::string& folder, const std::vector<Finding>& findings, std::FILE* out)
{
    int errors = 0;
    for (const Finding& finding : findings) {
        const char* tag = finding.level == Level::Error ? "ERRORE" : finding.level == Level::Note ? "NOTA  " : "OK    ";
        errors += finding.level == Level::Error ? 1 : 0;
        std::fprintf(out, "%s %s: %s\n", tag, finding.subject.c_str(), finding.text.c_str());
    }
    std::error_code error;
    std::string shown = fs::absolute(folder, error).lexically_normal().string();
    if (shown.size() > 1 && shown.back() == '/')
        shown.pop_back();
    const bool sample = IsSyntheticSample(shown + "/");
    if (errors == 0 && !sample)
        std::fprintf(out, "%s: tutto in ordine, la cartella è utilizzabile.\n", shown.c_str());
    else if (errors > 0)
        std::fprintf(out, "%s: %d %s, la cartella non è utilizzabile così.\n", shown.c_str(), errors,
                     errors == 1 ? "errore" : "errori");
    if (sample)
        std::fprintf(out, "%s: %s.\n", shown.c_str(), kSampleWarning);
    return errors == 0;
}

}  // namespace quorvel::batch
