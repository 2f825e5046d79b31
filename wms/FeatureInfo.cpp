#include "wms/FeatureInfo.h"

#include <charconv>

namespace quorvel {

namespace {

std::string Single(float value)
{
    char text[64];
    const auto written = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed);
    return std::string(text, written.ptr);
}

std::string JsonString(const std::string& text)
{
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            static const char kHex[] = "0123456789abcdef";
            out += "\\u00";
            out += kHex[(c >> 4) & 15];
            out += kHex[c & 15];
        } else {
            out += c;
        }
    }
    return out + '"';
}

std::string Html(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

}  // namespace

std::string FeatureInfoText(const std::vector<LayerInfo>& layers)
{
    std::string out;
    for (const LayerInfo& info : layers) {
        out += "Layer '" + info.layer + "'\n";
        if (!info.HasData()) {
            out += "  no data\n";
            continue;
        }
        if (info.municipalityLayer) {
            out += "  name = " + info.municipality + "\n  province = " + info.province + "\n";
            continue;
        }
        const PointRain& rain = *info.rain;
        out += "  east = " + Single(info.point.x) + "\n  north = " + Single(info.point.y) + "\n";
        out += "  row = " + std::to_string(rain.cell.row) + "\n  column = " + std::to_string(rain.cell.column) + "\n";
        out += "  centreEast = " + Single(rain.centre.x) + "\n  centreNorth = " + Single(rain.centre.y) + "\n";
        out += "  a2 = " + Single(rain.a2) + "\n  a1 = " + Single(rain.a1) + "\n  cv = " + Single(rain.cv) + "\n";
        const auto q = rain.quantiles.InOrder();
        for (std::size_t i = 0; i < q.size(); ++i)
            out += "  q" + std::to_string(kReturnPeriods[i]) + " = " + Single(q[i]) + "\n";
    }
    return out;
}

std::string FeatureInfoHtml(const std::vector<LayerInfo>& layers)
{
    std::string out = "<!DOCTYPE html>\n<html lang=\"it\"><head><meta charset=\"utf-8\"><title>Quorvel</title>"
                      "<style>table{border-collapse:collapse;font:13px sans-serif}th,td{border:1px solid #999;"
                      "padding:2px 6px}th{text-align:left}td{text-align:right}</style></head><body>\n";
    for (const LayerInfo& info : layers) {
        out += "<table><caption>" + Html(info.layer) + "</caption>\n";
        if (!info.HasData()) {
            out += "<tr><td>nessun dato</td></tr></table>\n";
            continue;
        }
        const auto row = [&out](const std::string& name, const std::string& value) {
            out += "<tr><th>" + name + "</th><td>" + value + "</td></tr>\n";
        };
        if (info.municipalityLayer) {
            row("Comune", Html(info.municipality));
            row("Provincia", Html(info.province));
            out += "</table>\n";
            continue;
        }
        const PointRain& rain = *info.rain;
        row("Punto (Est, Nord)", Single(info.point.x) + ", " + Single(info.point.y));
        row("Cella (riga, colonna)", std::to_string(rain.cell.row) + ", " + std::to_string(rain.cell.column));
        row("Centro della cella", Single(rain.centre.x) + ", " + Single(rain.centre.y));
        row("a2", Single(rain.a2));
        row("a1", Single(rain.a1));
        row("cv", Single(rain.cv));
        const auto q = rain.quantiles.InOrder();
        for (std::size_t i = 0; i < q.size(); ++i)
            row("h 1 ora, T = " + std::to_string(kReturnPeriods[i]) + " anni", Single(q[i]) + " mm");
        out += "</table>\n";
    }
    return out + "</body></html>\n";
}

std::string FeatureInfoJson(const std::vector<LayerInfo>& layers)
{
    std::string out = "{\"layers\":[";
    for (std::size_t k = 0; k < layers.size(); ++k) {
        const LayerInfo& info = layers[k];
        out += k == 0 ? "{" : ",{";
        out += "\"layer\":" + JsonString(info.layer);
        if (!info.HasData()) {
            out += ",\"noData\":true}";
            continue;
        }
        if (info.municipalityLayer) {
            out += ",\"name\":" + JsonString(info.municipality) + ",\"province\":" + JsonString(info.province) + "}";
            continue;
        }
        const PointRain& rain = *info.rain;
        out += ",\"point\":{\"east\":" + Single(info.point.x) + ",\"north\":" + Single(info.point.y) + "}";
        out += ",\"cell\":{\"row\":" + std::to_string(rain.cell.row) + ",\"column\":" + std::to_string(rain.cell.column) + "}";
        out += ",\"centre\":{\"east\":" + Single(rain.centre.x) + ",\"north\":" + Single(rain.centre.y) + "}";
        out += ",\"a2\":" + Single(rain.a2) + ",\"a1\":" + Single(rain.a1) + ",\"cv\":" + Single(rain.cv);
        out += ",\"quantiles\":[";
        const auto q = rain.quantiles.InOrder();
        for (std::size_t i = 0; i < q.size(); ++i)
            out += std::string(i == 0 ? "" : ",") + "{\"T\":" + std::to_string(kReturnPeriods[i]) + ",\"mm\":" +
                   Single(q[i]) + "}";
        out += "]}";
    }
    return out + "]}";
}

}  // namespace quorvel
