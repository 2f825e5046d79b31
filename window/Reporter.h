#pragma once

#include <QString>

class QWidget;

namespace quorvel {

class Error;

// Every message box of the program goes through one Reporter, so tests can
// answer them instead of a person.
class Reporter {
public:
    virtual ~Reporter() = default;
    // A message with an OK button only, titled "Quorvel".
    virtual void Message(QWidget* parent, const QString& text) = 0;
    // A question with the buttons "Sì" and "No", "No" the default; true for "Sì".
    virtual bool Ask(QWidget* parent, const QString& text) = 0;
};

class MessageBoxReporter : public Reporter {
public:
    void Message(QWidget* parent, const QString& text) override;
    bool Ask(QWidget* parent, const QString& text) override;
};

// Says a failure to the user in Italian: what went wrong and the file.
void ReportFailure(Reporter& reporter, QWidget* parent, const Error& error);

}  // namespace quorvel
