#pragma once

#include <QString>
#include <QStringList>

#include "map/Reporter.h"

namespace quorvel::testing {

// Answers the program's message boxes instead of a person and keeps their texts.
class RecordingReporter : public Reporter {
public:
    QStringList messages;
    QStringList questions;
    bool answer = true;

    void Message(QWidget*, const QString& text) override { messages << text; }
    bool Ask(QWidget*, const QString& text) override
    {
        questions << text;
        return answer;
    }
};

}  // namespace quorvel::testing
