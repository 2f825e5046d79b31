#pragma once

#include "dialogs/PointDialog.h"

namespace quorvel {

// The map-point dialog: shows the point picked on the map, asks for the output
// name and runs the point. The main window takes no input while it is open.
class Form2 : public PointDialog {
    Q_OBJECT

public:
    Form2(MainWindowHost& host, PointRunOperations& operations);

    QLabel* Label1 = nullptr;  // East, whole metres
    QLabel* Label2 = nullptr;  // North, whole metres
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLineEdit* Text1 = nullptr;  // output name

protected:
    std::string EastText() const override;
    std::string NorthText() const override;
    void closeEvent(QCloseEvent* event) override;
};

}  // namespace quorvel
