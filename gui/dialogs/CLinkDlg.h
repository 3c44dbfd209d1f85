#pragma once
// CLinkDlg: the options of the two-table join (按条件合并): up to six merge conditions,
// each a field name both tables have, chosen in the drop-downs 条件一 … 条件六; which
// file's text a differing cell keeps; and whether numeric cells of a pair are summed.
//
// Made for one use: construct with the common field names, exec(), and when it was
// confirmed read choice(). A cancelled dialog hands back no condition (and the default
// options), which the command takes as "nothing chosen".

#include "base/RowTable.h"
#include "dialogs/DialogStyle.h"
#include "dialogs/FieldListPair.h"
#include "table/Join.h"

#include <QStringList>

class QCheckBox;
class QComboBox;
class QRadioButton;

namespace quellar {

// What CLinkDlg hands back.
struct JoinChoice {
    // The chosen fields of conditions one to six, in that order; unchosen lists add nothing
    // and a field chosen twice is listed twice.
    QStringList conditions;
    JoinOptions options;
};

class CLinkDlg : public ChoiceDialog<JoinChoice> {
    Q_OBJECT
public:
    explicit CLinkDlg(const FieldList& commonFields, QWidget* parent = nullptr);
    // Sets the conditions and options confirmed last time (fields no longer offered aside).
    void restore(const JoinChoice& choice);

    // The controls, for the tests that drive the dialog.
    QComboBox* condition(int i) const { return conditions_[size_t(i)]; }
    QRadioButton* fileOneButton() const { return fileOne_; }
    QRadioButton* fileTwoButton() const { return fileTwo_; }
    QCheckBox* sumBox() const { return sum_; }

    void accept() override;

private:
    FieldChoosers conditions_{};
    QRadioButton* fileOne_;
    QRadioButton* fileTwo_;
    QCheckBox* sum_;
};

} // namespace quellar
