#include "base/StringTools.h"

#include "base/CellOps.h"
#include "base/TextIO.h"

#include <QFileInfo>
#include <QSysInfo>

#include <cstring>

namespace quellar {

namespace {

using MessageTable = std::map<QString, QString>;

MessageTable buildMessageTable() {
    MessageTable table;
    auto add = [&table](const char* key, const char16_t* text) {
        table.emplace(QString::fromLatin1(key), QString::fromUtf16(text));
    };
    // Toolbar captions and tips.
    add("tb0", u"两表对比");
    add("tb1", u"两薄比较");
    add("tb2", u"分组汇总");
    add("tb3", u"分页汇总");
    add("tb4", u"两表连接");
    add("tb5", u"增加空行");
    add("tb6", u"比较筛选");
    add("tb7", u"条件查询");
    add("tb8", u"条件汇总");
    add("tb11", u"帮助");
    add("tb12", u"网站");
    add("tbTip0", u"按条件对比");
    add("tbTip1", u"按条件比较两个工作簿");
    add("tbTip2", u"按条件汇总");
    add("tbTip3", u"每个分页添加小计");
    add("tbTip4", u"按条件合成");
    add("tbTip5", u"平均增加空行");
    add("tbTip6", u"根据对比条件筛选行");
    add("tbTip7", u"按指定组合条件查询");
    add("tbTip8", u"按指定组合条件汇总");
    add("tbTip11", u"帮助");
    add("tbTip12", u"网站支持");

    // Progress, messages, report and page subtotals.
    add("init", u"正在初始化，请稍后 ...");
    add("diff1", u"对比结果");
    add("diff2", u"对比");
    add("selTj", u"没有选择查询条件。");
    add("charset", u"gb2312");
    add("report", u"报告");
    add("time", u"时间：");
    add("time_format", u"%d月%d日%d年 %d点%d分%d秒");
    add("file1_local", u"文件一位置");
    add("file2_local", u"文件二位置");
    add("diff_book", u"工作簿比较");
    add("page_msg", u"标题列有空字段或重复字段，请修改后再次打开文件。");
    add("xj", u"小计");
    add("hj", u"合计");
    add("page_file", u"_分页汇总.xls");
    add("regsvr32", u"库注册成功，修复完成。");
    add("check", u"Excel表第一行必须是不同名称的字段。");

    // Condition form pages and their messages.
    add("bjf1", u"等于");
    add("bjf2", u"大于");
    add("bjf3", u"大等于");
    add("bjf4", u"小于");
    add("bjf5", u"小等于");
    add("bjf6", u"不等于");
    add("and", u"并且");
    add("query", u"条件查询");
    add("sum", u"条件汇总");
    add("bj1", u"比较名称");
    add("bj2", u"比较符号");
    add("bj3", u"比较值");
    add("bj4", u"逻辑条件");
    add("btnTj", u"查 询");
    add("btnSum", u"汇 总");
    add("tj_msg", u"没有选择查询条件。");
    add("sum_msg", u"没有选择查询条件或没有选择汇总数字列。");
    add("group", u"分组条件");
    add("colSum", u"选择要汇总的数字列");

    // Result phase, comparison report and result sheet names.
    add("run", u"正在运行，请稍后 ...");
    add("shtName", u"工作表名称：");
    add("diffRow", u"不同的行数：");
    add("diffCell", u"不同的单元格：");
    add("red", u"红色");
    add("f1Cell", u"文件一独有的单元格：");
    add("yellow", u"黄色");
    add("f2Cell", u"文件2独有的单元格：");
    add("green", u"绿色");
    add("links", u"连接结果");
    add("sels", u"筛选结果");
    add("adds", u"增加结果");
    add("sums", u"汇总结果");
    return table;
}

// Built on first use (thread-safe), then only read.
const MessageTable& messageTable() {
    static const MessageTable table = buildMessageTable();
    return table;
}

} // namespace

StringTools::StringTools()
    : table_(&messageTable()) {}

QString StringTools::text(const QString& key) const {
    const auto it = table_->find(key);
    if (it != table_->end()) return it->second;
    missing_.insert(key);
    return QString();
}

bool StringTools::contains(const QString& key) const {
    return table_->count(key) != 0 || missing_.count(key) != 0;
}

size_t StringTools::size() const {
    return table_->size() + missing_.size();
}

bool StringTools::isCellReference(QStringView text) { return quellar::isCellReference(text); }

QByteArray StringTools::encodeTextFile(const QString& text) {
    // Byte-order mark, the UTF-16 code units little-endian, then CR LF.
    QByteArray bytes(2 + text.size() * 2 + 4, Qt::Uninitialized);
    char* out = bytes.data();
    auto put = [&out](char16_t unit) {
        *out++ = char(unit & 0xFF);
        *out++ = char(unit >> 8);
    };
    put(0xFEFF);
    if constexpr (QSysInfo::ByteOrder == QSysInfo::LittleEndian) {
        std::memcpy(out, text.utf16(), size_t(text.size()) * 2);
        out += text.size() * 2;
    } else {
        for (QChar c : text) put(c.unicode());
    }
    put(u'\r');
    put(u'\n');
    return bytes;
}

Status StringTools::writeTextFile(const QString& path, const QString& text) {
    // Through OutputFile: a temporary file renamed into place, and a failed write (a full disk)
    // reported with its reason rather than as an unknown error.
    OutputFile out(path);
    if (Status opened = out.open(); !opened.isOk()) return opened;
    const QByteArray bytes = encodeTextFile(text);
    out.append(std::string_view(bytes.constData(), size_t(bytes.size())));
    return out.commit();
}

} // namespace quellar
