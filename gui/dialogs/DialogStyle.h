#pragma once
// The common look of the options dialogs: a fixed size that fits their content, no
// context-help button, buttons of one width.

class QDialog;
class QHBoxLayout;
class QPushButton;
class QString;

namespace quellar {

void styleOptionsDialog(QDialog* dialog);

// The centred row of a dialog's two buttons: the default confirm button (accepts) and
// 取消 (rejects). The buttons are returned through confirm and cancel when given.
QHBoxLayout* confirmCancelRow(QDialog* dialog, const QString& confirmText, QPushButton** confirm,
                              QPushButton** cancel = nullptr);

} // namespace quellar
