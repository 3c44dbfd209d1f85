#pragma once
// CMyHtmlView: the view of one condition form page. It loads the page file (tj_select.htm
// or tj_sum.htm in the working directory) as a file URL, and its two call-backs, reached by
// the page's script as window.external.tjSelect(conditions) and
// window.external.tjSum(conditions, groups, sums), store the texts in the FormReply it was
// given and then ask the dialog to close. They check nothing: the commands judge the texts.
// Closing the dialog any other way leaves the FormReply as it was.

#include "forms/CHtmlView2.h"
#include "forms/FormReply.h"

#include <QObject>
#include <QString>

namespace quellar {

class CMyHtmlView;

// What the page reaches as window.external: only the two call-backs.
class FormCallbacks : public QObject {
    Q_OBJECT
public:
    explicit FormCallbacks(CMyHtmlView* view); // the view owns it

    Q_INVOKABLE void tjSelect(const QString& conditions);
    Q_INVOKABLE void tjSum(const QString& conditions, const QString& groups, const QString& sums);

private:
    CMyHtmlView* view_;
};

class CMyHtmlView : public CHtmlView2 {
    Q_OBJECT
public:
    // `reply` must outlive the view.
    CMyHtmlView(const QString& pagePath, FormReply& reply, QWidget* parent = nullptr);

    void initialUpdate() override;

    const QString& pagePath() const { return pagePath_; }

    void tjSelect(const QString& conditions);
    void tjSum(const QString& conditions, const QString& groups, const QString& sums);

private:
    void closeDialog();

    QString pagePath_;
    FormReply& reply_;
    // On the heap, owned by the view: the page reaches it through the channel, and a script
    // calling its inherited deleteLater() must not free a member object.
    FormCallbacks* callbacks_;
};

} // namespace quellar
