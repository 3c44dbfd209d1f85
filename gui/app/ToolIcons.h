#pragma once
// The program's own icons, drawn with QPainter when first asked for: one per toolbar
// command (32 x 32, with a sharp double-size version for high-density screens), the menu
// commands, and the window icon.

#include <QIcon>

namespace quellar {

enum class IconKind {
    CompareTables,  // 两表对比
    CompareBooks,   // 两簿比较
    GroupSum,       // 分组汇总
    PageSubtotals,  // 分页汇总
    Join,           // 两表连接
    BlankRows,      // 增加空行
    Filter,         // 比较筛选
    Query,          // 条件查询
    ConditionalSum, // 条件汇总
    Help,           // 帮助
    WebSite,        // 网站
    OpenFile,       // 打开文件
    Export,         // 导出到Excel
    Report,         // 对比报告
    Repair,         // 修复
    Exit,           // 退出
    Application,    // the window icon
};

QIcon toolIcon(IconKind kind);

} // namespace quellar
