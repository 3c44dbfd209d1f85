#include "dialogs/CAddRowDlg.h"
#include "dialogs/CDiffDlg.h"
#include "dialogs/CLinkDlg.h"
#include "dialogs/CSumDlg.h"
#include "dialogs/GzbDlg.h"
#include "dialogs/PageSumDlg.h"
#include "dialogs/SelDlg.h"
#include <QAbstractButton>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>
#include <QTextStream>
#include <gtest/gtest.h>
using namespace quellar;
static void dump(QTextStream& out, QDialog& d) {
    d.show();
    QTest::qWait(50);
    out << "== " << d.metaObject()->className() << " " << d.windowTitle() << " " << d.size().width() << "x" << d.size().height() << " modal=" << d.isModal() << " flags=" << int(d.windowFlags()) << "\n";
    for (QWidget* w : d.findChildren<QWidget*>()) {
        QRect g(w->mapTo(&d, QPoint(0, 0)), w->size());
        QString text;
        if (auto* b = qobject_cast<QAbstractButton*>(w)) text = b->text() + (b->isChecked() ? " [x]" : "");
        if (auto* l = qobject_cast<QLabel*>(w)) text = l->text() + (l->buddy() ? " ->" + l->buddy()->objectName() : "");
        if (auto* g2 = qobject_cast<QGroupBox*>(w)) text = g2->title();
        if (auto* c = qobject_cast<QComboBox*>(w)) { for (int i = 0; i < c->count(); ++i) text += c->itemText(i) + "|"; text += QString::number(c->currentIndex()) + " mv" + QString::number(c->maxVisibleItems()); }
        if (auto* e = qobject_cast<QLineEdit*>(w)) text = e->text() + " ph:" + e->placeholderText();
        out << w->metaObject()->className() << " '" << w->objectName() << "' " << g.x() << "," << g.y() << " " << g.width() << "x" << g.height() << " en=" << w->isEnabled() << " vis=" << w->isVisible() << " minw=" << w->minimumWidth() << " " << text << "\n";
    }
    out << "focus:";
    QWidget* w = &d;
    for (int i = 0; i < 60; ++i) { w = w->nextInFocusChain(); if (w == &d) break; out << " " << w->metaObject()->className() << ":" << w->objectName(); }
    out << "\n";
    if (QWidget* f = d.focusWidget()) out << "focusWidget " << f->metaObject()->className() << "\n";
    d.hide();
}
TEST(ZZSnapshot, Dialogs) {
    QFile file(qEnvironmentVariable("SNAP_OUT"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    QTextStream out(&file);
    QStringList fields = {QStringLiteral("姓名"), QStringLiteral("工号"), QStringLiteral("部门"), QStringLiteral("金额")};
    { CDiffDlg d(fields); dump(out, d); }
    { CDiffDlg d(fields); d.restore(CompareOptions{true, true, false, true, false, {}}, {QStringLiteral("工号")}); dump(out, d); }
    { GzbDlg d; dump(out, d); }
    { CLinkDlg d(fields); dump(out, d); }
    { CSumDlg d(fields); dump(out, d); }
    { SelDlg d(fields); dump(out, d); }
    { CAddRowDlg d; dump(out, d); }
    { PageSumDlg d(pageSumDialogList(fields), 20); dump(out, d); }
}
#include "app/ToolIcons.h"
#include <QCryptographicHash>
#include <QImage>
TEST(ZZSnapshot, Icons) {
    QFile file(qEnvironmentVariable("SNAP_OUT") + ".icons");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    QTextStream out(&file);
    for (int k = 0; k <= int(IconKind::Application); ++k)
        for (int size : {16, 32, 64}) {
            QImage img = toolIcon(IconKind(k)).pixmap(size, size).toImage();
            out << k << " " << size << " " << QCryptographicHash::hash(QByteArray((const char*)img.constBits(), img.sizeInBytes()), QCryptographicHash::Md5).toHex() << "\n";
        }
}
