#include "dialogs/CAddRowDlg.h"

#include "table/BlankRows.h"

#include <QAbstractSpinBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>

#include <algorithm>

namespace quellar {
namespace {

constexpr int kStepMinimum = 1;
constexpr int kStepMaximum = 100;

// A number box whose arrows step within 1 … 100 but whose text is never corrected: any
// typed text stays and is read when the dialog is confirmed.
class CountBox : public QAbstractSpinBox {
public:
    explicit CountBox(QWidget* parent)
        : QAbstractSpinBox(parent) {
        setWrapping(false);
        setCorrectionMode(QAbstractSpinBox::CorrectToPreviousValue);
        setAccelerated(true);
        lineEdit()->setText(QString::number(kStepMinimum));
    }

    QValidator::State validate(QString&, int&) const override { return QValidator::Acceptable; }
    void fixup(QString&) const override {}

    void stepBy(int steps) override {
        const int next = std::clamp(current() + steps, kStepMinimum, kStepMaximum);
        lineEdit()->setText(QString::number(next));
        lineEdit()->selectAll();
    }

protected:
    StepEnabled stepEnabled() const override {
        StepEnabled enabled = StepNone;
        const int value = current();
        if (value < kStepMaximum) enabled |= StepUpEnabled;
        if (value > kStepMinimum) enabled |= StepDownEnabled;
        return enabled;
    }

private:
    // The arrows start from the typed number, brought into their range.
    int current() const { return std::clamp(blankCountFromText(text()), kStepMinimum, kStepMaximum); }
};

} // namespace

CAddRowDlg::CAddRowDlg(QWidget* parent)
    : OptionsDialog(QStringLiteral("平均增加空行"), parent) {

    auto* box = new QGroupBox(QStringLiteral("选择行数"), this);
    count_ = new CountBox(box);
    count_->setObjectName(QStringLiteral("count"));
    count_->setMinimumWidth(120);
    auto* boxLayout = new QHBoxLayout(box);
    boxLayout->setContentsMargins(40, 14, 40, 14);
    boxLayout->addWidget(count_);

    layOut({box}, QStringLiteral("增加"));
    count_->setFocus();
}

void CAddRowDlg::accept() {
    const int count = blankCountFromText(count_->text());
    if (count > 0) blankCount_ = count;
    acceptIf(count > 0, QStringLiteral("请输入每行后面要增加的空行数（1 或更多）。"));
}

} // namespace quellar
