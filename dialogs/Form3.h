#pragma once

#include "dialogs/PointDialog.h"

namespace quorvel {

// The coordinate entry dialog: the user types the point and the output name.
// It checks nothing itself; the run judges the entries.
class Form3 : public PointDialog {
    Q_OBJECT

public:
    Form3(MainWindowHost& host, PointRunOperations& operations);

    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* Text1 = nullptr;  // East
    QLineEdit* Text2 = nullptr;  // North
    QLineEdit* Text3 = nullptr;  // output name

protected:
    std::string EastText() const override;
    std::string NorthText() const override;
};

}  // namespace quorvel
