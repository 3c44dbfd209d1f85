#pragma once
// The frame every options dialog is built in: its title, its parts top to bottom above the
// centred row of the confirm button and 取消, and the common look (a fixed size that fits the
// content, modal, no context-help button, buttons of one width). A dialog that lacks a choice
// it needs refuses the confirmation with a message and stays open.

#include <QDialog>

#include <functional>
#include <initializer_list>

class QAbstractButton;
class QPushButton;
class QString;
class QVBoxLayout;

namespace quellar {

class OptionsDialog : public QDialog {
    Q_OBJECT
public:
    QPushButton* confirmButton() const { return confirm_; }
    QPushButton* cancelButton() const { return cancel_; }

protected:
    OptionsDialog(const QString& title, QWidget* parent);

    // Lays `parts` out top to bottom above the buttons row (the default button confirmText
    // accepts, 取消 rejects) and gives the dialog the common look. Call once, after every
    // control exists. The layout is returned for a dialog that adds a layout of its own.
    QVBoxLayout* layOut(std::initializer_list<QWidget*> parts, const QString& confirmText);

    // Confirms the dialog when the choice is `complete`; otherwise says `refusal` in a message
    // box over it and leaves it open. Returns `complete`.
    bool acceptIf(bool complete, const QString& refusal);

private:
    QPushButton* confirm_ = nullptr;
    QPushButton* cancel_ = nullptr;
};

// An options dialog that hands back one choice: Choice{} until it is confirmed with a
// complete one (a refused confirmation empties it again).
template <class Choice> class ChoiceDialog : public OptionsDialog {
public:
    // Valid after the dialog was confirmed; empty otherwise.
    const Choice& choice() const { return choice_; }

protected:
    using OptionsDialog::OptionsDialog;

    void acceptIf(bool complete, const QString& refusal) {
        if (!OptionsDialog::acceptIf(complete, refusal)) choice_ = Choice{};
    }

    Choice choice_;
};

// Makes `buttons` one choice (checking one unchecks the others); the group belongs to `dialog`.
void makeExclusive(QDialog* dialog, std::initializer_list<QAbstractButton*> buttons);

// Says why a dialog cannot be confirmed yet (a choice it needs is missing) in a message box
// over it; the dialog stays open. Returns false, for `return refuseConfirmation(...)`.
bool refuseConfirmation(QDialog* dialog, const QString& text);
// Tests put in their own way of showing the refusal (and get the previous one back).
using RefusalHook = std::function<void(QDialog* dialog, const QString& text)>;
RefusalHook setRefusalHook(RefusalHook hook);

} // namespace quellar
