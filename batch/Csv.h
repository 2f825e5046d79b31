#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "rain/Error.h"
#include "rain/NumberText.h"

namespace quorvel::batch {

// One record of a CSV file: its fields, quotes undone and surrounding blanks
// removed, and the line of the file it starts on (1-based). The fields stay
// valid until the reader is asked for the next record.
struct CsvRecord {
    std::vector<std::string_view> fields;
    std::uint64_t line = 0;
    // Holds the fields whose text had to be rebuilt (doubled quotes undone).
    std::string rebuilt;

    bool IsBlank() const;
};

// Longer lines are refused: no point needs them, and the memory stays bounded.
inline constexpr std::size_t kMaxLineBytes = std::size_t(1) << 20;

// Reads CSV records, one a line (RFC 4180 quoted fields and doubled quotes,
// but a quoted field ends on its line), from a file descriptor through one
// large buffer, so a file of any length streams through a fixed amount of
// memory. Lines may end in CR LF, LF or CR; a UTF-8 byte order mark at the
// start is skipped. Records that hold nothing but blanks and separators are
// skipped. A line longer than kMaxLineBytes, or one that ends inside quotes,
// throws Error(BadFileFormat) naming the file and the line.
class CsvReader {
public:
    // name is the file's name for messages; the descriptor stays the caller's.
    CsvReader(int fd, std::string name, std::size_t bufferSize = std::size_t(1) << 20);

    // The next record split at sep, without consuming it. False at the end.
    bool Peek(char sep, CsvRecord& record);
    // Peek, then consume.
    bool Next(char sep, CsvRecord& record);
    // Consumes the record the last Peek returned.
    void Skip();

    // The first bytes of the file as read, for telling what kind of file it is.
    std::string_view Start() const { return {start_.data(), start_.size()}; }

private:
    // Reads more input behind what is buffered, first moving the unread part to
    // the front (and growing the buffer when that part fills it); at the end of
    // the input it marks the end instead.
    void Fill();
    // Splits the record at the read position. The number of bytes it takes with
    // its line end, or 0 when the buffered input ends before the record does.
    std::size_t Scan(char sep, CsvRecord& record, std::uint64_t& lineBreaks);
    Error LineTooLong() const;

    int fd_;
    std::string name_;
    std::vector<char> buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    bool eof_ = false;
    bool started_ = false;
    std::uint64_t line_ = 1;
    std::size_t peeked_ = 0;
    std::uint64_t peekedLineBreaks_ = 0;
    std::string start_;
};

// A coordinate as the coordinate dialog reads it (ReadSingle); the decimal
// separator is "." or, when commaDecimal, "." or ",".
NumberStatus ParseSingle(std::string_view text, bool commaDecimal, float& value);

// The shortest decimal text, without exponent, that reads back to exactly
// this single-precision value.
void AppendSingle(std::string& out, float value);
void AppendInteger(std::string& out, std::int64_t value);
// The text as one CSV field: as it is, or in double quotes with its quotes
// doubled when it holds a comma, a quote or a line break.
void AppendField(std::string& out, std::string_view text);

}  // namespace quorvel::batch
