#pragma once
// FindBar: the strip a grid pane shows for Ctrl+F. The typed text is looked for with Enter
// or F3 (onward) and Shift+Enter or Shift+F3 (back); Escape or the close button hides the
// strip and gives the focus back to the grid. The pane does the looking and reports back
// whether anything was found.

#include <QWidget>

#include <functional>

class QLabel;
class QLineEdit;

namespace quellar {

class FindBar : public QWidget {
    Q_OBJECT
public:
    explicit FindBar(QWidget* parent = nullptr);

    QString text() const;
    QLineEdit* edit() const { return edit_; }
    // Shows the strip with the text selected, ready for typing.
    void open();
    // Shows "找不到“…”" (or nothing) beside the text box.
    void showOutcome(bool found);
    QString outcomeText() const;

    // Looks for the text, backward or onward; answers whether it was found.
    std::function<bool(const QString& text, bool backward)> find;
    // Called when the strip closes.
    std::function<void()> closed;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void search(bool backward);

    QLineEdit* edit_ = nullptr;
    QLabel* outcome_ = nullptr;
};

} // namespace quellar
