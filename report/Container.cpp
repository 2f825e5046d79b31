// The OLE2 compound file around the Workbook stream, read and written with
// libgsf entirely in memory.

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-memory.h>
#include <gsf/gsf-utils.h>

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
                std::vector<std::uint8_t> bytes = ReadAll(child.get());
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
    std::vector<std::uint8_t> ReadAll(GsfInput* input)
    {
        const gsf_off_t size = gsf_input_size(input);
        if (size < 0 || size > std::numeric_limits<std::int32_t>::max()) {
            Fail({"unreadable compound file stream", "flusso del file composto illeggibile"});
        }
        std::vector<std::uint8_t> bytes(static_cast<size_t>(size));
        if (size > 0 && !gsf_input_read(input, bytes.size(), bytes.data())) {
            Fail({"compound file stream cut short", "flusso del file composto troncato"});
        }
        return bytes;
    }

    std::span<const ReportCell> cells_;
    const std::string& file_;
    bool workbookFound_ = false;
};

}  // namespace

std::vector<std::uint8_t> BuildReportFile(std::span<const std::uint8_t> templateFile,
                                          std::span<const ReportCell> cells,
                                          const std::string& file)
{
    static std::once_flag initialised;
    std::call_once(initialised, [] { gsf_init(); });
    const QuietLibgsf quiet;

    Copier copier(cells, file);
    GPtr<GsfInput> input(gsf_input_memory_new(templateFile.data(),
                                              static_cast<gsf_off_t>(templateFile.size()), FALSE));
    GError* error = nullptr;
    GPtr<GsfInfile> ole(gsf_infile_msole_new(input.get(), &error));
    if (!ole) {
        // libgsf's own words follow the locale: ours say it in Italian.
        ErrorDetail detail{error ? error->message : "not a compound file",
                           "non è un file composto OLE2 (Excel 97-2003)"};
        g_clear_error(&error);
        throw Error(ErrorKind::BadFileFormat, file, detail);
    }
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

}  // namespace quorvel
