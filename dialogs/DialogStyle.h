#pragma once
// The common look of the options dialogs: a fixed size that fits their content, no
// context-help button, buttons of one width.

class QDialog;

namespace quellar {

void styleOptionsDialog(QDialog* dialog);

} // namespace quellar
