#include "LoadTemplates.h"

namespace quorvel::test {
namespace {

// Records of one type, each with data, until they add up to at least size bytes.
Bytes Repeated(std::uint16_t type, const Bytes& data, std::size_t size)
{
    BiffWriter w;
    while (w.bytes.size() < size) {
        w.Add(type, data);
    }
    return w.bytes;
}

}  // namespace

std::vector<HostileTemplate> HostileTemplates(std::size_t size)
{
    // Room for the compound file around the stream.
    const std::size_t stream = size - size / 16;
    std::vector<HostileTemplate> templates;
    auto add = [&](const char* name, const Bytes& extra, const Bytes& extraGlobals = {}) {
        templates.push_back({name, MakeCompoundFile({{"Workbook", SmallWorkbook(extra, extraGlobals)}})});
    };

    Bytes duplicates;
    while (duplicates.size() < stream) {
        const Bytes number = NumberRecord(5, 2, 999);
        duplicates.insert(duplicates.end(), number.begin(), number.end());
    }
    add("duplicate records of a report cell", duplicates);

    Bytes cells;
    for (std::uint16_t row = 20; cells.size() < stream / 2; ++row) {
        for (std::uint16_t column = 0; column < 8; ++column) {
            const Bytes number = NumberRecord(row, column, row * 8.0 + column);
            cells.insert(cells.end(), number.begin(), number.end());
        }
    }
    Bytes ranges = Le16({1024});
    for (std::uint16_t k = 0; k < 1024; ++k) {
        ranges = ranges + Le16({k, k, 20, 20});
    }
    add("merged ranges over many cells", cells + Repeated(0x00E5, ranges, stream / 2));

    add("column widths", Repeated(0x007D, Le16({0, 7, 0x0924, 15, 0, 0}), stream));

    // One long shared string shown by every cell of columns A to H.
    Bytes sst = Le16({0xFFFF, 0xFFFF, 1, 0, 8000}) + Bytes{0} + Bytes(8000, 'W');
    Bytes labels;
    for (std::uint16_t row = 20; labels.size() < stream / 2; ++row) {
        for (std::uint16_t column = 0; column < 8; ++column) {
            BiffWriter w;
            w.Add(0x00FD, Le16({row, column, 15, 0, 0}));
            labels = labels + w.bytes;
        }
    }
    BiffWriter globals;
    globals.Add(0x00FC, sst);
    add("one long shared string in every cell", labels, globals.bytes);

    // A shared string table in many small pieces, indexed bucket by bucket.
    BiffWriter pieces;
    pieces.Add(0x00FC, Le16({0, 0, 0, 0}));
    while (pieces.bytes.size() < stream / 2) {
        pieces.Add(0x003C, Bytes{0});
    }
    Bytes buckets = Le16({8});
    for (int k = 0; k < 1000; ++k) {
        buckets = buckets + Le16({0xFFFF, 0x7FFF, 0, 0});
    }
    add("shared strings in pieces with many buckets", {},
        pieces.bytes + Repeated(0x00FF, buckets, stream / 2));

    // Many sheets, each named in the globals.
    BiffWriter book;
    book.Add(0x0809, Bof(0x0005));
    for (int xf = 0; xf < 16; ++xf) {
        book.Add(0x00E0, Le16({0, 0, 0xFFF5, 0x20, 0, 0, 0, 0, 0, 0}));
    }
    std::vector<std::size_t> names;
    for (std::size_t used = 0; used < stream; used += 14 + 24) {
        names.push_back(book.Add(0x0085, Le16({0, 0, 0}) + Bytes{1, 0, 'P'}));
    }
    book.Add(0x000A, {});
    for (const std::size_t name : names) {
        book.Patch32(name, 0, static_cast<std::uint32_t>(book.bytes.size()));
        book.Add(0x0809, Bof(0x0010));
        if (name == names.front()) {
            book.Add(0x0200, Le16({0, 0, 13, 0, 0, 8, 0}));
        }
        book.Add(0x000A, {});
    }
    templates.push_back({"many sheets", MakeCompoundFile({{"Workbook", book.bytes}})});

    // Every cell shown through one long number format of its own.
    BiffWriter format;
    format.Add(0x041E, Le16({164, 4000}) + Bytes{0} + Bytes(2000, '0') + Bytes(2000, '#'));
    format.Add(0x00E0, Le16({0, 164, 0xFFF5, 0x20, 0, 0, 0, 0, 0, 0}));
    Bytes formatted;
    for (std::uint16_t row = 20; formatted.size() < stream - 8100; ++row) {
        for (std::uint16_t column = 0; column < 8; ++column) {
            const Bytes number = NumberRecord(row, column, row * 8.0 + column, 16);
            formatted.insert(formatted.end(), number.begin(), number.end());
        }
    }
    add("a long number format in every cell", formatted, format.bytes);

    BiffWriter rows;
    for (std::uint16_t row = 20; rows.bytes.size() < stream; ++row) {
        rows.Add(0x0208, Le16({row, 0, 1, 0xFF, 0, 0, 0x100, 15}));
    }
    add("many rows", rows.bytes);

    // Formulas, each summing every number of the sheet, and a chain of
    // formulas, each reading the one below it.
    auto formula = [](std::uint16_t row, const Bytes& tokens) {
        BiffWriter w;
        w.Add(0x0006, Le16({row, 9, 15, 0, 0, 0, 0, 1, 0, 0}) + Le16({std::uint32_t(tokens.size())}) + tokens);
        return w.bytes;
    };
    Bytes sums = cells;
    for (std::uint16_t row = 20; sums.size() < stream; ++row) {
        const Bytes f = formula(row, Bytes{0x25} + Le16({0, 0xFFFF, 0, 7}) + Bytes{0x22, 1, 4, 0});
        sums.insert(sums.end(), f.begin(), f.end());
    }
    add("formulas summing every cell", sums);
    Bytes chain;
    for (std::uint16_t row = 20; chain.size() < stream && row < 0xFFFF; ++row) {
        const Bytes f = formula(row, Bytes{0x24} + Le16({row + 1u, 9}) + Bytes{0x1E, 1, 0, 0x03});
        chain.insert(chain.end(), f.begin(), f.end());
    }
    add("a chain of formulas", chain);

    templates.push_back({"a directory of chained entries", ChainedDirectory(size / 128)});
    return templates;
}

}  // namespace quorvel::test
