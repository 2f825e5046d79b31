// The OLE2 compound file around the Workbook stream, read and written with
// libgsf entirely in memory.

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-memory.h>
#include <gsf/gsf-utils.h>

#include <algorithm>
#include <iterator>
#include <limits>
#include <memory>
#include <mutex>

#include "rain/Error.h"
#include "report/Workbook.h"

namespace quorvel {
namespace {

struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T>
using GPtr = std::unique_ptr<T, GObjectUnref>;

constexpr int kMaxStorageDepth = 32;

// libgsf warns on standard error about every malformed container it meets,
// some of it in the default log domain; the Error thrown for the container
// already says all the user needs. Held only while libgsf works for us, so
// that the default domain of other libraries keeps its messages.
class QuietLibgsf {
public:
    QuietLibgsf()
    {
        for (size_t i = 0; i < std::size(kDomains); ++i) {
            handlers_[i] = g_log_set_handler(
                kDomains[i],
                static_cast<GLogLevelFlags>(G_LOG_LEVEL_MASK | G_LOG_FLAG_FATAL | G_LOG_FLAG_RECURSION),
                [](const gchar*, GLogLevelFlags, const gchar*, gpointer) {}, nullptr);
        }
    }
    ~QuietLibgsf()
    {
        for (size_t i = 0; i < std::size(kDomains); ++i) {
            g_log_remove_handler(kDomains[i], handlers_[i]);
        }
    }
    QuietLibgsf(const QuietLibgsf&) = delete;
    QuietLibgsf& operator=(const QuietLibgsf&) = delete;

private:
    static constexpr const char* kDomains[] = {nullptr, "libgsf", "libgsf:msole"};
    guint handlers_[std::size(kDomains)] = {};
};

// libgsf reads the compound file's directory recursively, one call per link
// between entries, and walks it for every entry it opens: a template built as
// one long chain of entries overflows the stack, and many entries crawl. The
// header and the directory are therefore checked here first, within bounds
// far beyond any workbook's: a workbook has a dozen entries a few links deep.
constexpr std::uint32_t kMaxDirectoryEntries = 4096;
constexpr int kMaxDirectoryDepth = 64;
constexpr std::uint32_t kNoEntry = 0xFFFFFFFF;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

class DirectoryCheck {
public:
    DirectoryCheck(std::span<const std::uint8_t> file, const std::string& name) : file_(file), name_(name) {}

    void Run()
    {
        if (file_.size() > kMaxTemplateSize) {
            Fail({"larger than 16 MiB", "più grande di 16 MiB"});
        }
        // What is not a compound file at all is libgsf's to refuse, in its words.
        if (file_.size() < 512 || !std::equal(std::begin(kSignature), std::end(kSignature), file_.begin())) {
            return;
        }
        const std::uint16_t shift = U16(0x1E);
        if (shift != 9 && shift != 12) {
            Fail({"compound file sectors of an unknown size", "settori del file composto di dimensione sconosciuta"});
        }
        sectorSize_ = std::size_t(1) << shift;
        sectors_ = (file_.size() - 1) / sectorSize_;  // the header takes the first one's place
        ReadFatSectors();
        const std::vector<std::uint32_t> chain = DirectoryChain(U32(0x30));
        ReadEntries(chain);
        WalkTree();
    }

private:
    [[noreturn]] void Fail(const ErrorDetail& why) const { throw Error(ErrorKind::BadFileFormat, name_, why); }

    std::uint16_t U16(std::size_t at) const
    {
        return at + 2 <= file_.size() ? static_cast<std::uint16_t>(file_[at] | file_[at + 1] << 8) : 0;
    }
    std::uint32_t U32(std::size_t at) const
    {
        return at + 4 <= file_.size() ? U16(at) | static_cast<std::uint32_t>(U16(at + 2)) << 16 : kNoEntry;
    }
    std::size_t SectorOffset(std::uint32_t sector) const
    {
        if (sector >= sectors_) {
            Fail({"compound file sector beyond the end of the file", "settore del file composto oltre la fine del file"});
        }
        return (std::size_t(sector) + 1) * sectorSize_;
    }

    // The sectors of the allocation table, from the header's list and the
    // chain of sectors that continues it.
    void ReadFatSectors()
    {
        const std::uint32_t count = U32(0x2C);
        for (std::uint32_t i = 0; i < 109 && fat_.size() < count; ++i) {
            fat_.push_back(U32(0x4C + 4 * i));
        }
        const std::size_t perSector = sectorSize_ / 4 - 1;
        std::uint32_t next = U32(0x44);
        for (std::size_t hops = 0; fat_.size() < count && next < kEndOfChain; ++hops) {
            if (hops > sectors_) {
                Fail({"compound file allocation list in a loop", "elenco di allocazione del file composto in un ciclo"});
            }
            const std::size_t at = SectorOffset(next);
            for (std::size_t i = 0; i < perSector && fat_.size() < count; ++i) {
                fat_.push_back(U32(at + 4 * i));
            }
            next = U32(at + 4 * perSector);
        }
    }

    std::uint32_t Next(std::uint32_t sector) const
    {
        const std::size_t perSector = sectorSize_ / 4;
        if (sector / perSector >= fat_.size()) {
            Fail({"compound file sector outside its allocation table", "settore del file composto fuori dalla tabella di allocazione"});
        }
        return U32(SectorOffset(fat_[sector / perSector]) + 4 * (sector % perSector));
    }

    std::vector<std::uint32_t> DirectoryChain(std::uint32_t sector) const
    {
        std::vector<std::uint32_t> chain;
        const std::size_t perSector = sectorSize_ / 128;
        while (sector != kEndOfChain) {
            chain.push_back(sector);
            SectorOffset(sector);
            if (chain.size() * perSector > kMaxDirectoryEntries) {
                Fail({"more than 4096 compound file directory entries", "più di 4096 voci nella cartella del file composto"});
            }
            sector = Next(sector);
        }
        return chain;
    }

    struct Entry {
        std::uint32_t left, right, child;
    };

    void ReadEntries(const std::vector<std::uint32_t>& chain)
    {
        for (const std::uint32_t sector : chain) {
            const std::size_t at = SectorOffset(sector);
            for (std::size_t k = 0; k < sectorSize_ / 128; ++k) {
                const std::size_t entry = at + 128 * k;
                entries_.push_back({U32(entry + 0x44), U32(entry + 0x48), U32(entry + 0x4C)});
            }
        }
        if (entries_.empty()) {
            Fail({"compound file without a directory", "file composto senza cartella"});
        }
    }

    // Every entry reached from the root once, along links no deeper than
    // the bound: a link back or a second way to an entry is a loop.
    void WalkTree() const
    {
        std::vector<bool> seen(entries_.size());
        std::vector<std::pair<std::uint32_t, int>> pending{{0, 0}};
        seen[0] = true;
        while (!pending.empty()) {
            const auto [index, depth] = pending.back();
            pending.pop_back();
            const Entry& entry = entries_[index];
            for (const std::uint32_t link : {entry.left, entry.right, entry.child}) {
                if (link == kNoEntry || (index == 0 && link != entry.child)) {
                    continue;
                }
                if (link >= entries_.size() || seen[link]) {
                    Fail({"compound file directory entries linked in a loop or outside the directory",
                          "voci della cartella del file composto collegate in un ciclo o fuori dalla cartella"});
                }
                if (depth + 1 > kMaxDirectoryDepth) {
                    Fail({"compound file directory deeper than 64 links", "cartella del file composto profonda più di 64 collegamenti"});
                }
                seen[link] = true;
                pending.emplace_back(link, depth + 1);
            }
        }
    }

    std::span<const std::uint8_t> file_;
    const std::string& name_;
    std::size_t sectorSize_ = 512;
    std::size_t sectors_ = 0;
    std::vector<std::uint32_t> fat_;
    std::vector<Entry> entries_;
};

std::vector<std::uint8_t> ReadAll(GsfInput* input, const std::string& file)
{
    const gsf_off_t size = gsf_input_size(input);
    if (size < 0 || size > std::numeric_limits<std::int32_t>::max()) {
        throw Error(ErrorKind::BadFileFormat, file, {"unreadable compound file stream", "flusso del file composto illeggibile"});
    }
    std::vector<std::uint8_t> bytes(static_cast<size_t>(size));
    if (size > 0 && !gsf_input_read(input, bytes.size(), bytes.data())) {
        throw Error(ErrorKind::BadFileFormat, file, {"compound file stream cut short", "flusso del file composto troncato"});
    }
    return bytes;
}

// The compound file opened by libgsf, after the checks its reading needs.
GPtr<GsfInfile> OpenCompoundFile(std::span<const std::uint8_t> bytes, GPtr<GsfInput>& input,
                                 const std::string& file)
{
    static std::once_flag initialised;
    std::call_once(initialised, [] { gsf_init(); });
    DirectoryCheck(bytes, file).Run();
    input.reset(gsf_input_memory_new(bytes.data(), static_cast<gsf_off_t>(bytes.size()), FALSE));
    GError* error = nullptr;
    GPtr<GsfInfile> ole(gsf_infile_msole_new(input.get(), &error));
    if (!ole) {
        // libgsf's own words follow the locale: ours say it in Italian.
        ErrorDetail detail{error ? error->message : "not a compound file",
                           "non è un file composto OLE2 (Excel 97-2003)"};
        g_clear_error(&error);
        throw Error(ErrorKind::BadFileFormat, file, detail);
    }
    return ole;
}

class Copier {
public:
    Copier(std::span<const ReportCell> cells, const std::string& file)
        : cells_(cells), file_(file)
    {
    }

    void CopyStorage(GsfInfile* from, GsfOutfile* to, int depth)
    {
        if (depth > kMaxStorageDepth) {
            Fail({"storages nested too deeply", "contenitori annidati troppo in profondità"});
        }
        guint8 classId[16];
        if (gsf_infile_msole_get_class_id(GSF_INFILE_MSOLE(from), classId)) {
            gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(to), classId);
        }
        const int count = gsf_infile_num_children(from);
        for (int i = 0; i < count; ++i) {
            const char* name = gsf_infile_name_by_index(from, i);
            GPtr<GsfInput> child(gsf_infile_child_by_index(from, i));
            if (!name || !child) {
                Fail({"unreadable compound file entry", "voce del file composto illeggibile"});
            }
            const bool storage = GSF_IS_INFILE(child.get()) &&
                                 gsf_infile_num_children(GSF_INFILE(child.get())) >= 0;
            GPtr<GsfOutput> out(gsf_outfile_new_child(to, name, storage));
            if (!out) {
                Fail({"cannot copy compound file entry", "impossibile copiare una voce del file composto"});
            }
            if (storage) {
                CopyStorage(GSF_INFILE(child.get()), GSF_OUTFILE(out.get()), depth + 1);
            } else {
                std::vector<std::uint8_t> bytes = ReadAll(child.get(), file_);
                if (depth == 0 && g_ascii_strcasecmp(name, "Workbook") == 0) {
                    bytes = FillWorkbookStream(bytes, cells_, file_);
                    workbookFound_ = true;
                }
                if (!bytes.empty() && !gsf_output_write(out.get(), bytes.size(), bytes.data())) {
                    Fail({"cannot write compound file entry", "impossibile scrivere una voce del file composto"});
                }
            }
            if (!gsf_output_close(out.get())) {
                Fail({"cannot write compound file entry", "impossibile scrivere una voce del file composto"});
            }
        }
    }

    bool WorkbookFound() const { return workbookFound_; }

    [[noreturn]] void Fail(const ErrorDetail& why) const
    {
        throw Error(ErrorKind::BadFileFormat, file_, why);
    }

private:
    std::span<const ReportCell> cells_;
    const std::string& file_;
    bool workbookFound_ = false;
};

}  // namespace

std::vector<std::uint8_t> BuildReportFile(std::span<const std::uint8_t> templateFile,
                                          std::span<const ReportCell> cells,
                                          const std::string& file)
{
    const QuietLibgsf quiet;
    GPtr<GsfInput> input;
    GPtr<GsfInfile> ole = OpenCompoundFile(templateFile, input, file);
    Copier copier(cells, file);
    GPtr<GsfOutput> memory(gsf_output_memory_new());
    GPtr<GsfOutfile> out(gsf_outfile_msole_new(memory.get()));
    try {
        copier.CopyStorage(ole.get(), out.get(), 0);
        if (!copier.WorkbookFound()) {
            copier.Fail({"no Workbook stream", "manca il flusso Workbook"});
        }
    } catch (...) {
        gsf_output_close(GSF_OUTPUT(out.get()));
        throw;
    }
    if (!gsf_output_close(GSF_OUTPUT(out.get()))) {
        copier.Fail({"cannot assemble the compound file", "impossibile comporre il file composto"});
    }
    const guint8* bytes = gsf_output_memory_get_bytes(GSF_OUTPUT_MEMORY(memory.get()));
    const gsf_off_t size = gsf_output_size(memory.get());
    return {bytes, bytes + size};
}

std::vector<std::uint8_t> ReadWorkbookStream(std::span<const std::uint8_t> file, const std::string& name)
{
    const QuietLibgsf quiet;
    GPtr<GsfInput> input;
    GPtr<GsfInfile> ole = OpenCompoundFile(file, input, name);
    GPtr<GsfInput> stream(gsf_infile_child_by_name(ole.get(), "Workbook"));
    if (!stream) {
        throw Error(ErrorKind::BadFileFormat, name, {"no Workbook stream", "manca il flusso Workbook"});
    }
    return ReadAll(stream.get(), name);
}

}  // namespace quorvel
