#pragma once

#include <string>
#include <utility>
#include <vector>

#include <QRgb>
#include <QString>

namespace quorvel {

// The design-rainfall maps the window can lay over the relief: each a picture
// file in the map's coordinates, transparent where there is no data, with
// its legend. The window knows them only through this.
class RainfallMapSource {
public:
    virtual ~RainfallMapSource() = default;

    struct Choice {
        std::string name;
        QString label;
    };
    struct Map {
        std::string file;
        QString title;
        std::vector<std::pair<QRgb, QString>> classes;  // colour and range, lowest first
    };
    virtual std::vector<Choice> Choices() const = 0;
    // The map as the grids are now, made once for them. Throws Error.
    virtual Map Make(const std::string& name) = 0;
};

}  // namespace quorvel
