#pragma once

#include <stdexcept>
#include <string>

namespace quorvel {

// The ways an action of the program can fail. The first six are the failures
// the rainfall run and the map workspace are written against; the next two
// cover files we write or whose inner format we read ourselves; the last a
// grid cell whose parameters are a no-data marker rather than data, or whose
// rainfall cannot be real.
enum class ErrorKind {
    FileNotFound,
    InputPastEndOfFile,
    TypeMismatch,
    Overflow,
    SubscriptOutOfRange,
    FloatingPoint,
    PathAccess,     // a file or folder exists but cannot be read or written
    BadFileFormat,  // a file that is not what it should be (including GDAL's refusals)
    NoValidData,    // a cell with a2 or a1 not above 0, or cv below 0 (sea, outside the region)
    NoValidRainfall,  // a cell whose parameters give quantiles no rain can have
};

// What exactly went wrong, beyond the kind, in both the program's languages:
// English for what() and quorvel-batch, Italian for the user's messages.
struct ErrorDetail {
    std::string english;
    std::string italian;  // UTF-8
};

// The one error type of the core. It names what went wrong and the file it
// concerns (empty when no file is involved), with a detail when there is more
// to say.
class Error : public std::runtime_error {
public:
    Error(ErrorKind kind, std::string file, ErrorDetail detail = {});

    ErrorKind kind() const noexcept { return kind_; }
    const std::string& file() const noexcept { return file_; }
    const std::string& detail() const noexcept { return detail_.english; }
    const std::string& italianDetail() const noexcept { return detail_.italian; }

private:
    ErrorKind kind_;
    std::string file_;
    ErrorDetail detail_;
};

// The system's words for an errno value. The Italian ones come from our own
// table: the C library speaks the user's locale, which need not be Italian.
ErrorDetail SystemDetail(int code);

// A complete sentence in Italian for the user: the kind, the file and the
// detail, in UTF-8.
std::string ItalianMessage(const Error& error);

}  // namespace quorvel
