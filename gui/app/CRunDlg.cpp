#include "app/CRunDlg.h"

#include <QApplication>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include <thread>

namespace quellar {
namespace {
constexpr int kBarResolution = 1000;
constexpr qint64 kPaintIntervalMs = 30;
} // namespace

// What the work on its thread reports, kept for the user-interface thread to show: only
// atomics, so the work never waits for the window and never touches a widget.
class CRunDlg::Relay final : public Progress {
public:
    void setText(Msg text) override { text_.store(int(text), std::memory_order_relaxed); }
    void setRange(int64_t maximum) override { maximum_.store(maximum, std::memory_order_relaxed); }
    void setStep(int64_t) override {}
    void setPosition(int64_t position) override { position_.store(position, std::memory_order_relaxed); }
    int64_t position() const override { return position_.load(std::memory_order_relaxed); }

    std::atomic<int> text_{-1};        // the last message-table text, -1 before any
    std::atomic<int64_t> maximum_{-1}; // -1 before any range: the bar stays "busy"
    std::atomic<int64_t> position_{0};
};

CRunDlg::CRunDlg(QWidget* owner)
    : QFrame(owner, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
    , owner_(owner) {
    setObjectName(QStringLiteral("CRunDlg"));
    setWindowModality(Qt::ApplicationModal);
    setFrameShape(QFrame::Box);
    setStyleSheet(QStringLiteral("#CRunDlg { background: #fbfbfb; border: 1px solid #8a9199; }"
                                 "QLabel { color: #222; }"));
    setFixedSize(330, 150);
    setFocusPolicy(Qt::StrongFocus);

    label_ = new QLabel(this);
    label_->setAlignment(Qt::AlignCenter);
    bar_ = new QProgressBar(this);
    bar_->setRange(0, kBarResolution);
    bar_->setValue(0);
    bar_->setTextVisible(false);
    bar_->setFixedHeight(20);

    cancelButton_ = new QPushButton(MessageTable::text(Msg::Cancel), this);
    cancelButton_->setObjectName(QStringLiteral("cancel"));
    cancelButton_->setAutoDefault(false);
    cancelButton_->setEnabled(false); // only work run by run() can stop
    connect(cancelButton_, &QPushButton::clicked, this, &CRunDlg::cancel);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 18, 24, 14);
    layout->setSpacing(12);
    layout->addWidget(label_);
    layout->addWidget(bar_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancelButton_);
    buttons->addStretch();
    layout->addLayout(buttons);
}

CRunDlg::~CRunDlg() = default;

QString CRunDlg::text() const {
    return label_->text();
}

Status CRunDlg::run(const std::function<Status(Progress& progress)>& work) {
    Relay relay;
    cancelRequested_.store(false);
    cancelClock_.invalidate();
    shownText_ = -1;
    running_ = true;
    cancelButton_->setEnabled(true);
    if (!isVisible()) showCentred();
    activateWindow();
    setFocus();
    QEventLoop loop;
    QTimer tick;
    connect(&tick, &QTimer::timeout, this, [&] { showRelayed(relay); });
    tick.start(int(kPaintIntervalMs));
    emit runStarted();
    Status status;
    std::thread worker([&] {
        const cancellation::Scope scope(&cancelRequested_);
        status = runGuarded([&] { return work(relay); });
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    // The user-interface thread goes on meanwhile: painting, timers, and the input this modal
    // window takes (取消, Esc).
    loop.exec();
    worker.join();
    tick.stop();
    running_ = false;
    cancelButton_->setEnabled(false);
    showRelayed(relay);
    if (cancelRequested_.load()) return Status::cancelled();
    return status;
}

void CRunDlg::cancel() {
    if (!running_ || cancelRequested_.load()) return;
    cancelRequested_.store(true);
    cancelClock_.start();
    label_->setText(MessageTable::text(Msg::Cancelling));
    cancelButton_->setEnabled(false);
}

void CRunDlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        cancel();
        return;
    }
    QFrame::keyPressEvent(event);
}

void CRunDlg::showRelayed(const Relay& relay) {
    if (cancelRequested_.load()) return; // the window says it is cancelling
    const int text = relay.text_.load(std::memory_order_relaxed);
    if (text >= 0 && text != shownText_) {
        shownText_ = text;
        label_->setText(MessageTable::text(Msg(text)));
    }
    const int64_t maximum = relay.maximum_.load(std::memory_order_relaxed);
    if (maximum < 0) return;
    if (bar_->maximum() == 0) bar_->setRange(0, kBarResolution);
    maximum_ = maximum;
    position_ = relay.position();
    updateBar();
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
