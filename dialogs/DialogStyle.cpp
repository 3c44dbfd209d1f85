#include "dialogs/DialogStyle.h"

#include <QDialog>
#include <QLayout>
#include <QPushButton>

namespace quellar {

void styleOptionsDialog(QDialog* dialog) {
    dialog->setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    dialog->setModal(true);
    for (QPushButton* button : dialog->findChildren<QPushButton*>())
        button->setMinimumWidth(86);
    if (QLayout* layout = dialog->layout()) layout->setSizeConstraint(QLayout::SetFixedSize);
}

} // namespace quellar
