#include "BiffReader.h"

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-memory.h>
#include <gsf/gsf-utils.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <stdexcept>

namespace quorvel::test {

std::uint16_t Get16(const Bytes& data, size_t at)
{
    return static_cast<std::uint16_t>(data.at(at) | data.at(at + 1) << 8);
}

std::uint32_t Get32(const Bytes& data, size_t at)
{
    return Get16(data, at) | static_cast<std::uint32_t>(Get16(data, at + 2)) << 16;
}

double GetDouble(const Bytes& data, size_t at)
{
    double value;
    std::memcpy(&value, &data.at(at + 7) - 7, 8);
    return value;
}

std::optional<std::pair<int, int>> CellColumns(const BiffRecord& record)
{
    static const std::set<std::uint16_t> kCells = {0x0006, 0x0201, 0x0203, 0x0204, 0x0205,
                                                   0x027E, 0x00FD, 0x00D6, 0x00BD, 0x00BE};
    if (!kCells.contains(record.type) || record.data.size() < 6) {
        return std::nullopt;
    }
    const bool run = record.type == 0x00BD || record.type == 0x00BE;
    return std::pair<int, int>(Get16(record.data, 2), Get16(record.data, run ? record.data.size() - 2 : 2));
}

std::vector<BiffRecord> ReadBiff(const Bytes& stream)
{
    std::vector<BiffRecord> records;
    size_t pos = 0;
    int depth = 0, sheet = -1;
    bool globalsDone = false;
    while (pos + 4 <= stream.size()) {
        BiffRecord record;
        record.type = Get16(stream, pos);
        const size_t length = Get16(stream, pos + 2);
        if (pos + 4 + length > stream.size()) {
            throw std::runtime_error("truncated record");
        }
        record.offset = static_cast<std::uint32_t>(pos);
        record.data.assign(stream.begin() + pos + 4, stream.begin() + pos + 4 + length);
        if (record.type == 0x0809 && depth++ == 0 && globalsDone) {
            ++sheet;
        }
        record.sheet = sheet;
        record.nested = depth > 1;
        pos += 4 + length;
        const bool end = record.type == 0x000A;
        records.push_back(std::move(record));
        if (end && --depth == 0) {
            globalsDone = true;
            if (pos + 4 > stream.size() || Get16(stream, pos) != 0x0809) {
                break;
            }
        }
    }
    return records;
}

namespace {

void Walk(GsfInfile* infile, const std::string& path, std::vector<CompoundEntry>& entries)
{
    CompoundEntry& storage = entries.emplace_back();
    storage.path = path;
    storage.storage = true;
    storage.hasClassId = gsf_infile_msole_get_class_id(GSF_INFILE_MSOLE(infile), storage.classId.data());
    for (int i = 0; i < gsf_infile_num_children(infile); ++i) {
        GsfInput* child = gsf_infile_child_by_index(infile, i);
        const std::string name = path + "/" + gsf_infile_name_by_index(infile, i);
        if (GSF_IS_INFILE(child) && gsf_infile_num_children(GSF_INFILE(child)) >= 0) {
            Walk(GSF_INFILE(child), name, entries);
        } else {
            CompoundEntry& stream = entries.emplace_back();
            stream.path = name;
            stream.bytes.resize(gsf_input_size(child));
            if (!stream.bytes.empty()) {
                gsf_input_read(child, stream.bytes.size(), stream.bytes.data());
            }
        }
        g_object_unref(child);
    }
}

}  // namespace

std::vector<CompoundEntry> ReadCompoundFile(const Bytes& file)
{
    GsfInput* input = gsf_input_memory_new(file.data(), file.size(), FALSE);
    GsfInfile* ole = gsf_infile_msole_new(input, nullptr);
    g_object_unref(input);
    if (!ole) {
        throw std::runtime_error("not a compound file");
    }
    std::vector<CompoundEntry> entries;
    Walk(ole, "", entries);
    g_object_unref(ole);
    return entries;
}

Bytes WorkbookStream(const Bytes& file)
{
    for (const CompoundEntry& entry : ReadCompoundFile(file)) {
        if (entry.path == "/Workbook") {
            return entry.bytes;
        }
    }
    throw std::runtime_error("no Workbook stream");
}

Bytes MakeCompoundFile(const std::vector<std::pair<std::string, Bytes>>& streams)
{
    GsfOutput* memory = gsf_output_memory_new();
    GsfOutfile* ole = gsf_outfile_msole_new(memory);
    for (const auto& [name, bytes] : streams) {
        GsfOutput* child = gsf_outfile_new_child(ole, name.c_str(), FALSE);
        gsf_output_write(child, bytes.size(), bytes.data());
        gsf_output_close(child);
        g_object_unref(child);
    }
    gsf_output_close(GSF_OUTPUT(ole));
    g_object_unref(ole);
    const guint8* data = gsf_output_memory_get_bytes(GSF_OUTPUT_MEMORY(memory));
    Bytes file(data, data + gsf_output_size(memory));
    g_object_unref(memory);
    return file;
}

std::string OffsetProblems(const Bytes& stream)
{
    const auto records = ReadBiff(stream);
    std::map<std::uint32_t, const BiffRecord*> at;
    for (const BiffRecord& r : records) {
        at[r.offset] = &r;
    }
    const int sheets = records.empty() ? 0 : records.back().sheet + 1;
    for (int sheet = 0; sheet < sheets; ++sheet) {
        std::vector<const BiffRecord*> dbcells;
        const BiffRecord *index = nullptr, *dimensions = nullptr, *defColWidth = nullptr;
        std::uint32_t rowMin = UINT32_MAX, rowEnd = 0, colMin = UINT32_MAX, colEnd = 0;
        std::set<std::uint32_t> rowsWithCells;
        for (const BiffRecord& r : records) {
            if (r.sheet != sheet || r.nested) {
                continue;
            }
            if (r.type == 0x020B) index = &r;
            if (r.type == 0x0200 && !dimensions) dimensions = &r;
            if ((r.type == 0x0208 && r.data.size() != 16) || (r.type == 0x0203 && r.data.size() != 14))
                return "record " + std::to_string(r.type) + " of " + std::to_string(r.data.size()) + " bytes";
            if (r.type == 0x0055) defColWidth = &r;
            if (r.type == 0x00D7) dbcells.push_back(&r);
            if (const auto columns = CellColumns(r)) {
                const std::uint32_t row = Get16(r.data, 0);
                rowsWithCells.insert(row);
                rowMin = std::min(rowMin, row);
                rowEnd = std::max(rowEnd, row + 1);
                colMin = std::min<std::uint32_t>(colMin, columns->first);
                colEnd = std::max<std::uint32_t>(colEnd, columns->second + 1);
            }
        }
        if (dimensions && rowEnd > 0 &&
            (Get32(dimensions->data, 0) > rowMin || Get32(dimensions->data, 4) < rowEnd ||
             Get16(dimensions->data, 8) > colMin || Get16(dimensions->data, 10) < colEnd)) {
            return "DIMENSIONS does not cover the cells of sheet " + std::to_string(sheet);
        }
        if (index) {
            if (index->data.size() != 16 + 4 * dbcells.size()) {
                return "INDEX does not list every DBCELL";
            }
            for (size_t k = 0; k < dbcells.size(); ++k) {
                if (Get32(index->data, 16 + 4 * k) != dbcells[k]->offset) {
                    return "INDEX points at no DBCELL";
                }
            }
            if (defColWidth && Get32(index->data, 12) != defColWidth->offset) {
                return "INDEX points at no DEFCOLWIDTH";
            }
            if (rowEnd > 0 && (Get32(index->data, 4) > rowMin || Get32(index->data, 8) < rowEnd)) {
                return "INDEX rows do not cover the cells";
            }
        } else if (!dbcells.empty()) {
            return "DBCELL without INDEX";
        }
        for (const BiffRecord* dbcell : dbcells) {
            const std::uint32_t firstRowAt = dbcell->offset - Get32(dbcell->data, 0);
            auto firstRow = at.find(firstRowAt);
            if (firstRow == at.end() || firstRow->second->type != 0x0208) {
                return "DBCELL points at no ROW";
            }
            std::vector<const BiffRecord*> blockRows;
            for (auto it = firstRow; it != at.end() && it->second->type == 0x0208; ++it) {
                blockRows.push_back(it->second);
            }
            if (dbcell->data.size() != 4 + 2 * blockRows.size()) {
                return "DBCELL does not list every row of its block";
            }
            std::uint32_t from = firstRowAt + 20;
            for (size_t k = 0; k < blockRows.size(); ++k) {
                const std::uint16_t step = Get16(dbcell->data, 4 + 2 * k);
                if (step == 0 && !rowsWithCells.contains(Get16(blockRows[k]->data, 0))) {
                    continue;
                }
                from += step;
                auto cell = at.find(from);
                if (cell == at.end() || !CellColumns(*cell->second) ||
                    Get16(cell->second->data, 0) != Get16(blockRows[k]->data, 0)) {
                    return "DBCELL points at no first cell of its row";
                }
            }
        }
    }
    return {};
}

Bytes ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

size_t BiffWriter::Add(std::uint16_t type, const Bytes& data)
{
    const size_t offset = bytes.size();
    bytes.push_back(type & 0xFF);
    bytes.push_back(type >> 8);
    bytes.push_back(data.size() & 0xFF);
    bytes.push_back(data.size() >> 8);
    bytes.insert(bytes.end(), data.begin(), data.end());
    return offset;
}

void BiffWriter::Patch32(size_t recordOffset, size_t at, std::uint32_t value)
{
    for (int k = 0; k < 4; ++k) {
        bytes.at(recordOffset + 4 + at + k) = static_cast<std::uint8_t>(value >> (8 * k));
    }
}

Bytes Le16(std::initializer_list<std::uint32_t> values)
{
    Bytes out;
    for (std::uint32_t v : values) {
        out.push_back(v & 0xFF);
        out.push_back((v >> 8) & 0xFF);
    }
    return out;
}

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace quorvel::test
