#include "dialogs/DialogStyle.h"

#include <QBoxLayout>
#include <QButtonGroup>
#include <QLayout>
#include <QMessageBox>
#include <QPushButton>

namespace quellar {
namespace {

RefusalHook& refusalHook() {
    static RefusalHook hook;
    return hook;
}

} // namespace

bool refuseConfirmation(QDialog* dialog, const QString& text) {
    if (refusalHook())
        refusalHook()(dialog, text);
    else
        QMessageBox::warning(dialog, QStringLiteral("Quellar"), text);
    return false;
}

RefusalHook setRefusalHook(RefusalHook hook) {
    RefusalHook previous = std::move(refusalHook());
    refusalHook() = std::move(hook);
    return previous;
}

void makeExclusive(QDialog* dialog, std::initializer_list<QAbstractButton*> buttons) {
    auto* group = new QButtonGroup(dialog);
    for (QAbstractButton* button : buttons)
        group->addButton(button);
}

OptionsDialog::OptionsDialog(const QString& title, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(title);
}

bool OptionsDialog::acceptIf(bool complete, const QString& refusal) {
    if (complete)
        QDialog::accept();
    else
        refuseConfirmation(this, refusal);
    return complete;
}

QVBoxLayout* OptionsDialog::layOut(std::initializer_list<QWidget*> parts, const QString& confirmText) {
    confirm_ = new QPushButton(confirmText, this);
    confirm_->setDefault(true);
    cancel_ = new QPushButton(QStringLiteral("取消"), this);
    connect(confirm_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(confirm_);
    buttons->addWidget(cancel_);
    buttons->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 12, 14, 12);
    layout->setSpacing(10);
    for (QWidget* part : parts)
        layout->addWidget(part);
    layout->addLayout(buttons);

    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setModal(true);
    for (QPushButton* button : findChildren<QPushButton*>())
        button->setMinimumWidth(86);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    return layout;
}

} // namespace quellar
