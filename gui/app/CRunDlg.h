#pragma once
// CRunDlg: the progress window of a running command. A small frameless window centred
// over the main window with one line of text (a message-table text such as Msg::Reading or
// Msg::Running) and one progress bar.
//
// It is the Progress the operations advance. Everything runs on the user-interface thread,
// so each time the bar moves (about a hundred times per phase) the window lets Qt paint
// the screen, at most every few dozen milliseconds; user input is held back meanwhile and
// the window is modal, so no second command can start while one runs. The bar shows
// 64-bit positions scaled to its own range, so a million-row table shows sensibly.

#include "base/MessageTable.h"
#include "base/Progress.h"

#include <QElapsedTimer>
#include <QFrame>

class QLabel;
class QProgressBar;

namespace quellar {

class CRunDlg : public QFrame, public Progress {
    Q_OBJECT
public:
    // `owner` is the window to centre over (the screen when null); it does not own this.
    explicit CRunDlg(QWidget* owner = nullptr);
    ~CRunDlg() override;

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

private:
    void showCentred();
    void pump(bool force);
    void updateBar();

    QWidget* owner_;
    QLabel* label_ = nullptr;
    QProgressBar* bar_ = nullptr;
    int64_t maximum_ = 0;
    int64_t step_ = 1;
    int64_t position_ = 0;
    int64_t positionChanges_ = 0;
    QElapsedTimer sincePaint_;
};

} // namespace quellar
