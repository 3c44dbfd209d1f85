#include "TerminalProgress.h"

#include "base/MessageTable.h"

#include <algorithm>

namespace quellar::cli {

void TerminalProgress::setText(Msg text) {
    finish();
    text_ = MessageTable::text(text);
    position_ = 0;
    maximum_ = 0;
}

void TerminalProgress::setRange(int64_t maximum) {
    maximum_ = maximum;
    draw(true);
}

void TerminalProgress::setPosition(int64_t position) {
    position_ = position;
    draw(false);
}

void TerminalProgress::draw(bool force) {
    const auto now = std::chrono::steady_clock::now();
    if (!force && drawn_ && now - lastDraw_ < std::chrono::milliseconds(100)) return;
    lastDraw_ = now;
    drawn_ = true;
    const int width = 30;
    const double fraction = maximum_ > 0 ? std::clamp(double(position_) / double(maximum_), 0.0, 1.0) : 0.0;
    const int filled = int(fraction * width);
    std::string bar(size_t(filled), '#');
    bar.append(size_t(width - filled), ' ');
    const QByteArray line = (QStringLiteral("\r%1 [").arg(text_) + QString::fromLatin1(bar.c_str()) +
                             QStringLiteral("] %1%").arg(int(fraction * 100), 3))
                                .toUtf8();
    stream_.write(line.constData(), line.size());
    stream_.flush();
}

void TerminalProgress::finish() {
    if (!drawn_) return;
    position_ = maximum_;
    draw(true);
    stream_ << '\n';
    stream_.flush();
    drawn_ = false;
}

} // namespace quellar::cli
