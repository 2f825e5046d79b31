#include "window/ComuniTable.h"

#include <algorithm>

#include "rain/DataFile.h"
#include "rain/Error.h"

namespace quorvel {

namespace {

// 0x80 to 0x9F, the only range where Windows-1252 differs from Latin-1.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// 219 short lines: a file much larger is not the table, and read whole it
// could fill the memory.
constexpr std::size_t kMaxTableSize = std::size_t(1) << 20;

// Fields are cut by byte position, one byte per character, before decoding.
QString Field(const QByteArray& line, qsizetype first, qsizetype width)
{
    if (first >= line.size())
        return {};
    QByteArray bytes = line.mid(first, width);
    qsizetype begin = 0;
    qsizetype end = bytes.size();
    while (begin < end && bytes[begin] == ' ')
        ++begin;
    while (end > begin && bytes[end - 1] == ' ')
        --end;
    return FromWindows1252(bytes.constData() + begin, end - begin);
}

}  // namespace

QString FromWindows1252(const char* bytes, qsizetype size)
{
    QString text(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        text[i] = (byte >= 0x80 && byte < 0xA0) ? QChar(kHighControls[byte - 0x80]) : QChar(byte);
    }
    return text;
}

ComuniTable LoadComuniTable(const QString& path)
{
    const std::string name = path.toStdString();
    const std::string bytes = ReadDataFile(name, kMaxTableSize);
    const QByteArray content = QByteArray::fromRawData(bytes.data(), qsizetype(bytes.size()));

    ComuniTable table;
    int row = 1;
    qsizetype pos = 0;
    while (pos < content.size()) {
        qsizetype end = pos;
        while (end < content.size() && content[end] != '\r' && content[end] != '\n')
            ++end;
        const QByteArray line = content.mid(pos, end - pos);
        pos = end + 1;
        if (end < content.size() && content[end] == '\r' && pos < content.size() && content[pos] == '\n')
            ++pos;

        if (row > ComuniTable::kRows)
            throw Error(ErrorKind::SubscriptOutOfRange, name);
        table.Cell(row, 1) = Field(line, 0, 10);
        table.Cell(row, 2) = Field(line, 10, 40);
        table.Cell(row, 3) = Field(line, 50, 10);
        table.Cell(row, 4) = Field(line, 60, 10);
        table.Cell(row, 5) = Field(line, std::max<qsizetype>(0, line.size() - 10), 10);
        ++row;
    }
    return table;
}

}  // namespace quorvel
