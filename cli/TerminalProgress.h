#pragma once
// A progress bar drawn on a terminal (stderr): the current phase's text, a bar and a
// percentage, redrawn in place at most a few times a second.

#include "base/Progress.h"

#include <chrono>
#include <ostream>

namespace quellar::cli {

class TerminalProgress final : public Progress {
public:
    explicit TerminalProgress(std::ostream& stream)
        : stream_(stream) {}
    ~TerminalProgress() override { finish(); }

    void setText(Msg text) override;
    void setRange(int64_t maximum) override;
    void setStep(int64_t) override {}
    void setPosition(int64_t position) override;
    int64_t position() const override { return position_; }
    void finish();

private:
    void draw(bool force);
    std::ostream& stream_;
    QString text_;
    int64_t maximum_ = 0;
    int64_t position_ = 0;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point lastDraw_{};
};

} // namespace quellar::cli
