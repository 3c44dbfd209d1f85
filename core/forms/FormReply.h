#pragma once
// FormReply: the texts a condition form page hands back when its button is pressed, kept
// for the command that showed the page. The form window's call-backs only store them (a
// query page sets replyConditions, a summary page all three); the commands read them and
// empty what they used, so a later command needs a new reply. Closing the form window any
// other way leaves the texts as they were, and empty texts mean that nothing was chosen.
//
// Formats: replyConditions "字段|比较符|值|and|…", replyGroups "字段|字段…", replySums
// "C (金额)|D (数量)…" (see table/ConditionalQuery.h).

#include <QString>

namespace quellar {

struct FormReply {
    QString replyConditions;
    QString replyGroups;
    QString replySums;

    // What the query needs: a condition text.
    bool queryChosen() const { return !replyConditions.isEmpty(); }
    // What the summary needs: a condition text and sum columns.
    bool summaryChosen() const { return !replyConditions.isEmpty() && !replySums.isEmpty(); }

    // After a query the condition text is used up.
    void queryDone() { replyConditions.clear(); }
    // After a summary the conditions and sums are used up; the group fields stay as the page
    // last set them.
    void summaryDone() {
        replyConditions.clear();
        replySums.clear();
    }
};

} // namespace quellar
