#include "dialogs/SelDlg.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace quellar {

SelDlg::SelDlg(const FieldList& offeredFields, QWidget* parent)
    : ChoiceDialog(QStringLiteral("选择筛选条件"), parent) {

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(10);
    auto heading = [this](const QString& text) {
        auto* label = new QLabel(text, this);
        label->setAlignment(Qt::AlignCenter);
        return label;
    };
    grid->addWidget(heading(QStringLiteral("条件名 (选择)")), 0, 0);
    grid->addWidget(heading(QStringLiteral("=")), 0, 1);
    grid->addWidget(heading(QStringLiteral("条件值 (输入)")), 0, 2);
    for (int i = 0; i < 6; ++i) {
        auto* combo = new QComboBox(this);
        combo->setObjectName(QStringLiteral("field%1").arg(i + 1));
        fillFieldChooser(combo, offeredFields);
        auto* equals = new QLabel(QStringLiteral("="), this);
        equals->setAlignment(Qt::AlignCenter);
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QStringLiteral("value%1").arg(i + 1));
        edit->setMinimumWidth(170);
        fields_[size_t(i)] = combo;
        values_[size_t(i)] = edit;
        grid->addWidget(combo, i + 1, 0);
        grid->addWidget(equals, i + 1, 1);
        grid->addWidget(edit, i + 1, 2);
    }
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(2, 1);

    // The grid stands directly in the dialog, with wider margins than the boxed dialogs.
    QVBoxLayout* layout = layOut({}, QStringLiteral("筛选"));
    layout->insertLayout(0, grid);
    layout->setContentsMargins(16, 14, 16, 12);
    layout->setSpacing(14);
}

void SelDlg::accept() {
    choice_ = FilterChoice{};
    for (size_t i = 0; i < fields_.size(); ++i) {
        if (fields_[i]->currentIndex() <= 0) continue;
        choice_.fields.append(fields_[i]->currentText());
        choice_.values.append(values_[i]->text());
    }
    acceptIf(!choice_.fields.isEmpty(), QStringLiteral("请至少选择一个筛选字段，并输入它的值。"));
}

} // namespace quellar
