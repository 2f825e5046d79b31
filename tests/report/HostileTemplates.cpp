#include "HostileTemplates.h"

#include <cstring>

namespace quorvel::test {
namespace {

constexpr std::uint32_t kFreeSector = 0xFFFFFFFF;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kFatSector = 0xFFFFFFFD;
constexpr std::uint32_t kNoEntry = 0xFFFFFFFF;

void Put32(Bytes& bytes, std::size_t at, std::uint32_t value)
{
    for (int k = 0; k < 4; ++k) {
        bytes[at + k] = static_cast<std::uint8_t>(value >> (8 * k));
    }
}

Bytes Text16(const std::string& text)
{
    Bytes out(64, 0);
    for (std::size_t i = 0; i < text.size() && i < 31; ++i) {
        out[2 * i] = static_cast<std::uint8_t>(text[i]);
    }
    return out;
}

// One directory entry of a version 3 compound file.
Bytes Entry(const std::string& name, std::uint8_t type, std::uint32_t left, std::uint32_t right,
            std::uint32_t child)
{
    Bytes entry = Text16(name);
    entry.resize(128, 0);
    entry[0x40] = static_cast<std::uint8_t>(2 * (name.size() + 1));
    entry[0x42] = type;
    entry[0x43] = 1;  // black
    Put32(entry, 0x44, left);
    Put32(entry, 0x48, right);
    Put32(entry, 0x4C, child);
    Put32(entry, 0x74, kEndOfChain);
    return entry;
}

}  // namespace

Bytes Bof(std::uint16_t kind)
{
    return Le16({0x0600, kind, 0x0DBB, 0x07CC, 0, 0, 6, 0});
}

Bytes ChainedDirectory(std::size_t count)
{
    const std::size_t entries = count + 1;
    const std::size_t directorySectors = (entries + 3) / 4;
    std::size_t fatSectors = 1;
    while (fatSectors * 128 < fatSectors + directorySectors) {
        ++fatSectors;
    }
    Bytes file(512 * (1 + fatSectors + directorySectors), 0);
    const std::uint8_t signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::memcpy(file.data(), signature, 8);
    const Bytes header = Le16({0x3E, 3, 0xFFFE, 9, 6});
    std::copy(header.begin(), header.end(), file.begin() + 0x18);
    Put32(file, 0x2C, static_cast<std::uint32_t>(fatSectors));
    Put32(file, 0x30, static_cast<std::uint32_t>(fatSectors));
    Put32(file, 0x38, 4096);
    Put32(file, 0x3C, kEndOfChain);
    Put32(file, 0x44, kEndOfChain);
    for (std::size_t i = 0; i < 109; ++i) {
        Put32(file, 0x4C + 4 * i, i < fatSectors ? static_cast<std::uint32_t>(i) : kFreeSector);
    }
    for (std::size_t sector = 0; sector < fatSectors * 128; ++sector) {
        std::uint32_t next = kFreeSector;
        if (sector < fatSectors) {
            next = kFatSector;
        } else if (sector + 1 < fatSectors + directorySectors) {
            next = static_cast<std::uint32_t>(sector + 1);
        } else if (sector + 1 == fatSectors + directorySectors) {
            next = kEndOfChain;
        }
        Put32(file, 512 + 4 * sector, next);
    }
    for (std::size_t i = 0; i < entries; ++i) {
        const Bytes entry = i == 0 ? Entry("Root Entry", 5, kNoEntry, kNoEntry, 1)
                                   : Entry("S" + std::to_string(i), 2, kNoEntry,
                                           i < count ? static_cast<std::uint32_t>(i + 1) : kNoEntry, kNoEntry);
        std::copy(entry.begin(), entry.end(), file.begin() + 512 * (1 + fatSectors) + 128 * i);
    }
    return file;
}

Bytes NumberRecord(std::uint16_t row, std::uint16_t column, double value, std::uint16_t xf)
{
    Bytes record = Le16({0x0203, 14, row, column, xf});
    record.resize(18);
    std::memcpy(record.data() + 10, &value, 8);
    return record;
}

Bytes SmallWorkbook(const Bytes& extra, const Bytes& extraGlobals)
{
    BiffWriter w;
    w.Add(0x0809, Bof(0x0005));
    w.Add(0x0031, Le16({200, 0, 0x7FFF, 400, 0, 0, 0}) + Bytes{5, 0, 'A', 'r', 'i', 'a', 'l'});
    for (int xf = 0; xf < 16; ++xf) {
        w.Add(0x00E0, Le16({0, 0, 0xFFF5, 0x20, 0, 0, 0, 0, 0, 0}));
    }
    const std::size_t sheet = w.Add(0x0085, Le16({0, 0, 0}) + Bytes{1, 0, 'P'});
    w.bytes.insert(w.bytes.end(), extraGlobals.begin(), extraGlobals.end());
    w.Add(0x000A, {});
    w.Patch32(sheet, 0, static_cast<std::uint32_t>(w.bytes.size()));
    w.Add(0x0809, Bof(0x0010));
    w.Add(0x0200, Le16({0, 0, 13, 0, 0, 8, 0}));
    const Bytes number = NumberRecord(5, 2, 999);
    w.bytes.insert(w.bytes.end(), number.begin(), number.end());
    w.bytes.insert(w.bytes.end(), extra.begin(), extra.end());
    w.Add(0x023E, Le16({0x06B6, 0, 0, 0x40, 0, 0, 0, 0, 0}));
    w.Add(0x000A, {});
    return w.bytes;
}

}  // namespace quorvel::test
