#include "app/CRunDlg.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QThread>
#include <QVBoxLayout>
#include <QWindow>

namespace quellar {
namespace {
constexpr int kBarResolution = 1000;
constexpr qint64 kPaintIntervalMs = 30;
} // namespace

CRunDlg::CRunDlg(QWidget* owner)
    : QFrame(owner, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
    , owner_(owner) {
    setObjectName(QStringLiteral("CRunDlg"));
    setWindowModality(Qt::ApplicationModal);
    setFrameShape(QFrame::Box);
    setStyleSheet(QStringLiteral("#CRunDlg { background: #fbfbfb; border: 1px solid #8a9199; }"
                                 "QLabel { color: #222; }"));
    setFixedSize(330, 120);

    label_ = new QLabel(this);
    label_->setAlignment(Qt::AlignCenter);
    bar_ = new QProgressBar(this);
    bar_->setRange(0, kBarResolution);
    bar_->setValue(0);
    bar_->setTextVisible(false);
    bar_->setFixedHeight(20);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 22, 24, 26);
    layout->setSpacing(14);
    layout->addWidget(label_);
    layout->addWidget(bar_);
}

CRunDlg::~CRunDlg() = default;

QString CRunDlg::text() const {
    return label_->text();
}

void CRunDlg::setText(Msg text) {
    label_->setText(MessageTable::text(text));
    if (!isVisible()) showCentred();
    pump(true);
}

void CRunDlg::showBusy(const QString& text) {
    label_->setText(label_->fontMetrics().elidedText(text, Qt::ElideMiddle, width() - 48));
    bar_->setRange(0, 0);
    if (!isVisible()) showCentred();
    pump(true);
}

void CRunDlg::setRange(int64_t maximum) {
    bar_->setRange(0, kBarResolution);
    maximum_ = std::max<int64_t>(0, maximum);
    updateBar();
}

void CRunDlg::setStep(int64_t step) {
    step_ = std::max<int64_t>(1, step);
}

void CRunDlg::setPosition(int64_t position) {
    position_ = position;
    ++positionChanges_;
    updateBar();
    pump(false);
}

void CRunDlg::updateBar() {
    int value = 0;
    if (maximum_ > 0)
        value = int(std::clamp<int64_t>(position_ * kBarResolution / maximum_, 0, kBarResolution));
    bar_->setValue(value);
}

void CRunDlg::finish() {
    hide();
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void CRunDlg::showCentred() {
    QRect area;
    if (owner_ && owner_->isVisible())
        area = owner_->window()->frameGeometry();
    else if (QScreen* screen = QApplication::primaryScreen())
        area = screen->availableGeometry();
    if (area.isValid()) move(area.center() - QPoint(width() / 2, height() / 2));
    show();
    // Give the window system a moment to map the window so its first frame is drawn
    // before the work starts.
    QElapsedTimer waited;
    waited.start();
    while (windowHandle() && !windowHandle()->isExposed() && waited.elapsed() < 200) {
        QApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
        QThread::msleep(5);
    }
    repaint();
}

void CRunDlg::pump(bool force) {
    if (!isVisible()) return;
    if (!force && sincePaint_.isValid() && sincePaint_.elapsed() < kPaintIntervalMs) return;
    sincePaint_.restart();
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

} // namespace quellar
