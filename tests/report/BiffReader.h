#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Independent readers for the tests: BIFF8 records, the compound file
// through libgsf, and a consistency check of the row index's offsets.
namespace quorvel::test {

using Bytes = std::vector<std::uint8_t>;

struct BiffRecord {
    std::uint16_t type = 0;
    std::uint32_t offset = 0;
    Bytes data;
    int sheet = -1;  // -1 in the globals, then the sheets in stream order
    bool nested = false;
};

std::uint16_t Get16(const Bytes& data, size_t at);
std::uint32_t Get32(const Bytes& data, size_t at);
double GetDouble(const Bytes& data, size_t at);

std::vector<BiffRecord> ReadBiff(const Bytes& stream);
// The first and last column of a cell record; nothing for other records.
std::optional<std::pair<int, int>> CellColumns(const BiffRecord& record);

struct CompoundEntry {
    std::string path;
    bool storage = false;
    bool hasClassId = false;
    std::array<std::uint8_t, 16> classId{};
    Bytes bytes;
    bool operator==(const CompoundEntry&) const = default;
};
// Every storage and stream, root first, depth first, in directory order.
std::vector<CompoundEntry> ReadCompoundFile(const Bytes& file);
Bytes WorkbookStream(const Bytes& file);
// A compound file of root-level streams.
Bytes MakeCompoundFile(const std::vector<std::pair<std::string, Bytes>>& streams);

// Empty when every INDEX, DBCELL and DIMENSIONS agrees with the records, otherwise
// the first disagreement (the readers of check_report.py check the sheet offsets).
std::string OffsetProblems(const Bytes& stream);

Bytes ReadFileBytes(const std::string& path);

// Builds BIFF records.
struct BiffWriter {
    Bytes bytes;
    size_t Add(std::uint16_t type, const Bytes& data);  // returns the record's offset
    void Patch32(size_t recordOffset, size_t at, std::uint32_t value);
};
Bytes Le16(std::initializer_list<std::uint32_t> values);
Bytes operator+(Bytes a, const Bytes& b);

}  // namespace quorvel::test
