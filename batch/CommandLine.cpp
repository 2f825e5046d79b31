#include "batch/CommandLine.h"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <string>
#include <string_view>

#include "rain/Error.h"

namespace quorvel::batch {

namespace {

// Stores an option's value; an option given twice or without a value is refused.
void Take(std::string& slot, bool& seen, std::string_view option, const char* value)
{
    if (seen)
        throw StartError(std::string(option) + " given twice");
    if (value == nullptr || *value == '\0')
        throw StartError(std::string(option) + " needs a value");
    // "-o -h" is an option forgotten, not a file named "-h".
    if (value[0] == '-' && value[1] != '\0')
        throw StartError(std::string(option) + " needs a value, not the option " + value +
                         " (a file of that name is ./" + value + ")");
    slot = value;
    seen = true;
}

// The durations' and hyetographs' options, each under its English and Italian name.
struct StormOption {
    const char* name;
    const char* italian;
};
constexpr StormOption kStormOptions[] = {
    {"--durations", "--durate"},      {"--hyetographs", "--ietogramma"}, {"--storm-duration", "--durata"},
    {"--step", "--passo"},            {"--method", "--metodo"},          {"--peak", "--picco"},
    {"--return-period", "--tempo-ritorno"}, {"--format", "--formato"},   {"--start", "--inizio"},
};

// The index of the storm option arg names ("--name" or "--name=value"), or -1.
int StormOptionOf(std::string_view arg)
{
    const std::string_view name = arg.substr(0, arg.find('='));
    for (int i = 0; i < int(std::size(kStormOptions)); ++i)
        if (name == kStormOptions[i].name || name == kStormOptions[i].italian)
            return i;
    return -1;
}

// The storm options' values into options; StartError for a value that is not one.
void ApplyStormOptions(const std::string (&values)[std::size(kStormOptions)], BatchOptions& options)
{
    const auto refuse = [](int option, const std::string& why) {
        return StartError(std::string(kStormOptions[option].italian) + ": " + why);
    };
    options.durations = values[0];
    options.stormsDir = values[1];
    for (int i = 2; i < int(std::size(kStormOptions)); ++i)
        if (!values[i].empty() && values[1].empty())
            throw StartError(std::string(kStormOptions[i].italian) + " goes with --ietogramma");
    try {
        if (!values[2].empty()) {
            const std::vector<Duration> duration = ParseDurations(values[2]);
            if (duration.size() != 1)
                throw refuse(2, "one duration");
            options.storm.hours = duration.front().hours;
        }
        if (!values[4].empty())
            options.storm.method = ParseStormMethod(values[4]);
        if (!values[7].empty())
            options.stormFormat = ParseStormFormat(values[7]);
        if (!values[8].empty())
            options.stormStart = ParseStormStart(values[8]);
    } catch (const Error& error) {
        throw StartError(error.detail());
    }
    const auto number = [&](int option, auto& slot) {
        if (values[option].empty())
            return;
        const std::string& text = values[option];
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), slot);
        if (error != std::errc() || end != text.data() + text.size())
            throw refuse(option, "not a number: " + text.substr(0, 20));
    };
    number(3, options.storm.stepMinutes);
    number(5, options.storm.peak);
    number(6, options.stormReturnPeriod);
    if (std::find(kReturnPeriods.begin(), kReturnPeriods.end(), options.stormReturnPeriod) == kReturnPeriods.end())
        throw refuse(6, "one of 2, 5, 10, 20, 50, 100, 200");
}

}  // namespace

CommandLine ParseCommandLine(int argc, const char* const* argv)
{
    CommandLine line;
    std::string stormValues[std::size(kStormOptions)];
    bool stormSeen[std::size(kStormOptions)] = {};
    bool points = false, output = false, reports = false, sheets = false, folder = false, crs = false,
         grids = false, optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        if (optionsEnded || arg.empty() || arg == "-" || arg[0] != '-') {
            if (points)
                throw StartError("more than one points file: " + std::string(arg));
            line.options.pointsPath = std::string(arg);
            points = true;
            if (arg.empty())
                throw StartError("the points file has an empty name");
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "-h" || arg == "--help") {
            line.help = true;
        } else if (arg == "--check" || arg == "--verifica") {
            line.check = true;
        } else if (arg == "-o" || arg == "--output") {
            Take(line.options.resultsPath, output, arg, next);
            ++i;
        } else if (arg.starts_with("--output=")) {
            Take(line.options.resultsPath, output, "--output", argv[i] + 9);
        } else if (arg == "--reports") {
            Take(line.options.reportsDir, reports, arg, next);
            ++i;
        } else if (arg.starts_with("--reports=")) {
            Take(line.options.reportsDir, reports, "--reports", argv[i] + 10);
        } else if (arg == "--pdf") {
            Take(line.options.sheetsDir, sheets, arg, next);
            ++i;
        } else if (arg.starts_with("--pdf=")) {
            Take(line.options.sheetsDir, sheets, "--pdf", argv[i] + 6);
        } else if (arg == "--folder" || arg == "--cartella") {
            Take(line.options.folder, folder, "--folder", next);
            ++i;
        } else if (arg.starts_with("--folder=") || arg.starts_with("--cartella=")) {
            Take(line.options.folder, folder, "--folder", argv[i] + arg.find('=') + 1);
        } else if (arg == "--crs" || arg.starts_with("--crs=")) {
            std::string name;
            Take(name, crs, "--crs", arg == "--crs" ? next : argv[i] + 6);
            if (arg == "--crs")
                ++i;
            line.options.system = ReferenceSystemFromName(name);
            if (!line.options.system)
                throw StartError("--crs: unknown reference system " + name +
                                 "; use EPSG:3004, EPSG:4326, EPSG:6707, EPSG:6708, wgs84, utm32 or utm33");
        } else if (const int option = StormOptionOf(arg); option >= 0) {
            const std::size_t equals = arg.find('=');
            Take(stormValues[option], stormSeen[option], kStormOptions[option].italian,
                 equals == std::string_view::npos ? next : argv[i] + equals + 1);
            if (equals == std::string_view::npos)
                ++i;
        } else if (arg == "--grids" || arg == "--griglie") {
            Take(line.gridsDir, grids, "--grids", next);
            ++i;
        } else if (arg.starts_with("--grids=") || arg.starts_with("--griglie=")) {
            Take(line.gridsDir, grids, "--grids", argv[i] + arg.find('=') + 1);
        } else {
            throw StartError("unknown option " + std::string(arg));
        }
    }
    if (line.help)
        return line;
    ApplyStormOptions(stormValues, line.options);
    if (line.check) {
        if (output || reports || sheets || crs || std::count(std::begin(stormSeen), std::end(stormSeen), true))
            throw StartError("--check takes no other option than the folder");
        line.checkFolder = points ? line.options.pointsPath : folder ? line.options.folder : ".";
        return line;
    }
    if (grids) {
        if (points || output || reports || sheets || crs)
            throw StartError("--grids takes no other option than --folder");
        return line;
    }
    if (!points)
        throw StartError("no points file given");
    return line;
}

const char* UsageText()
{
    return "Usage: quorvel-batch POINTS.csv [-o RESULTS.csv] [--reports DIR] [--pdf DIR]\n"
           "                    [--folder DIR] [--crs SYSTEM]\n"
           "       quorvel-batch --check [DIR]\n"
           "       quorvel-batch --grids DIR [--folder DIR]\n"
           "\n"
           "Computes the design rainfall of Tervania for every point of POINTS.csv,\n"
           "as Quorvel computes it for one point, with the parameter grids of grd/\n"
           "in the application folder.\n"
           "\n"
           "POINTS.csv  a first line naming the columns id, East and North (or Est and\n"
           "            Nord, in any order and any case; other columns are ignored),\n"
           "            then one point a line, Gauss-Boaga East-zone metres. Fields are\n"
           "            separated by commas, semicolons or tabs; with semicolons or\n"
           "            tabs the decimal separator may be a comma. No digit grouping.\n"
           "            - reads the points from standard input.\n"
           "            Columns named lat and lon (or latitude and longitude) hold\n"
           "            WGS84 degrees, decimal or as 45°30'15.5\"N or 45 30 15.5.\n"
           "--crs SYSTEM\n"
           "            the reference system of the two coordinate columns:\n"
           "            EPSG:3004 (Gauss-Boaga East, the default), EPSG:4326 or wgs84\n"
           "            (East is the longitude, North the latitude), EPSG:6707 or utm32,\n"
           "            EPSG:6708 or utm33 (ETRF2000 / UTM, metres). Points are converted\n"
           "            to Gauss-Boaga with the Helmert transformation EPSG:1660,\n"
           "            accurate to about 4 m.\n"
           "-o RESULTS.csv, --output RESULTS.csv\n"
           "            write the results into this file (replaced only when the run\n"
           "            succeeds) instead of standard output.\n"
           "--reports DIR\n"
           "            also write the report workbook of each point into DIR,\n"
           "            named by its id (DIR/<id>.xls).\n"
           "--pdf DIR   also write a one-page PDF sheet of each point into DIR,\n"
           "            named by its id (DIR/<id>.pdf).\n"
           "--durate LIST, --durations LIST\n"
           "            after every other column, the height h(d, T) in mm of each\n"
           "            duration of LIST (hours, or minutes with \"min\": 10min,0.5,1,3)\n"
           "            for each return period, as columns h_<d>_T<T>, by the\n"
           "            depth-duration law dat/durate.txt of the application folder.\n"
           "--ietogramma DIR, --hyetographs DIR\n"
           "            also write the design hyetograph of each point into DIR, named by\n"
           "            its id, of the storm: --durata D (default 1 h), --passo MIN (1, 5,\n"
           "            10, 15, 30 or 60 dividing D; default 5), --metodo chicago or\n"
           "            alternating-blocks, --picco R (Chicago's peak, 0 to 1; default\n"
           "            0.4), --tempo-ritorno T (default 100), --formato csv, swmm (the\n"
           "            [TIMESERIES] lines, <id>.inp.txt) or rain (a SWMM rain gage file,\n"
           "            <id>.dat) and --inizio YYYY-MM-DD[THH:MM] (the rain file's start).\n"
           "--check [DIR], --verifica [DIR]\n"
           "            examine the application folder DIR (by default the --folder\n"
           "            one, else the current folder) after copying data into it:\n"
           "            every file the program\n"
           "            needs, the grids, the map files and their reference system,\n"
           "            the municipality table and the report template. One line per\n"
           "            finding, then a summary; exit status 0 when the folder is\n"
           "            usable, 1 when it is not.\n"
           "--grids DIR, --griglie DIR\n"
           "            write a2, a1, cv and q2 ... q200 (h 1 hour, mm) of every cell\n"
           "            into DIR as Cloud Optimized GeoTIFF (<name>.tif): EPSG:3004,\n"
           "            500 m cells, float32, no data -9999, each value the one a run of\n"
           "            the cell's centre gives; the grids' SHA-256 in the metadata.\n"
           "--folder DIR, --cartella DIR\n"
           "            the application folder, holding grd/ and the report template\n"
           "            programs/prototipo/pioggeTRNprot.xls; the current folder by\n"
           "            default. The installed command's default is the user's Quorvel\n"
           "            folder, ~/Quorvel or $QUORVEL_HOME, prepared if missing.\n"
           "            POINTS.csv, RESULTS.csv and --reports stay relative to the\n"
           "            current folder.\n"
           "-h, --help  show this text.\n"
           "\n"
           "Results: comma-separated, decimal point, one line per point in input order:\n"
           "id, East, North, row, column, centreEast, centreNorth, a2, a1, cv,\n"
           "q2, q5, q10, q20, q50, q100, q200, error. A point that cannot be computed\n"
           "has its reason in the error column and no values. When the input is not\n"
           "in Gauss-Boaga, East and North hold the values as read, and three columns\n"
           "follow the error: eastGB, northGB (the Gauss-Boaga point used) and\n"
           "nearCellEdge (yes when the point lies within 4 m of its cell's edge, so\n"
           "that the conversion's accuracy cannot tell its cell).\n"
           "Exit status: 0 every point computed, 1 some points failed, 2 the run could\n"
           "not be done (message on standard error).\n"
           "\n"
           "Uso: quorvel-batch PUNTI.csv [-o RISULTATI.csv] [--reports CARTELLA]\n"
           "                  [--pdf CARTELLA] [--cartella CARTELLA] [--crs SISTEMA]\n"
           "     quorvel-batch --verifica [CARTELLA]\n"
           "     quorvel-batch --griglie CARTELLA [--cartella CARTELLA]\n"
           "\n"
           "Calcola la pioggia di progetto della Tervania per ogni punto di PUNTI.csv,\n"
           "come Quorvel la calcola per un punto, con le griglie dei parametri della\n"
           "cartella grd/ nella cartella del programma.\n"
           "\n"
           "PUNTI.csv   una prima riga con i nomi delle colonne id, East e North (o Est\n"
           "            e Nord, in qualsiasi ordine, maiuscole o minuscole; le altre\n"
           "            colonne sono ignorate), poi un punto per riga, in metri\n"
           "            Gauss-Boaga fuso Est. Campi separati da virgole, punti e virgola\n"
           "            o tabulazioni; con punto e virgola o tabulazione il separatore\n"
           "            decimale può essere la virgola. Niente separatori delle migliaia.\n"
           "            - legge i punti dallo standard input.\n"
           "            Le colonne lat e lon (o latitude e longitude) sono gradi WGS84,\n"
           "            decimali o come 45°30'15.5\"N o 45 30 15.5.\n"
           "--crs SISTEMA\n"
           "            il sistema di riferimento delle due colonne delle coordinate:\n"
           "            EPSG:3004 (Gauss-Boaga fuso Est, per difetto), EPSG:4326 o wgs84\n"
           "            (East è la longitudine, North la latitudine), EPSG:6707 o utm32,\n"
           "            EPSG:6708 o utm33 (ETRF2000 / UTM, metri). I punti sono convertiti\n"
           "            in Gauss-Boaga con la trasformazione di Helmert EPSG:1660,\n"
           "            precisa a circa 4 m.\n"
           "-o RISULTATI.csv, --output RISULTATI.csv\n"
           "            scrive i risultati in questo file (sostituito solo se\n"
           "            l'elaborazione riesce) invece che sullo standard output.\n"
           "--reports CARTELLA\n"
           "            scrive anche il report di ogni punto in CARTELLA, con il nome\n"
           "            del suo id (CARTELLA/<id>.xls).\n"
           "--pdf CARTELLA\n"
           "            scrive anche una scheda PDF di una pagina per ogni punto in\n"
           "            CARTELLA, con il nome del suo id (CARTELLA/<id>.pdf).\n"
           "--durate ELENCO\n"
           "            dopo ogni altra colonna, l'altezza h(d, T) in mm di ogni durata\n"
           "            dell'ELENCO (ore, o minuti con \"min\": 10min,0.5,1,3) per ogni\n"
           "            tempo di ritorno, colonne h_<d>_T<T>, dalla legge dat/durate.txt.\n"
           "--ietogramma CARTELLA\n"
           "            scrive anche lo ietogramma di progetto di ogni punto in CARTELLA,\n"
           "            con --durata, --passo, --metodo, --picco, --tempo-ritorno,\n"
           "            --formato e --inizio come sopra.\n"
           "--verifica [CARTELLA], --check [CARTELLA]\n"
           "            esamina la cartella del programma CARTELLA (se omessa, quella\n"
           "            di --cartella, altrimenti la cartella corrente) dopo avervi\n"
           "            copiato i dati: i file necessari,\n"
           "            le griglie, i file della mappa e il loro sistema di riferimento,\n"
           "            la tabella dei comuni e il modello del report. Una riga per\n"
           "            risultato, poi un riepilogo; stato di uscita 0 se la cartella è\n"
           "            utilizzabile, 1 se non lo è.\n"
           "--griglie CARTELLA, --grids CARTELLA\n"
           "            scrive a2, a1, cv e q2 ... q200 (h 1 ora, mm) di ogni cella in\n"
           "            CARTELLA come GeoTIFF ottimizzati per il cloud (<nome>.tif):\n"
           "            EPSG:3004, celle di 500 m, float32, nessun dato -9999, ogni valore\n"
           "            quello di un'elaborazione del centro della cella; lo SHA-256\n"
           "            delle griglie nei metadati.\n"
           "--cartella CARTELLA, --folder CARTELLA\n"
           "            la cartella del programma, con grd/ e il modello del report\n"
           "            programs/prototipo/pioggeTRNprot.xls; per difetto la cartella\n"
           "            corrente. Per il comando installato è la cartella Quorvel\n"
           "            dell'utente, ~/Quorvel o $QUORVEL_HOME, preparata se manca.\n"
           "            PUNTI.csv, RISULTATI.csv e --reports restano relativi alla\n"
           "            cartella corrente.\n"
           "-h, --help  mostra questo testo.\n"
           "\n"
           "Risultati: separati da virgole, punto decimale, una riga per punto\n"
           "nell'ordine di ingresso: id, East, North, row, column, centreEast,\n"
           "centreNorth, a2, a1, cv, q2, q5, q10, q20, q50, q100, q200, error. Un punto\n"
           "che non si può calcolare ha il motivo nella colonna error e nessun valore.\n"
           "Se l'ingresso non è in Gauss-Boaga, East e North riportano i valori letti e\n"
           "dopo error seguono eastGB, northGB (il punto Gauss-Boaga usato) e\n"
           "nearCellEdge (yes se il punto dista meno di 4 m dal bordo della sua cella).\n"
           "Stato di uscita: 0 tutti i punti calcolati, 1 alcuni punti non riusciti,\n"
           "2 elaborazione non eseguita (messaggio sullo standard error).\n";
}

}  // namespace quorvel::batch
