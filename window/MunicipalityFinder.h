#pragma once

#include <QCompleter>
#include <QString>
#include <QStringList>

class QStandardItemModel;

namespace quorvel {

// A name as the finder compares it: accents dropped and case folded, so
// "Santa Marìne" and "SANTA MARINE" both become "santa marine".
QString FoldForMatching(const QString& name);

// Completion for the municipality box: every name that contains what has
// been typed, in list order, whatever the case and accents of either. The
// name chosen goes into the box as it is written in the list.
class MunicipalityCompleter : public QCompleter {
    Q_OBJECT

public:
    explicit MunicipalityCompleter(QObject* parent = nullptr);

    // Empty names and repeats are left out.
    void SetNames(const QStringList& names);

    QStringList splitPath(const QString& path) const override;
    QString pathFromIndex(const QModelIndex& index) const override;

private:
    QStandardItemModel* names_;
};

}  // namespace quorvel
