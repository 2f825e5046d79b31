#include "batch/Csv.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <system_error>

#include <unistd.h>

#include "rain/Error.h"

namespace quorvel::batch {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

bool IsLineEnd(char c)
{
    return c == '\n' || c == '\r';
}

}  // namespace

bool CsvRecord::IsBlank() const
{
    return std::all_of(fields.begin(), fields.end(), [](std::string_view f) { return f.empty(); });
}

CsvReader::CsvReader(int fd, std::string name, std::size_t bufferSize)
    : fd_(fd), name_(std::move(name)), buffer_(std::max<std::size_t>(bufferSize, 16))
{
}

void CsvReader::Fill()
{
    if (eof_)
        return;
    if (begin_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    // A record longer than the buffer: make room for it.
    if (end_ == buffer_.size())
        buffer_.resize(buffer_.size() * 2);
    for (;;) {
        const ssize_t got = ::read(fd_, buffer_.data() + end_, buffer_.size() - end_);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throw Error(ErrorKind::PathAccess, name_, SystemDetail(errno));
        }
        if (got == 0)
            eof_ = true;
        end_ += std::size_t(got);
        return;
    }
}

std::size_t CsvReader::Scan(char sep, CsvRecord& record, std::uint64_t& lineBreaks)
{
    const char* const first = buffer_.data() + begin_;
    const char* const last = buffer_.data() + end_;
    const auto blank = [sep](char c) { return c == ' ' || (c == '\t' && sep != '\t'); };
    const auto ends = [sep](char c) { return c == sep || c == '\n' || c == '\r'; };

    record.fields.clear();
    record.rebuilt.clear();
    // Rebuilt text is never longer than the record, so the views into it
    // stay put while the record is split.
    record.rebuilt.reserve(std::size_t(last - first));
    lineBreaks = 0;

    const char* s = first;
    for (;;) {
        while (s < last && blank(*s))
            ++s;
        std::string_view field;
        if (s < last && *s == '"') {
            const char* const text = ++s;
            const std::size_t from = record.rebuilt.size();
            bool rebuilt = false;
            const char* quote;
            for (;;) {
                quote = static_cast<const char*>(std::memchr(s, '"', std::size_t(last - s)));
                // A quote still open where its line ends would take the lines
                // after it for one field: a stray quote must not swallow rows.
                const char* const stop = quote ? quote : last;
                if (std::find_if(s, stop, IsLineEnd) != stop || (!quote && eof_))
                    throw Error(ErrorKind::BadFileFormat, name_,
                                {"line " + std::to_string(line_) + ": a quote is still open at the end of the line",
                                 "riga " + std::to_string(line_) + ": virgolette ancora aperte alla fine della riga"});
                if (!quote)
                    return 0;
                if (quote + 1 == last && !eof_)
                    return 0;
                if (quote + 1 < last && quote[1] == '"') {
                    record.rebuilt.append(s, quote + 1);
                    rebuilt = true;
                    s = quote + 2;
                    continue;
                }
                break;
            }
            // Text after the closing quote is kept rather than lost.
            const char* tail = quote + 1;
            const char* tailEnd = tail;
            while (tailEnd < last && !ends(*tailEnd))
                ++tailEnd;
            const char* trimmed = tailEnd;
            while (trimmed > tail && blank(trimmed[-1]))
                --trimmed;
            if (trimmed > tail) {
                if (!rebuilt)
                    record.rebuilt.append(text, quote);
                else
                    record.rebuilt.append(s, quote);
                record.rebuilt.append(tail, trimmed);
                rebuilt = true;
            } else if (rebuilt) {
                record.rebuilt.append(s, quote);
            }
            field = rebuilt ? std::string_view(record.rebuilt).substr(from)
                            : std::string_view(text, std::size_t(quote - text));
            s = tailEnd;
        } else {
            const char* e = s;
            while (e < last && !ends(*e))
                ++e;
            const char* trimmed = e;
            while (trimmed > s && blank(trimmed[-1]))
                --trimmed;
            field = std::string_view(s, std::size_t(trimmed - s));
            s = e;
        }

        if (std::size_t(s - first) > kMaxLineBytes)
            throw LineTooLong();
        if (s == last) {
            if (!eof_)
                return 0;
            record.fields.push_back(field);
            return std::size_t(last - first);
        }
        if (*s == sep) {
            record.fields.push_back(field);
            ++s;
            continue;
        }
        if (*s == '\r' && s + 1 == last && !eof_)
            return 0;
        record.fields.push_back(field);
        ++lineBreaks;
        if (*s == '\r' && s + 1 < last && s[1] == '\n')
            ++s;
        return std::size_t(s + 1 - first);
    }
}

Error CsvReader::LineTooLong() const
{
    return Error(ErrorKind::BadFileFormat, name_,
                 {"line " + std::to_string(line_) + " is longer than 1 MiB",
                  "la riga " + std::to_string(line_) + " è più lunga di 1 MiB"});
}

bool CsvReader::Peek(char sep, CsvRecord& record)
{
    if (!started_) {
        started_ = true;
        while (end_ < kUtf8Bom.size() && !eof_)
            Fill();
        start_.assign(buffer_.data(), std::min<std::size_t>(end_, 4));
        if (std::string_view(buffer_.data(), end_).starts_with(kUtf8Bom))
            begin_ = kUtf8Bom.size();
    }
    for (;;) {
        if (begin_ == end_) {
            if (eof_)
                return false;
            Fill();
            continue;
        }
        std::uint64_t lineBreaks = 0;
        const std::size_t used = Scan(sep, record, lineBreaks);
        if (used == 0) {
            // Memory stays bounded whatever the input: an endless line (from
            // /dev/zero, say) ends the reading here.
            if (end_ - begin_ > kMaxLineBytes + 1)
                throw LineTooLong();
            Fill();
            continue;
        }
        record.line = line_;
        if (record.IsBlank()) {
            begin_ += used;
            line_ += lineBreaks;
            continue;
        }
        peeked_ = used;
        peekedLineBreaks_ = lineBreaks;
        return true;
    }
}

void CsvReader::Skip()
{
    begin_ += peeked_;
    line_ += peekedLineBreaks_;
    peeked_ = 0;
    peekedLineBreaks_ = 0;
}

bool CsvReader::Next(char sep, CsvRecord& record)
{
    if (!Peek(sep, record))
        return false;
    Skip();
    return true;
}

NumberStatus ParseSingle(std::string_view text, bool commaDecimal, float& value)
{
    return commaDecimal ? ReadSingle(text, {".", ","}, value) : ReadSingle(text, {"."}, value);
}

void AppendSingle(std::string& out, float value)
{
    // Fixed notation of a single needs at most 48 characters (the smallest
    // subnormal), plus the sign.
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed);
    out.append(text, result.ptr);
}

void AppendInteger(std::string& out, std::int64_t value)
{
    char text[24];
    const auto result = std::to_chars(text, text + sizeof text, value);
    out.append(text, result.ptr);
}

void AppendField(std::string& out, std::string_view text)
{
    // Blanks at either end are quoted too: an unquoted field loses them when read.
    const bool quote = text.find_first_of(",\"\r\n") != std::string_view::npos ||
                       (!text.empty() && (text.front() == ' ' || text.front() == '\t' ||
                                          text.back() == ' ' || text.back() == '\t'));
    if (!quote) {
        out.append(text);
        return;
    }
    out.push_back('"');
    for (const char c : text) {
        if (c == '"')
            out.push_back('"');
        out.push_back(c);
    }
    out.push_back('"');
}

}  // namespace quorvel::batch
