#include "forms/CMyHtmlView.h"

#include <QUrl>

namespace quellar {

namespace {

// The call-backs receive automation-style strings: a null one is kept as an empty text.
QString orEmpty(const QString& text) {
    return text.isNull() ? QStringLiteral("") : text;
}

} // namespace

FormCallbacks::FormCallbacks(CMyHtmlView* view)
    : QObject(view)
    , view_(view) {}

void FormCallbacks::tjSelect(const QString& conditions) {
    view_->tjSelect(conditions);
}

void FormCallbacks::tjSum(const QString& conditions, const QString& groups, const QString& sums) {
    view_->tjSum(conditions, groups, sums);
}

CMyHtmlView::CMyHtmlView(const QString& pagePath, FormReply& reply, QWidget* parent)
    : CHtmlView2(parent)
    , pagePath_(pagePath)
    , reply_(reply)
    , callbacks_(new FormCallbacks(this)) {
    setExternalObject(callbacks_);
}

void CMyHtmlView::initialUpdate() {
    CHtmlView2::initialUpdate();
    load(QUrl::fromLocalFile(pagePath_));
}

void CMyHtmlView::tjSelect(const QString& conditions) {
    reply_.replyConditions = orEmpty(conditions);
    closeDialog();
}

void CMyHtmlView::tjSum(const QString& conditions, const QString& groups, const QString& sums) {
    reply_.replyConditions = orEmpty(conditions);
    reply_.replyGroups = orEmpty(groups);
    reply_.replySums = orEmpty(sums);
    closeDialog();
}

void CMyHtmlView::closeDialog() {
    // Posted, so the dialog closes once the call has returned.
    QWidget* dialog = window();
    QMetaObject::invokeMethod(dialog, &QWidget::close, Qt::QueuedConnection);
}

} // namespace quellar
