#include "rain/Error.h"

#include <cerrno>
#include <cstring>

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
    case ErrorKind::NoValidRainfall: return "no valid rainfall";
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
    case ErrorKind::NoValidRainfall: return "Pioggia non valida";
    }
    return "Errore sconosciuto";
}

// The failures of reading and writing files, and a few of their neighbours.
const char* ItalianSystemText(int code)
{
    switch (code) {
    case ENOENT: return "file o cartella inesistente";
    case ENOTDIR: return "un elemento del percorso non è una cartella";
    case EISDIR: return "è una cartella";
    case EACCES: return "permesso negato";
    case EPERM: return "operazione non permessa";
    case EROFS: return "file system in sola lettura";
    case ENOSPC: return "spazio esaurito sul dispositivo";
    case EDQUOT: return "quota del disco superata";
    case EFBIG: return "file troppo grande";
    case EIO: return "errore di input/output";
    case ENAMETOOLONG: return "nome del file troppo lungo";
    case ELOOP: return "troppi livelli di collegamenti simbolici";
    case EMFILE: return "troppi file aperti";
    case ENFILE: return "troppi file aperti nel sistema";
    case ENOMEM: return "memoria esaurita";
    case EEXIST: return "il file esiste già";
    case EBUSY: return "dispositivo o risorsa occupata";
    case ETXTBSY: return "file di testo occupato";
    case EXDEV: return "collegamento tra dispositivi diversi non valido";
    case EINVAL: return "argomento non valido";
    case ENXIO: return "dispositivo o indirizzo inesistente";
    case ESTALE: return "riferimento al file non più valido";
    case EAGAIN: return "risorsa temporaneamente non disponibile";
    case EINTR: return "chiamata di sistema interrotta";
    }
    return nullptr;
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

Error::Error(ErrorKind kind, std::string file, ErrorDetail detail)
    : std::runtime_error(Compose(kind, file, detail.english)),
      kind_(kind),
      file_(std::move(file)),
      detail_(std::move(detail))
{
}

ErrorDetail SystemDetail(int code)
{
    // strerrordesc_np, unlike strerror, never follows the locale.
    const char* english = ::strerrordesc_np(code);
    const std::string number = std::to_string(code);
    const char* italian = ItalianSystemText(code);
    return {english ? english : "system error " + number,
            italian ? italian : "errore di sistema " + number};
}

std::string ItalianMessage(const Error& error)
{
    std::string text = KindNameItalian(error.kind());
    if (!error.file().empty())
        text += ": " + error.file();
    if (!error.italianDetail().empty())
        text += "\n" + error.italianDetail();
    return text;
}

}  // namespace quorvel
