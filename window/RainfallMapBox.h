#pragma once

#include <QComboBox>

#include "map/MapView.h"
#include "window/RainfallMapSource.h"

class QLabel;

namespace quorvel {

class Reporter;

// "Mappa di pioggia": lays the chosen design-rainfall map over the map as
// one more image layer and shows its legend; "Nessuna" takes it away.
class RainfallMapBox : public QComboBox {
    Q_OBJECT

public:
    // legendParent holds the legend box, placed by the owner.
    RainfallMapBox(MapView& map, Reporter& reporter, QWidget* parent, QWidget* legendParent);

    void SetSource(RainfallMapSource* source);
    QLabel* Legend() const { return legend_; }

private:
    void Choose(int index);
    void Remove();

    MapView& map_;
    Reporter& reporter_;
    RainfallMapSource* source_ = nullptr;
    QLabel* legend_;
    int layer_ = -1;
};

}  // namespace quorvel
