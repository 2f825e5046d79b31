#include <array>
#include <string>

#include "sampledata/Random.h"
#include "sampledata/Region.h"

namespace quorvel::sample {

namespace {

template <std::size_t N>
const char* Pick(Rng& rng, const std::array<const char*, N>& list)
{
    return list[static_cast<std::size_t>(rng.Below(static_cast<int>(N)))];
}

// Syllables chosen to sound of the north-eastern plain and the Carnic valleys
// without spelling any real place.
constexpr std::array<const char*, 40> kHeads{
    "Tarv", "Vel", "Cjast", "Brun", "Sorg", "Fald", "Lusev", "Rambal", "Quarn", "Dorv",
    "Palm", "Torz", "Sclav", "Berl", "Vild", "Rovess", "Cosm", "Maln", "Ospr", "Zuel",
    "Fagn", "Chelv", "Narz", "Planc", "Rinc", "Sclus", "Tizz", "Vualt", "Zerb", "Orsn",
    "Clauz", "Gjalm", "Pesc", "Lavr", "Munz", "Sestr", "Trebel", "Ghiran", "Aurav", "Ermac"};
// Every tail starts with a vowel, so a middle ends in a consonant.
constexpr std::array<const char*, 10> kMiddles{"", "", "", "ar", "en", "ol", "is", "ur", "an", "er"};
constexpr std::array<const char*, 28> kTails{
    "uzzo", "acco", "ins", "ons", "ars", "ento", "ano", "ago", "eis", "ut",
    "at", "ìs", "às", "ùt", "ès", "ella", "ina", "ola", "ens", "aria",
    "ezzo", "iis", "one", "esse", "ìc", "ât", "òn", "agno"};
constexpr std::array<const char*, 16> kSaints{
    "Crisànt", "Benèr", "Gorsèl", "Durìn", "Taurèl", "Valvisèt", "Vigèl", "Codorèl",
    "Bertolìn", "Lauràn", "Gjermàn", "Zuanìn", "Marcuz", "Pieràt", "Tobiùt", "Leonàrt"};
constexpr std::array<const char*, 8> kFemaleSaints{"Elvire", "Ortènsie", "Lussìe", "Gjelte",
                                                   "Clàre", "Fosche", "Marìne", "Ursule"};
constexpr std::array<const char*, 8> kVowelSaints{"Odorico", "Ermàcor", "Urbàn", "Andrèat",
                                                  "Ilàri", "Eusebèt", "Osvàl", "Anzul"};

std::string Stem(Rng& rng)
{
    std::string s = Pick(rng, kHeads);
    s += Pick(rng, kMiddles);
    s += Pick(rng, kTails);
    return s;
}

}  // namespace

std::string PlaceStem(std::uint64_t seed)
{
    Rng rng(seed);
    return Stem(rng);
}

std::string MunicipalityName(std::uint64_t seed)
{
    Rng rng(seed);
    const int form = rng.Below(100);
    if (form < 58)
        return Stem(rng);
    if (form < 66)
        return std::string("San ") + Pick(rng, kSaints);
    if (form < 70)
        return std::string("Santa ") + Pick(rng, kFemaleSaints);
    if (form < 74)
        return std::string("Sant'") + Pick(rng, kVowelSaints);
    if (form < 82)
        return Stem(rng) + " di " + Stem(rng);
    if (form < 86)
        return Stem(rng) + " d'" + Pick(rng, kVowelSaints);
    if (form < 90)
        return "Villa " + Stem(rng);
    if (form < 94)
        return "Pra' " + Stem(rng);
    if (form < 97)
        return Stem(rng) + " al Tor";
    return "Borgo " + Stem(rng);
}

}  // namespace quorvel::sample
