#pragma once
// The field lists of the options dialogs.
//
// FieldListPair: the pair of list boxes under "选择要汇总的列：" with ">" and "<" between
// them, shared by the group summary and the page subtotals. The left list holds every
// column label offered; the user moves labels into the right list, which is what the
// dialog hands back. Both lists are sorted and allow one selected entry.
//   ">": when a left entry is selected, its label goes into the right list unless the right
//        list already holds an entry beginning with it (letter case ignored); then the right
//        list's last entry is selected and the left selection moves one entry down (off the
//        end of the list it leaves nothing selected).
//   "<": when a right entry is selected, it is removed and the entry above it is selected
//        (nothing, when it was the first).
// The widget belongs to its parent; it keeps no state beyond its two lists.
//
// sortedForLists and fillFieldChooser give every list and drop-down of these dialogs the
// same order: the way a Chinese reader expects names sorted. A chooser's first entry is
// empty and stands for "nothing chosen".
//
// fieldChooserBox: the six labelled field drop-downs of the comparison, join and group
// summary dialogs, read back by chosenFields and set again by chooseInOrder.

#include <QStringList>
#include <QWidget>

#include <array>

class QComboBox;
class QGroupBox;
class QListWidget;
class QPushButton;

namespace quellar {

// `names` without empty entries, sorted for display.
QStringList sortedForLists(const QStringList& names);

// Fills a drop-down with an empty entry (selected) followed by `names` sorted for display.
void fillFieldChooser(QComboBox* chooser, const QStringList& names);

// The text of the chooser's selected entry, or "" when its empty entry is selected.
QString chosenField(const QComboBox* chooser);

using FieldChoosers = std::array<QComboBox*, 6>;

// 条件一 … 条件六, the labels of the key and merge conditions.
const QStringList& conditionLabels();

// A group box titled `title` of six drop-downs offering `fields`, each after its label
// (`labels`, six of them), named objectName1 … objectName6 and handed back in `choosers`:
// the first three down the left, the others down the right, at least `gap` pixels apart.
QGroupBox* fieldChooserBox(QWidget* parent, const QString& title, const QStringList& labels,
                           const QString& objectName, const QStringList& fields, int gap,
                           FieldChoosers& choosers);

// The fields chosen in `choosers`, in order; unchosen ones skipped, repeats kept.
QStringList chosenFields(const FieldChoosers& choosers);

// Chooses `names` in the drop-downs in order, skipping names a drop-down does not offer.
void chooseInOrder(const FieldChoosers& choosers, const QStringList& names);

class FieldListPair : public QWidget {
    Q_OBJECT
public:
    // `labels`: what the left list offers; the right list starts empty.
    explicit FieldListPair(const QStringList& labels, QWidget* parent = nullptr);

    // The right list's entries, top to bottom.
    QStringList chosen() const;

    // Moves `labels` (those the left list offers) into the right list, as ">" would.
    void choose(const QStringList& labels);

    // Presses of ">" and "<" (the buttons call these).
    void moveRight();
    void moveLeft();

    // Gives ">" and "<" back their narrow width after a dialog widened all its buttons.
    void restoreArrowWidths();

    QListWidget* leftList() const { return left_; }
    QListWidget* rightList() const { return right_; }
    QPushButton* addButton() const { return add_; }
    QPushButton* removeButton() const { return remove_; }

private:
    QListWidget* left_;
    QListWidget* right_;
    QPushButton* add_;
    QPushButton* remove_;
};

} // namespace quellar
