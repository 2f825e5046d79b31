#include "window/MunicipalityFinder.h"

#include <QAbstractItemView>
#include <QSet>
#include <QStandardItemModel>

namespace quorvel {

namespace {

constexpr int kFoldedRole = Qt::UserRole + 1;

}  // namespace

QString FoldForMatching(const QString& name)
{
    const QString decomposed = name.normalized(QString::NormalizationForm_D);
    QString folded;
    folded.reserve(decomposed.size());
    for (const QChar c : decomposed)
        if (c.category() != QChar::Mark_NonSpacing)
            folded.append(c);
    return folded.toCaseFolded();
}

MunicipalityCompleter::MunicipalityCompleter(QObject* parent)
    : QCompleter(parent), names_(new QStandardItemModel(this))
{
    setModel(names_);
    setCompletionRole(kFoldedRole);
    setFilterMode(Qt::MatchContains);
    setCaseSensitivity(Qt::CaseInsensitive);
    setCompletionMode(QCompleter::PopupCompletion);
    setModelSorting(QCompleter::UnsortedModel);
    setMaxVisibleItems(12);
}

void MunicipalityCompleter::SetNames(const QStringList& names)
{
    names_->clear();
    QSet<QString> seen;
    for (const QString& name : names) {
        if (name.isEmpty() || seen.contains(name))
            continue;
        seen.insert(name);
        auto* item = new QStandardItem(name);
        item->setData(FoldForMatching(name), kFoldedRole);
        item->setEditable(false);
        names_->appendRow(item);
    }
}

QStringList MunicipalityCompleter::splitPath(const QString& path) const
{
    return {FoldForMatching(path)};
}

QString MunicipalityCompleter::pathFromIndex(const QModelIndex& index) const
{
    return index.data(Qt::DisplayRole).toString();
}

}  // namespace quorvel
