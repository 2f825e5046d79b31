#pragma once

#include <functional>
#include <vector>

#include <QAbstractListModel>
#include <QCompleter>
#include <QString>
#include <QStringList>

namespace quorvel {

// A name as the finder compares it: accents dropped and case folded, so
// "Santa Marìne" and "SANTA MARINE" both become "santa marine".
QString FoldForMatching(const QString& name);

// A place of one of the two name layers.
struct Place {
    QString name;
    int layer = -1;  // the name layer's handle
    int shape = -1;  // the point's index in it
    double x = 0, y = 0;
};

// The names the finder knows: the municipalities of the list, in list order,
// then the places of the name layers. A place is written "Località (Comune)";
// its municipality is found only when it is shown.
class NameFinder {
public:
    // Empty names and repeats are left out.
    void SetMunicipalities(const QStringList& names);
    // A place named as a municipality is that municipality's own label, and
    // is left out.
    void SetPlaces(std::vector<Place> places);
    // The municipality whose polygon holds a point; empty when none does.
    void SetMunicipalityAt(std::function<QString(double x, double y)> municipalityAt);

    int MunicipalityCount() const { return int(municipalities_.size()); }
    int Count() const { return int(municipalities_.size() + places_.size()); }
    bool IsPlace(int entry) const { return entry >= MunicipalityCount(); }
    const Place& PlaceOf(int entry) const { return places_[std::size_t(entry - MunicipalityCount())]; }
    QString Name(int entry) const;
    // As the list shows it.
    QString Display(int entry) const;

    // The entries whose name holds the text, whatever the case and the
    // accents: municipalities first, in order. At most limit of them; total
    // counts them all.
    std::vector<int> Matching(const QString& text, int limit, int* total = nullptr) const;

    // What the text names: one entry, several, or none. The whole name (or
    // "Località (Comune)") comes before a part of one: "Bagnaria" is the
    // municipality of that name even beside "Bagnaria Arsa".
    struct Answer {
        enum Kind { None, One, Several } kind = None;
        int entry = -1;
    };
    Answer Resolve(const QString& text) const;

private:
    QString MunicipalityOf(const Place& place) const;

    QStringList municipalities_;
    std::vector<QString> foldedMunicipalities_;
    std::vector<Place> places_;
    std::vector<QString> foldedPlaces_;
    std::function<QString(double, double)> municipalityAt_;
    // Found once, when first shown.
    mutable std::vector<QString> placeMunicipality_;
    mutable std::vector<char> placeMunicipalityKnown_;
};

// The rows the completion shows for the text last given.
class FinderModel : public QAbstractListModel {
    Q_OBJECT

public:
    // At most this many rows; a last one says how many more there are.
    static constexpr int kMaxRows = 200;

    FinderModel(const NameFinder& finder, QObject* parent);

    void Filter(const QString& text);
    // The finder's entry of a row; -1 for the row that counts the rest.
    int EntryAt(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    const NameFinder& finder_;
    std::vector<int> rows_;
    int more_ = 0;
};

// Completion for the municipality box: every name that contains what has
// been typed, municipalities then places, whatever the case and accents of
// either. The name chosen goes into the box as the list writes it.
class MunicipalityCompleter : public QCompleter {
    Q_OBJECT

public:
    explicit MunicipalityCompleter(QObject* parent = nullptr);

    NameFinder& Finder() { return finder_; }
    void SetNames(const QStringList& names);
    void SetPlaces(std::vector<Place> places);

    // Fills the list for the text; the box calls it at every edit.
    void Filter(const QString& text);
    // The entry the user last chose from the list, while the box still shows it.
    int Chosen(const QString& boxText) const;

    QStringList splitPath(const QString& path) const override;
    QString pathFromIndex(const QModelIndex& index) const override;

protected:
    // The list opens as wide as its longest entry, within the box's window.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FitList();

    NameFinder finder_;
    FinderModel* rows_;
    int chosen_ = -1;
    QString chosenText_;
};

}  // namespace quorvel
