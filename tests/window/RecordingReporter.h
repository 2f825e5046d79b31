#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include "window/Reporter.h"

namespace quorvel::testing {

// Answers the program's message boxes instead of a person and keeps their texts.
class RecordingReporter : public Reporter {
public:
    QStringList messages;
    QStringList questions;
    QList<bool> answers;  // taken in turn; then "Sì" to every question

    void Message(QWidget*, const QString& text) override { messages << text; }
    bool Ask(QWidget*, const QString& text) override
    {
        questions << text;
        return answers.isEmpty() || answers.takeFirst();
    }
};

}  // namespace quorvel::testing
