#pragma once

#include <optional>

#include "crs/Crs.h"
#include "dialogs/PointDialog.h"

class QComboBox;

namespace quorvel {

// The coordinate entry dialog: the user types the point and the output name.
// In Gauss-Boaga it checks nothing itself; the run judges the entries. In
// another reference system the point is read and converted here, and the run
// gets the Gauss-Boaga point.
class Form3 : public PointDialog {
    Q_OBJECT

public:
    Form3(MainWindowHost& host, PointRunOperations& operations);

    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* Text1 = nullptr;  // East; the latitude in WGS84
    QLineEdit* Text2 = nullptr;  // North; the longitude in WGS84
    QLineEdit* Text3 = nullptr;  // output name
    QComboBox* Combo1 = nullptr; // the reference system of the two boxes

    ReferenceSystem System() const;
    void ChooseSystem(ReferenceSystem system);

protected:
    std::string EastText() const override;
    std::string NorthText() const override;
    std::optional<ConvertedPoint> Converted() const override;
    void ShowMessage(const std::string& text) override;
    void Command1_Click() override;

private:
    void SystemChosen();

    // The typed point in Gauss-Boaga, while a run in another system is on.
    std::optional<SystemPoint> converted_;
};

}  // namespace quorvel
