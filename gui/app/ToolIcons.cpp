#include "app/ToolIcons.h"

#include <QFont>
#include <QHash>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <cmath>

namespace quellar {
namespace {

// Colours shared by the icons.
const QColor kGreen(33, 115, 70);
const QColor kLightGreen(124, 196, 120);
const QColor kBlue(43, 108, 196);
const QColor kLightBlue(120, 170, 235);
const QColor kRed(214, 64, 52);
const QColor kYellow(245, 196, 48);
const QColor kOrange(236, 134, 36);
const QColor kGrey(96, 104, 112);
const QColor kPaper(255, 255, 255);
const QColor kLine(150, 158, 166);

// The closed outline through `points`.
QPainterPath outline(std::initializer_list<QPointF> points) {
    QPainterPath path;
    path.addPolygon(QPolygonF(points));
    path.closeSubpath();
    return path;
}

// A small sheet: white paper, a coloured header row and a 3 x 4 grid.
void sheet(QPainter& p, const QRectF& r, const QColor& header) {
    p.setPen(QPen(kGrey, 1.0));
    p.setBrush(kPaper);
    p.drawRoundedRect(r, 1.2, 1.2);
    const double rowH = r.height() / 5.0;
    p.fillRect(QRectF(r.left() + 0.5, r.top() + 0.5, r.width() - 1, rowH), header);
    p.setPen(QPen(kLine, 0.7));
    for (int i = 1; i < 5; ++i)
        p.drawLine(QPointF(r.left() + 1, r.top() + i * rowH), QPointF(r.right() - 1, r.top() + i * rowH));
    for (int i = 1; i < 3; ++i) {
        const double x = r.left() + i * r.width() / 3.0;
        p.drawLine(QPointF(x, r.top() + rowH), QPointF(x, r.bottom() - 1));
    }
}

void cell(QPainter& p, const QRectF& sheetRect, int row, int column, const QColor& fill) {
    const double rowH = sheetRect.height() / 5.0, colW = sheetRect.width() / 3.0;
    p.fillRect(QRectF(sheetRect.left() + column * colW + 0.6, sheetRect.top() + row * rowH + 0.6, colW - 1.2,
                      rowH - 1.2),
               fill);
}

void glyph(QPainter& p, const QString& text, const QRectF& box, const QColor& color, double size,
           bool bold = true) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(int(std::lround(size)));
    font.setBold(bold);
    QPainterPath path;
    path.addText(0, 0, font, text);
    const QRectF b = path.boundingRect();
    path.translate(box.center() - b.center());
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawPath(path);
}

void magnifier(QPainter& p, const QPointF& centre, double radius, const QColor& rim) {
    p.setPen(QPen(rim, 3.0, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(centre + QPointF(radius * 0.7, radius * 0.7), centre + QPointF(radius * 1.75, radius * 1.75));
    p.setPen(QPen(rim, 2.2));
    p.setBrush(QColor(220, 236, 255, 220));
    p.drawEllipse(centre, radius, radius);
}

void book(QPainter& p, const QRectF& r, const QColor& cover) {
    p.setPen(QPen(cover.darker(140), 1.0));
    p.setBrush(cover);
    p.drawRoundedRect(r, 1.5, 1.5);
    p.fillRect(QRectF(r.left() + 3, r.top() + 2, r.width() - 5, r.height() - 4), kPaper);
    p.setPen(QPen(kLine, 0.8));
    for (double y = r.top() + 5; y < r.bottom() - 3; y += 3.2)
        p.drawLine(QPointF(r.left() + 5, y), QPointF(r.right() - 3, y));
    p.fillRect(QRectF(r.left(), r.top(), 2.5, r.height()), cover.darker(120));
}

void arrow(QPainter& p, QPointF from, QPointF to, const QColor& color, double width) {
    p.setPen(QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(from, to);
    const QPointF d = to - from;
    const double len = std::hypot(d.x(), d.y());
    if (len <= 0) return;
    const QPointF u = d / len, n(-u.y(), u.x());
    QPolygonF head;
    head << to + u * 2.0 << to - u * 4.0 + n * 3.6 << to - u * 4.0 - n * 3.6;
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawPolygon(head);
}

void draw(QPainter& p, IconKind kind) {
    switch (kind) {
    case IconKind::CompareTables: {
        const QRectF a(2, 3, 17, 21), b(13, 9, 17, 21);
        sheet(p, a, kLightGreen);
        sheet(p, b, kLightBlue);
        cell(p, b, 2, 1, kRed);
        cell(p, b, 3, 0, kYellow);
        cell(p, b, 4, 2, QColor(96, 208, 96));
        break;
    }
    case IconKind::CompareBooks: {
        book(p, QRectF(2, 4, 13, 18), kGreen);
        book(p, QRectF(17, 10, 13, 18), kBlue);
        arrow(p, QPointF(9, 27), QPointF(15, 27), kOrange, 2.0);
        arrow(p, QPointF(23, 5), QPointF(17, 5), kOrange, 2.0);
        break;
    }
    case IconKind::GroupSum: {
        const QRectF s(2, 8, 18, 21);
        sheet(p, s, kLightGreen);
        cell(p, s, 2, 0, QColor(200, 226, 255));
        cell(p, s, 3, 0, QColor(200, 226, 255));
        p.setPen(Qt::NoPen);
        p.setBrush(kBlue);
        p.drawEllipse(QRectF(14, 1, 17, 17));
        glyph(p, QStringLiteral("Σ"), QRectF(14, 1, 17, 17), Qt::white, 13);
        break;
    }
    case IconKind::PageSubtotals: {
        const QPainterPath page = outline({{5, 2}, {21, 2}, {27, 8}, {27, 30}, {5, 30}});
        p.setPen(QPen(kGrey, 1.0));
        p.setBrush(kPaper);
        p.drawPath(page);
        p.setBrush(QColor(220, 224, 228));
        p.drawPolygon(QPolygonF() << QPointF(21, 2) << QPointF(21, 8) << QPointF(27, 8));
        p.setPen(QPen(kLine, 1.0));
        for (double y = 7; y < 14; y += 3)
            p.drawLine(QPointF(8, y), QPointF(19, y));
        p.setPen(QPen(kRed, 1.4, Qt::DashLine));
        p.drawLine(QPointF(3, 16.5), QPointF(29, 16.5));
        glyph(p, QStringLiteral("Σ"), QRectF(6, 18, 20, 11), kBlue, 11);
        break;
    }
    case IconKind::Join: {
        const QRectF a(2, 4, 13, 19), b(17, 9, 13, 19);
        sheet(p, a, kLightGreen);
        sheet(p, b, kLightBlue);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(kOrange, 2.4));
        p.drawRoundedRect(QRectF(9, 21, 10, 7), 3.5, 3.5);
        p.drawRoundedRect(QRectF(15, 21, 10, 7), 3.5, 3.5);
        break;
    }
    case IconKind::BlankRows: {
        p.setPen(QPen(kGrey, 1.0));
        p.setBrush(kPaper);
        p.drawRoundedRect(QRectF(2, 3, 20, 26), 1.2, 1.2);
        for (int i = 0; i < 4; ++i) {
            const double y = 5 + i * 6;
            p.fillRect(QRectF(4, y, 16, 2.6), i % 2 == 0 ? kLightGreen : QColor(235, 238, 240));
        }
        p.setPen(Qt::NoPen);
        p.setBrush(kGreen);
        p.drawEllipse(QRectF(17, 15, 14, 14));
        p.setPen(QPen(Qt::white, 2.4, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(24, 18), QPointF(24, 26));
        p.drawLine(QPointF(20, 22), QPointF(28, 22));
        break;
    }
    case IconKind::Filter: {
        const QRectF s(2, 2, 17, 21);
        sheet(p, s, kLightBlue);
        const QPainterPath funnel = outline({{13, 12}, {31, 12}, {24, 21}, {24, 29}, {20, 31}, {20, 21}});
        p.setPen(QPen(kOrange.darker(130), 1.0));
        p.setBrush(kOrange);
        p.drawPath(funnel);
        break;
    }
    case IconKind::Query: {
        const QRectF s(2, 2, 19, 23);
        sheet(p, s, kLightGreen);
        magnifier(p, QPointF(19, 18), 7, kBlue);
        break;
    }
    case IconKind::ConditionalSum: {
        const QRectF s(2, 2, 19, 23);
        sheet(p, s, kLightBlue);
        magnifier(p, QPointF(19, 18), 7.5, kGreen);
        glyph(p, QStringLiteral("Σ"), QRectF(12.5, 11.5, 13, 13), kGreen, 10);
        break;
    }
    case IconKind::Help: {
        QRadialGradient g(QPointF(13, 11), 16);
        g.setColorAt(0, kLightBlue);
        g.setColorAt(1, kBlue);
        p.setPen(QPen(kBlue.darker(130), 1.0));
        p.setBrush(g);
        p.drawEllipse(QRectF(2, 2, 28, 28));
        glyph(p, QStringLiteral("?"), QRectF(2, 2, 28, 28), Qt::white, 21);
        break;
    }
    case IconKind::WebSite: {
        QRadialGradient g(QPointF(12, 11), 17);
        g.setColorAt(0, QColor(150, 215, 255));
        g.setColorAt(1, QColor(30, 120, 200));
        p.setPen(QPen(QColor(20, 90, 160), 1.2));
        p.setBrush(g);
        p.drawEllipse(QRectF(2, 2, 28, 28));
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(255, 255, 255, 210), 1.2));
        p.drawEllipse(QRectF(10, 2.5, 12, 27));
        p.drawLine(QPointF(16, 2.5), QPointF(16, 29.5));
        p.drawLine(QPointF(2.5, 16), QPointF(29.5, 16));
        p.drawLine(QPointF(5, 9), QPointF(27, 9));
        p.drawLine(QPointF(5, 23), QPointF(27, 23));
        break;
    }
    case IconKind::OpenFile: {
        p.setPen(QPen(QColor(176, 128, 20), 1.0));
        p.setBrush(QColor(240, 190, 70));
        p.drawRoundedRect(QRectF(2, 7, 26, 21), 2, 2);
        p.setBrush(QColor(252, 214, 110));
        const QPainterPath front = outline({{6, 13}, {31, 13}, {27, 28}, {2, 28}});
        p.drawPath(front);
        break;
    }
    case IconKind::Export: {
        p.setPen(Qt::NoPen);
        p.setBrush(kGreen);
        p.drawRoundedRect(QRectF(2, 4, 20, 24), 2.5, 2.5);
        glyph(p, QStringLiteral("X"), QRectF(2, 4, 20, 24), Qt::white, 17);
        arrow(p, QPointF(17, 16), QPointF(28, 16), kOrange, 3.0);
        break;
    }
    case IconKind::Report: {
        p.setPen(QPen(kGrey, 1.0));
        p.setBrush(kPaper);
        p.drawRoundedRect(QRectF(5, 2, 22, 28), 1.5, 1.5);
        p.setPen(QPen(kLine, 1.4));
        for (double y = 8; y < 27; y += 4)
            p.drawLine(QPointF(9, y), QPointF(23, y));
        p.fillRect(QRectF(9, 11.3, 5, 2.4), kRed);
        p.fillRect(QRectF(9, 15.3, 8, 2.4), kYellow);
        p.fillRect(QRectF(9, 19.3, 6, 2.4), QColor(96, 208, 96));
        break;
    }
    case IconKind::Repair: {
        p.setPen(QPen(kGrey.darker(120), 4.2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(8, 25), QPointF(19, 14));
        p.setPen(Qt::NoPen);
        p.setBrush(kGrey);
        QPainterPath head;
        head.addEllipse(QPointF(22, 10), 7.5, 7.5);
        QPainterPath notch;
        notch.addRect(QRectF(20, 1, 4, 9));
        p.drawPath(head.subtracted(notch));
        break;
    }
    case IconKind::Exit: {
        p.setPen(QPen(QColor(110, 80, 60), 1.0));
        p.setBrush(QColor(190, 140, 90));
        p.drawRect(QRectF(6, 3, 15, 26));
        p.setBrush(QColor(255, 230, 150));
        p.drawEllipse(QPointF(18, 17), 1.3, 1.3);
        arrow(p, QPointF(16, 16), QPointF(29, 16), kRed, 3.0);
        break;
    }
    case IconKind::Application: {
        QLinearGradient g(0, 0, 0, 32);
        g.setColorAt(0, QColor(52, 160, 96));
        g.setColorAt(1, kGreen);
        p.setPen(Qt::NoPen);
        p.setBrush(g);
        p.drawRoundedRect(QRectF(1, 1, 30, 30), 6, 6);
        p.setPen(QPen(QColor(255, 255, 255, 90), 1.0));
        for (int i = 1; i < 4; ++i) {
            p.drawLine(QPointF(4, 4 + i * 6.5), QPointF(28, 4 + i * 6.5));
            p.drawLine(QPointF(4 + i * 6.5, 4), QPointF(4 + i * 6.5, 28));
        }
        glyph(p, QStringLiteral("Q"), QRectF(1, 0, 30, 30), Qt::white, 24);
        break;
    }
    }
}

QPixmap render(IconKind kind, int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.scale(size / 32.0, size / 32.0);
    draw(p, kind);
    return pixmap;
}

} // namespace

QIcon toolIcon(IconKind kind) {
    static QHash<int, QIcon> cache;
    const auto it = cache.constFind(int(kind));
    if (it != cache.constEnd()) return *it;
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64})
        icon.addPixmap(render(kind, size));
    cache.insert(int(kind), icon);
    return icon;
}

} // namespace quellar
