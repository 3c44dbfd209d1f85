#pragma once
// CRunDlg: the progress window of a running command. A small frameless window centred
// over the main window with one line of text (a message-table text such as Msg::Reading or
// Msg::Running), one progress bar and a 取消 button.
//
// run() is how a command does its long steps: the work runs on a thread of its own while the
// user-interface thread goes on with its events, so the window stays painted, the bar moves
// and 取消 (or Esc) can be pressed. The work gets a Progress it may use from its thread and
// answers to 取消 at its cancellation points (base/Progress.h); run() returns once the work
// has ended. The window is modal, so no second command can start while one runs.
//
// It is also a Progress of its own for work on the user-interface thread: each time the bar
// moves (about a hundred times per phase) the window lets Qt paint the screen, at most every
// few dozen milliseconds, holding user input back meanwhile. The bar shows 64-bit positions
// scaled to its own range, so a million-row table shows sensibly.

#include "base/MessageTable.h"
#include "base/Progress.h"

#include <QElapsedTimer>
#include <QFrame>

#include <atomic>
#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;

namespace quellar {

class CRunDlg : public QFrame, public Progress {
    Q_OBJECT
public:
    // `owner` is the window to centre over (the screen when null); it does not own this.
    explicit CRunDlg(QWidget* owner = nullptr);
    ~CRunDlg() override;

    // Runs `work` on a thread of its own (it must touch no widget) and shows its progress until
    // it ends. Returns the work's Status, or Status::cancelled() when 取消 was pressed: what the
    // work made by then is the caller's to drop. An exception in the work becomes its Status.
    Status run(const std::function<Status(Progress& progress)>& work);
    // 取消 or Esc: asks the running work to stop. Nothing happens outside run().
    void cancel();
    // Whether the last run() was cancelled.
    bool cancelled() const { return cancelRequested_.load(); }
    // Milliseconds since 取消 was pressed, -1 when it was not; the benchmark times the answer.
    qint64 sinceCancel() const { return cancelClock_.isValid() ? cancelClock_.elapsed() : -1; }
    QPushButton* cancelButton() const { return cancelButton_; }
    // Whether run() is under way.
    bool running() const { return running_; }

    // Shows the window (when hidden) with the message-table text `text`.
    void setText(Msg text) override;
    void setRange(int64_t maximum) override;
    void setStep(int64_t step) override;
    void setPosition(int64_t position) override;
    int64_t position() const override { return position_; }

    // Shows the window with a text of its own and a bar that only says "busy", for work
    // whose length is not known (opening a workbook).
    void showBusy(const QString& text);

    // Hides the window until the next setText.
    void finish();

    QString text() const;
    int64_t maximum() const { return maximum_; }
    int64_t step() const { return step_; }
    // How often the bar was advanced; tests check the step rule with it.
    int64_t positionChanges() const { return positionChanges_; }

signals:
    // run() shows the window and is about to start the work (the tests press 取消 here).
    void runStarted();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    class Relay;
    void showCentred();
    void pump(bool force);
    void updateBar();
    // Shows what the work on its thread last reported.
    void showRelayed(const Relay& relay);

    QWidget* owner_;
    QLabel* label_ = nullptr;
    QProgressBar* bar_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    int64_t maximum_ = 0;
    int64_t step_ = 1;
    int64_t position_ = 0;
    int64_t positionChanges_ = 0;
    QElapsedTimer sincePaint_;
    std::atomic<bool> cancelRequested_{false};
    QElapsedTimer cancelClock_;
    bool running_ = false;
    int shownText_ = -1; // the message-table text the work last set, as shown
};

} // namespace quellar
