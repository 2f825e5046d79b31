#include "window/MunicipalityFinder.h"

#include <algorithm>

#include <QAbstractItemView>
#include <QAbstractProxyModel>
#include <QEvent>
#include <QFontMetrics>
#include <QListView>
#include <QScrollBar>
#include <QStyle>
#include <QSet>

namespace quorvel {

namespace {

// The completion matches nothing by itself: the finder has chosen the rows,
// and no row is to be preselected.
constexpr int kNoCompletionRole = Qt::UserRole + 1;

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

void NameFinder::SetMunicipalities(const QStringList& names)
{
    municipalities_.clear();
    foldedMunicipalities_.clear();
    QSet<QString> seen;
    for (const QString& name : names) {
        if (name.isEmpty() || seen.contains(name))
            continue;
        seen.insert(name);
        municipalities_ << name;
        foldedMunicipalities_.push_back(FoldForMatching(name));
    }
}

void NameFinder::SetPlaces(std::vector<Place> places)
{
    const QSet<QString> municipalities(foldedMunicipalities_.begin(), foldedMunicipalities_.end());
    places_.clear();
    foldedPlaces_.clear();
    for (Place& place : places) {
        QString folded = FoldForMatching(place.name.trimmed());
        if (folded.isEmpty() || municipalities.contains(folded))
            continue;
        foldedPlaces_.push_back(std::move(folded));
        places_.push_back(std::move(place));
    }
    placeMunicipality_.assign(places_.size(), QString());
    placeMunicipalityKnown_.assign(places_.size(), 0);
}

void NameFinder::SetMunicipalityAt(std::function<QString(double, double)> municipalityAt)
{
    municipalityAt_ = std::move(municipalityAt);
    placeMunicipalityKnown_.assign(places_.size(), 0);
}

QString NameFinder::MunicipalityOf(const Place& place) const
{
    const std::size_t i = std::size_t(&place - places_.data());
    if (!placeMunicipalityKnown_[i]) {
        placeMunicipality_[i] = municipalityAt_ ? municipalityAt_(place.x, place.y) : QString();
        placeMunicipalityKnown_[i] = 1;
    }
    return placeMunicipality_[i];
}

QString NameFinder::Name(int entry) const
{
    return IsPlace(entry) ? PlaceOf(entry).name : municipalities_[entry];
}

QString NameFinder::Display(int entry) const
{
    if (!IsPlace(entry))
        return municipalities_[entry];
    const Place& place = PlaceOf(entry);
    const QString municipality = MunicipalityOf(place);
    return municipality.isEmpty() ? place.name : place.name + QStringLiteral(" (") + municipality + u')';
}

std::vector<int> NameFinder::Matching(const QString& text, int limit, int* total) const
{
    const QString folded = FoldForMatching(text);
    std::vector<int> found;
    int count = 0;
    const auto take = [&](const std::vector<QString>& names, int offset) {
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (!names[i].contains(folded))
                continue;
            if (count++ < limit)
                found.push_back(offset + int(i));
        }
    };
    take(foldedMunicipalities_, 0);
    take(foldedPlaces_, MunicipalityCount());
    if (total != nullptr)
        *total = count;
    return found;
}

NameFinder::Answer NameFinder::Resolve(const QString& text) const
{
    const QString folded = FoldForMatching(text.trimmed());
    if (folded.isEmpty())
        return {};
    const auto answer = [](const std::vector<int>& entries) {
        if (entries.empty())
            return Answer{};
        return Answer{entries.size() == 1 ? Answer::One : Answer::Several, entries.front()};
    };
    const auto whole = [](const std::vector<QString>& names, const QString& name, int offset) {
        std::vector<int> entries;
        for (std::size_t i = 0; i < names.size(); ++i)
            if (names[i] == name)
                entries.push_back(offset + int(i));
        return entries;
    };

    if (const Answer municipality = answer(whole(foldedMunicipalities_, folded, 0)); municipality.kind != Answer::None)
        return municipality;
    // "Località (Comune)", as the list writes a place.
    if (const qsizetype open = folded.lastIndexOf(QStringLiteral(" (")); open > 0 && folded.endsWith(u')')) {
        const QString municipality = folded.mid(open + 2, folded.size() - open - 3);
        for (const int entry : whole(foldedPlaces_, folded.left(open).trimmed(), MunicipalityCount()))
            if (FoldForMatching(MunicipalityOf(PlaceOf(entry))) == municipality)
                return {Answer::One, entry};
    }
    if (const Answer place = answer(whole(foldedPlaces_, folded, MunicipalityCount())); place.kind != Answer::None)
        return place;
    int total = 0;
    const std::vector<int> part = Matching(text.trimmed(), 1, &total);
    if (total == 0)
        return {};
    return {total == 1 ? Answer::One : Answer::Several, part.front()};
}

FinderModel::FinderModel(const NameFinder& finder, QObject* parent) : QAbstractListModel(parent), finder_(finder) {}

void FinderModel::Filter(const QString& text)
{
    beginResetModel();
    int total = 0;
    rows_ = finder_.Matching(text, kMaxRows, &total);
    more_ = total - int(rows_.size());
    endResetModel();
}

int FinderModel::EntryAt(int row) const
{
    return row >= 0 && row < int(rows_.size()) ? rows_[std::size_t(row)] : -1;
}

int FinderModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(rows_.size()) + (more_ > 0 ? 1 : 0);
}

QVariant FinderModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return {};
    const int entry = EntryAt(index.row());
    if (entry >= 0)
        return finder_.Display(entry);
    return QStringLiteral("\u2026 altri %1 nomi: continuare a scrivere").arg(more_);
}

Qt::ItemFlags FinderModel::flags(const QModelIndex& index) const
{
    return EntryAt(index.row()) >= 0 ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

MunicipalityCompleter::MunicipalityCompleter(QObject* parent)
    : QCompleter(parent), rows_(new FinderModel(finder_, this))
{
    setModel(rows_);
    setCompletionRole(kNoCompletionRole);
    setCaseSensitivity(Qt::CaseSensitive);
    setCompletionMode(QCompleter::UnfilteredPopupCompletion);
    setModelSorting(QCompleter::UnsortedModel);
    setMaxVisibleItems(12);
    if (auto* list = qobject_cast<QListView*>(popup()))
        list->setUniformItemSizes(true);
    connect(rows_, &QAbstractItemModel::modelReset, this,
            [this] { QMetaObject::invokeMethod(this, &MunicipalityCompleter::FitList, Qt::QueuedConnection); });
    connect(this, qOverload<const QModelIndex&>(&QCompleter::activated), this, [this](const QModelIndex& index) {
        const auto* proxy = qobject_cast<const QAbstractProxyModel*>(index.model());
        const QModelIndex row = proxy != nullptr ? proxy->mapToSource(index) : index;
        chosen_ = rows_->EntryAt(row.row());
        chosenText_ = chosen_ >= 0 ? finder_.Display(chosen_) : QString();
    });
}

void MunicipalityCompleter::SetNames(const QStringList& names)
{
    finder_.SetMunicipalities(names);
    rows_->Filter(QString());
    chosen_ = -1;
}

void MunicipalityCompleter::SetPlaces(std::vector<Place> places)
{
    finder_.SetPlaces(std::move(places));
    rows_->Filter(QString());
    chosen_ = -1;
}

void MunicipalityCompleter::Filter(const QString& text)
{
    rows_->Filter(text);
}

int MunicipalityCompleter::Chosen(const QString& boxText) const
{
    return chosen_ >= 0 && boxText == chosenText_ ? chosen_ : -1;
}

bool MunicipalityCompleter::eventFilter(QObject* watched, QEvent* event)
{
    // The list is made on first asking, and its making sends events here. Its
    // place is set before it shows, and kept for a window shown: it is widened
    // once it shows, and again as its entries change.
    if (event->type() == QEvent::Show && qobject_cast<QAbstractItemView*>(watched) != nullptr && watched == popup())
        QMetaObject::invokeMethod(this, &MunicipalityCompleter::FitList, Qt::QueuedConnection);
    return QCompleter::eventFilter(watched, event);
}

// Two places of one name differ by their municipality, at the end of the entry.
void MunicipalityCompleter::FitList()
{
    QAbstractItemView* list = popup();
    if (!list->isVisible() || widget() == nullptr)
        return;
    const QFontMetrics metrics(list->font());
    int widest = 0;
    for (int row = 0; row < list->model()->rowCount(); ++row)
        widest = std::max(widest, metrics.horizontalAdvance(list->model()->index(row, 0).data().toString()));
    const int margins = 2 * list->frameWidth() + list->verticalScrollBar()->sizeHint().width() +
                        2 * (list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1) + 4;
    const QWidget* window = widget()->window();
    const QRect bounds(window->mapToGlobal(QPoint(0, 0)), window->size());
    QRect shown = list->geometry();
    const int box = widget()->width();
    shown.setWidth(std::clamp(widest + margins, box, std::max(box, bounds.width())));
    shown.moveLeft(std::max(bounds.left(), std::min(shown.left(), bounds.right() + 1 - shown.width())));
    list->setGeometry(shown);
}

QStringList MunicipalityCompleter::splitPath(const QString& path) const
{
    return {path};
}

QString MunicipalityCompleter::pathFromIndex(const QModelIndex& index) const
{
    return index.data(Qt::DisplayRole).toString();
}

}  // namespace quorvel
