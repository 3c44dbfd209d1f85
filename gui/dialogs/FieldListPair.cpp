#include "dialogs/FieldListPair.h"

#include <QCollator>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace quellar {
namespace {

QCollator listCollator() {
    return QCollator(QLocale(QLocale::Chinese, QLocale::China));
}

// Places `text` after every entry that does not sort behind it, as a sorted list box does.
int insertSorted(QListWidget* list, const QString& text) {
    const QCollator collator = listCollator();
    int row = list->count();
    while (row > 0 && collator(text, list->item(row - 1)->text()))
        --row;
    list->insertItem(row, text);
    return row;
}

} // namespace

QStringList sortedForLists(const QStringList& names) {
    QStringList sorted = names;
    sorted.removeAll(QString());
    const QCollator collator = listCollator();
    std::stable_sort(sorted.begin(), sorted.end(),
                     [&](const QString& a, const QString& b) { return collator(a, b); });
    return sorted;
}

void fillFieldChooser(QComboBox* chooser, const QStringList& names) {
    chooser->clear();
    chooser->addItem(QString());
    chooser->addItems(sortedForLists(names));
    chooser->setCurrentIndex(0);
    chooser->setMinimumWidth(150);
    chooser->setMaxVisibleItems(20);
}

QString chosenField(const QComboBox* chooser) {
    return chooser->currentIndex() > 0 ? chooser->currentText() : QString();
}

const QStringList& conditionLabels() {
    static const QStringList labels = {QStringLiteral("条件一"), QStringLiteral("条件二"),
                                       QStringLiteral("条件三"), QStringLiteral("条件四"),
                                       QStringLiteral("条件五"), QStringLiteral("条件六")};
    return labels;
}

QGroupBox* fieldChooserBox(QWidget* parent, const QString& title, const QStringList& labels,
                           const QString& objectName, const QStringList& fields, int gap,
                           FieldChoosers& choosers) {
    auto* box = new QGroupBox(title, parent);
    auto* grid = new QGridLayout(box);
    grid->setContentsMargins(16, 12, 16, 12);
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(12);
    for (int i = 0; i < 6; ++i) {
        auto* label = new QLabel(labels.value(i), box);
        auto* combo = new QComboBox(box);
        combo->setObjectName(objectName + QString::number(i + 1));
        fillFieldChooser(combo, fields);
        label->setBuddy(combo);
        choosers[size_t(i)] = combo;
        const int row = i % 3, column = (i / 3) * 2;
        grid->addWidget(label, row, column);
        grid->addWidget(combo, row, column + 1);
    }
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    grid->setColumnMinimumWidth(2, gap);
    return box;
}

QStringList chosenFields(const FieldChoosers& choosers) {
    QStringList fields;
    for (const QComboBox* combo : choosers)
        if (combo->currentIndex() > 0) fields.append(combo->currentText());
    return fields;
}

void chooseInOrder(const FieldChoosers& choosers, const QStringList& names) {
    size_t next = 0;
    for (const QString& name : names) {
        if (next >= choosers.size()) break;
        const int index = choosers[next]->findText(name, Qt::MatchExactly);
        if (index <= 0) continue;
        choosers[next++]->setCurrentIndex(index);
    }
}

FieldListPair::FieldListPair(const QStringList& labels, QWidget* parent)
    : QWidget(parent) {
    left_ = new QListWidget(this);
    right_ = new QListWidget(this);
    for (QListWidget* list : {left_, right_}) {
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        list->setMinimumSize(170, 150);
    }
    left_->setObjectName(QStringLiteral("offeredColumns"));
    right_->setObjectName(QStringLiteral("chosenColumns"));
    left_->addItems(sortedForLists(labels));

    add_ = new QPushButton(QStringLiteral(">"), this);
    remove_ = new QPushButton(QStringLiteral("<"), this);
    for (QPushButton* button : {add_, remove_})
        button->setAutoDefault(false);
    restoreArrowWidths();
    connect(add_, &QPushButton::clicked, this, &FieldListPair::moveRight);
    connect(remove_, &QPushButton::clicked, this, &FieldListPair::moveLeft);

    auto* buttons = new QVBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(add_);
    buttons->addSpacing(12);
    buttons->addWidget(remove_);
    buttons->addStretch(1);

    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setHorizontalSpacing(10);
    layout->addWidget(left_, 0, 0);
    layout->addLayout(buttons, 0, 1);
    layout->addWidget(right_, 0, 2);
}

void FieldListPair::restoreArrowWidths() {
    for (QPushButton* button : {add_, remove_}) {
        button->setMinimumWidth(0);
        button->setFixedWidth(40);
    }
}

QStringList FieldListPair::chosen() const {
    QStringList labels;
    for (int i = 0; i < right_->count(); ++i)
        labels.append(right_->item(i)->text());
    return labels;
}

void FieldListPair::moveRight() {
    const int row = left_->currentRow();
    if (row < 0 || !left_->currentItem()->isSelected()) return;
    const QString label = left_->item(row)->text();
    bool present = false;
    for (int i = 0; i < right_->count() && !present; ++i)
        present = right_->item(i)->text().startsWith(label, Qt::CaseInsensitive);
    if (!present) insertSorted(right_, label);
    if (right_->count() > 0) right_->setCurrentRow(right_->count() - 1);
    if (row + 1 < left_->count()) {
        left_->setCurrentRow(row + 1);
    } else {
        left_->clearSelection();
        left_->setCurrentRow(-1);
    }
}

void FieldListPair::moveLeft() {
    const int row = right_->currentRow();
    if (row < 0 || !right_->currentItem()->isSelected()) return;
    delete right_->takeItem(row);
    if (row > 0) {
        right_->setCurrentRow(row - 1);
    } else {
        right_->clearSelection();
        right_->setCurrentRow(-1);
    }
}

} // namespace quellar
