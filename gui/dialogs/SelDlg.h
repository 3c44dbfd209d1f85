#pragma once
// SelDlg: the conditions of the comparison filter (选择筛选条件): six rows of a field,
// chosen from the fields of both tables, "=" and a value typed exactly as it must appear
// in the cells.
//
// Made for one use: construct with the offered fields, exec(), and when it was confirmed
// read choice(). Only rows whose field is chosen count; their values are taken as typed
// (not trimmed, possibly empty). A cancelled dialog hands back no condition, which the
// command takes as "nothing chosen".

#include "base/RowTable.h"
#include "dialogs/DialogStyle.h"
#include "dialogs/FieldListPair.h"

#include <QStringList>

#include <array>

class QComboBox;
class QLineEdit;

namespace quellar {

// What SelDlg hands back: two parallel lists, one entry per row with a chosen field, top
// to bottom.
struct FilterChoice {
    QStringList fields;
    QStringList values;
};

class SelDlg : public ChoiceDialog<FilterChoice> {
    Q_OBJECT
public:
    explicit SelDlg(const FieldList& offeredFields, QWidget* parent = nullptr);
    // Sets the fields and values confirmed last time (fields no longer offered aside).
    void restore(const FilterChoice& choice);

    // The controls, for the tests that drive the dialog.
    QComboBox* field(int i) const { return fields_[size_t(i)]; }
    QLineEdit* value(int i) const { return values_[size_t(i)]; }

    void accept() override;

private:
    FieldChoosers fields_{};
    std::array<QLineEdit*, 6> values_{};
};

} // namespace quellar
