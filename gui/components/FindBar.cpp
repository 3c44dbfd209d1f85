#include "components/FindBar.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

namespace quellar {

FindBar::FindBar(QWidget* parent)
    : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->setSpacing(4);
    layout->addWidget(new QLabel(QStringLiteral("查找："), this));
    edit_ = new QLineEdit(this);
    edit_->setClearButtonEnabled(true);
    edit_->setPlaceholderText(QStringLiteral("单元格中的文字"));
    layout->addWidget(edit_, 1);
    auto button = [&](const QString& text, const QString& tip) {
        auto* b = new QToolButton(this);
        b->setText(text);
        b->setToolTip(tip);
        b->setAutoRaise(true);
        layout->addWidget(b);
        return b;
    };
    QToolButton* previous = button(QStringLiteral("上一个"), QStringLiteral("向前查找（Shift+F3）"));
    QToolButton* next = button(QStringLiteral("下一个"), QStringLiteral("向后查找（F3 或回车）"));
    outcome_ = new QLabel(this);
    outcome_->setStyleSheet(QStringLiteral("color: #b00020;"));
    layout->addWidget(outcome_);
    QToolButton* close = button(QStringLiteral("✕"), QStringLiteral("关闭查找（Esc）"));
    connect(previous, &QToolButton::clicked, this, [this] { search(true); });
    connect(next, &QToolButton::clicked, this, [this] { search(false); });
    connect(edit_, &QLineEdit::textChanged, this, [this] { outcome_->clear(); });
    connect(close, &QToolButton::clicked, this, [this] {
        hide();
        if (closed) closed();
    });
    hide();
}

QString FindBar::text() const {
    return edit_->text();
}

void FindBar::open() {
    show();
    edit_->setFocus(Qt::ShortcutFocusReason);
    edit_->selectAll();
}

void FindBar::showOutcome(bool found) {
    outcome_->setText(found ? QString() : QStringLiteral("找不到“%1”").arg(edit_->text()));
}

QString FindBar::outcomeText() const {
    return outcome_->text();
}

void FindBar::keyPressEvent(QKeyEvent* event) {
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    switch (event->key()) {
    case Qt::Key_Escape:
        hide();
        if (closed) closed();
        return;
    case Qt::Key_F3:
        search(shift);
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // The text box passes Enter on after its returnPressed signal.
        search(shift);
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

void FindBar::search(bool backward) {
    if (edit_->text().isEmpty() || !find) return;
    showOutcome(find(edit_->text(), backward));
}

} // namespace quellar
