#include "forms/TjSelectDlg.h"

#include "app/ToolIcons.h"
#include "forms/CMyHtmlView.h"

#include <QApplication>
#include <QResizeEvent>
#include <QScreen>

namespace quellar {

namespace {

// A dialog unit is a quarter of the dialog font's average character width across and an
// eighth of its height down; the 8-point dialog font measures 6 by 13 pixels at 96 dpi.
constexpr int kBaseUnitX = 6;
constexpr int kBaseUnitY = 13;

int unitsAcross(int units) {
    return (units * kBaseUnitX + 2) / 4;
}

int unitsDown(int units) {
    return (units * kBaseUnitY + 4) / 8;
}

} // namespace

QSize TjSelectDlg::formSize() {
    return QSize(unitsAcross(654), unitsDown(419));
}

TjSelectDlg::TjSelectDlg(const QString& pagePath, FormReply& reply, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("条件查询汇总"));
    setWindowIcon(toolIcon(IconKind::Application));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setModal(true);
    QSize size = formSize();
    // A screen smaller than the form keeps the whole window on it; the page scrolls.
    if (QScreen* screen = parent ? parent->screen() : QApplication::primaryScreen())
        size = size.boundedTo(screen->availableGeometry().size() - QSize(16, 48));
    setFixedSize(size);

    // The placeholder marks the view's place (7,7 by 640 x 405 units); the view then fills
    // the client area.
    auto* placeholder = new QWidget(this);
    placeholder->setObjectName(QStringLiteral("1076"));
    placeholder->setGeometry(unitsAcross(7), unitsDown(7), unitsAcross(640), unitsDown(405));
    auto* view = new CMyHtmlView(pagePath, reply);
    // A page with long value lists takes seconds to load: the window says it is busy.
    setCursor(Qt::BusyCursor);
    connect(view, &CHtmlView2::pageFinished, this, [this] { unsetCursor(); });
    if (view->createOverPlaceholder(this, QStringLiteral("1076"))) {
        view_ = view;
        view_->setGeometry(rect());
    } else {
        delete view;
        unsetCursor();
    }
}

void TjSelectDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    if (view_) view_->setGeometry(rect());
}

} // namespace quellar
