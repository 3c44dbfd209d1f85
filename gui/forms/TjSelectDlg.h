#pragma once
// TjSelectDlg: the modal window "条件查询汇总" that shows a condition form page. Its whole
// client area is the page's view (CMyHtmlView); pressing the page's button stores the texts
// in the FormReply given at construction and closes the window. Closing it any other way
// leaves the FormReply untouched. Created for one use; its modal result means nothing.

#include "forms/FormReply.h"

#include <QDialog>
#include <QString>

namespace quellar {

class CMyHtmlView;

class TjSelectDlg : public QDialog {
    Q_OBJECT
public:
    // `pagePath`: the page file to show; `reply` must outlive the dialog.
    TjSelectDlg(const QString& pagePath, FormReply& reply, QWidget* parent = nullptr);

    // The view, or nullptr when it could not be made.
    CMyHtmlView* view() const { return view_; }

    // The fixed size: 654 by 419 dialog units of the 8-point dialog font.
    static QSize formSize();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    CMyHtmlView* view_ = nullptr;
};

} // namespace quellar
