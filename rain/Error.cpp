#include "rain/Error.h"

namespace quorvel {

namespace {

// The kind in English words: "file not found", ...
const char* KindName(ErrorKind kind)
{
    switch (kind) {
    case ErrorKind::FileNotFound: return "file not found";
    case ErrorKind::InputPastEndOfFile: return "input past end of file";
    case ErrorKind::TypeMismatch: return "type mismatch";
    case ErrorKind::Overflow: return "overflow";
    case ErrorKind::SubscriptOutOfRange: return "subscript out of range";
    case ErrorKind::FloatingPoint: return "floating-point failure";
    case ErrorKind::PathAccess: return "path/file access error";
    case ErrorKind::BadFileFormat: return "bad file format";
    case ErrorKind::NoValidData: return "no valid data";
    }
    return "unknown failure";
}

// The kind in Italian words: "File non trovato", ...
const char* KindNameItalian(ErrorKind kind)
{
    switch (kind) {
    case ErrorKind::FileNotFound: return "File non trovato";
    case ErrorKind::InputPastEndOfFile: return "Input oltre la fine del file";
    case ErrorKind::TypeMismatch: return "Tipo non corrispondente";
    case ErrorKind::Overflow: return "Overflow";
    case ErrorKind::SubscriptOutOfRange: return "Indice non compreso nell'intervallo";
    case ErrorKind::FloatingPoint: return "Errore di calcolo in virgola mobile";
    case ErrorKind::PathAccess: return "Errore di accesso al percorso o al file";
    case ErrorKind::BadFileFormat: return "Formato del file non valido";
    case ErrorKind::NoValidData: return "Dati non validi";
    }
    return "Errore sconosciuto";
}

std::string Compose(ErrorKind kind, const std::string& file, const std::string& detail)
{
    std::string text = KindName(kind);
    if (!file.empty())
        text += ": " + file;
    if (!detail.empty())
        text += " (" + detail + ")";
    return text;
}

}  // namespace

Error::Error(ErrorKind kind, std::string file, std::string detail)
    : std::runtime_error(Compose(kind, file, detail)),
      kind_(kind),
      file_(std::move(file)),
      detail_(std::move(detail))
{
}

std::string ItalianMessage(const Error& error)
{
    std::string text = KindNameItalian(error.kind());
    if (!error.file().empty())
        text += ": " + error.file();
    if (!error.detail().empty())
        text += "\n" + error.detail();
    return text;
}

}  // namespace quorvel
