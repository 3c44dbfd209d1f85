#pragma once
// The common look of the options dialogs: a fixed size that fits their content, no
// context-help button, buttons of one width.

#include <functional>

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

// Says why a dialog cannot be confirmed yet (a choice it needs is missing) in a message box
// over it; the dialog stays open. Returns false, for `return refuseConfirmation(...)`.
bool refuseConfirmation(QDialog* dialog, const QString& text);
// Tests put in their own way of showing the refusal (and get the previous one back).
using RefusalHook = std::function<void(QDialog* dialog, const QString& text)>;
RefusalHook setRefusalHook(RefusalHook hook);

} // namespace quellar
