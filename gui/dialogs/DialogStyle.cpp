#include "dialogs/DialogStyle.h"

#include <QBoxLayout>
#include <QDialog>
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

void styleOptionsDialog(QDialog* dialog) {
    dialog->setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    dialog->setModal(true);
    for (QPushButton* button : dialog->findChildren<QPushButton*>())
        button->setMinimumWidth(86);
    if (QLayout* layout = dialog->layout()) layout->setSizeConstraint(QLayout::SetFixedSize);
}

QHBoxLayout* confirmCancelRow(QDialog* dialog, const QString& confirmText, QPushButton** confirm,
                              QPushButton** cancel) {
    auto* ok = new QPushButton(confirmText, dialog);
    ok->setDefault(true);
    auto* no = new QPushButton(QStringLiteral("取消"), dialog);
    QObject::connect(ok, &QPushButton::clicked, dialog, &QDialog::accept);
    QObject::connect(no, &QPushButton::clicked, dialog, &QDialog::reject);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(ok);
    row->addWidget(no);
    row->addStretch(1);
    if (confirm) *confirm = ok;
    if (cancel) *cancel = no;
    return row;
}

} // namespace quellar
