#pragma once

#include <QDialog>

#include "rain/PointRun.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace quorvel {

class MainWindowHost;

// What the map-point and the coordinate entry dialogs share: the output name,
// the two picture buttons, the two pictures, the keys, "Annullare" and the run
// behind "Elaborazione". Controls keep their form names as object names.
class PointDialog : public QDialog, protected PointRunDialog {
    Q_OBJECT

public:
    QLabel* Label5 = nullptr;
    QPushButton* Command1 = nullptr;  // "Elaborazione"
    QPushButton* Command2 = nullptr;  // "Annullare"
    QLabel* Picture1 = nullptr;
    QLabel* Picture2 = nullptr;

protected:
    // clientHeightTwips: the client area is 3705 twips wide and this high.
    // outputBoxName: "Text1" or "Text3".
    PointDialog(MainWindowHost& host, PointRunOperations& operations, PointRunVariant variant,
                const QString& caption, int clientHeightTwips, const char* outputBoxName);

    MainWindowHost& Host() { return host_; }
    PointRunOperations& Operations() { return operations_; }
    QLineEdit* OutputBox() const { return outputBox_; }
    // The parent of the controls, at the form's size.
    QWidget* Body() const { return body_; }
    QLabel* AddLabel(const char* name, const QRect& geometry, const QString& text, const QFont& font);
    QLineEdit* AddTextBox(const char* name, const QRect& geometry, const QString& text,
                          const QFont& font);

    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

    std::string OutputName() const override;
    void ShowMessage(const std::string& text) override;
    bool Ask(const std::string& text) override;
    void ResetMapPointer() override;
    void EnableMainWindow() override;
    void CloseDialog() override;
    void RunCompleted(const PointRunResult& result) override;

    virtual void Command1_Click();
    void Command2_Click();

private:
    MainWindowHost& host_;
    PointRunOperations& operations_;
    PointRunVariant variant_;
    QLineEdit* outputBox_ = nullptr;
    QWidget* body_ = nullptr;
};

}  // namespace quorvel
