#include "workbook/xmlss/XMLTools.h"

#include "workbook/xmlss/SpreadsheetML.h"

#include "base/CellOps.h"
#include "base/TextIO.h"
#include "workbook/Workbook.h"

#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QTime>

#include <fast_float/fast_float.h>
#include <pugixml.hpp>

#include <cmath>
#include <cstring>
#include <string>
#include <string_view>
#include <system_error>

namespace quellar {

namespace {

pugi::xml_node wrap(pugi::xml_node_struct* n) {
    return pugi::xml_node(n);
}

QString qstr(const char* s) {
    return QString::fromUtf8(s);
}

// The part of a qualified name after its prefix: "ss:Index" gives "Index".
const char* localName(const char* name) {
    const char* colon = std::strrchr(name, ':');
    return colon ? colon + 1 : name;
}

bool hasLocalName(const pugi::xml_node& n, const char* local) {
    return n.type() == pugi::node_element && std::strcmp(localName(n.name()), local) == 0;
}

// The attribute whose local name is `local` ("ss:Index", "Index" or "x:Index"); xmlns
// declarations never count.
pugi::xml_attribute attributeByLocalName(const pugi::xml_node& element, const char* local) {
    for (pugi::xml_attribute a : element.attributes()) {
        const char* name = a.name();
        if (std::strncmp(name, "xmlns", 5) == 0 && (name[5] == 0 || name[5] == ':')) continue;
        if (std::strcmp(localName(name), local) == 0) return a;
    }
    return {};
}

pugi::xml_node firstChildByLocalName(const pugi::xml_node& parent, const char* local) {
    for (pugi::xml_node c = parent.first_child(); c; c = c.next_sibling())
        if (hasLocalName(c, local)) return c;
    return {};
}

// The prefix of a qualified name with its colon ("ss:"), or the empty text.
std::string prefixOf(const char* name) {
    const char* colon = std::strrchr(name, ':');
    return colon ? std::string(name, size_t(colon - name + 1)) : std::string();
}

// Element and attribute names that we create: XML name characters only, so a name can
// never break the markup it is written into.
bool isXmlName(const QByteArray& name) {
    if (name.isEmpty()) return false;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const unsigned char c = uchar(name[i]);
        const bool letter =
            (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || c >= 0x80;
        const bool other = (c >= '0' && c <= '9') || c == '-' || c == '.';
        if (!letter && !(other && i > 0)) return false;
    }
    return true;
}

// Calls visit(node) for `start` and each of its descendants, depth-first with children in
// document order, until visit returns true; returns that node or the null node. Walks
// without recursion, so a deeply nested document cannot exhaust the stack.
template <typename Visit> pugi::xml_node walk(pugi::xml_node start, Visit visit) {
    if (!start) return {};
    if (visit(start)) return start;
    pugi::xml_node cur = start.first_child();
    while (cur) {
        if (visit(cur)) return cur;
        if (cur.first_child()) {
            cur = cur.first_child();
            continue;
        }
        while (cur != start && !cur.next_sibling())
            cur = cur.parent();
        if (cur == start) break;
        cur = cur.next_sibling();
    }
    return {};
}

// An integer attribute value: digits with optional blanks around and a leading sign.
bool parseInteger(const char* text, long long& value) {
    const QByteArray t = QByteArray(text).trimmed();
    bool ok = false;
    value = t.toLongLong(&ok);
    return ok;
}

QString parseErrorText(pugi::xml_parse_status status) {
    switch (status) {
    case pugi::status_out_of_memory:
        return QStringLiteral("内存不足");
    case pugi::status_unrecognized_tag:
        return QStringLiteral("无法识别的标记");
    case pugi::status_bad_pi:
        return QStringLiteral("处理指令或 XML 声明格式错误");
    case pugi::status_bad_comment:
        return QStringLiteral("注释格式错误");
    case pugi::status_bad_cdata:
        return QStringLiteral("CDATA 段格式错误");
    case pugi::status_bad_doctype:
        return QStringLiteral("文档类型声明格式错误");
    case pugi::status_bad_pcdata:
        return QStringLiteral("文本内容格式错误");
    case pugi::status_bad_start_element:
        return QStringLiteral("开始标记格式错误");
    case pugi::status_bad_attribute:
        return QStringLiteral("属性格式错误");
    case pugi::status_bad_end_element:
        return QStringLiteral("结束标记格式错误");
    case pugi::status_end_element_mismatch:
        return QStringLiteral("开始标记与结束标记不匹配");
    case pugi::status_append_invalid_root:
        return QStringLiteral("根节点无效");
    case pugi::status_no_document_element:
        return QStringLiteral("没有根元素");
    default:
        return QStringLiteral("无法解析");
    }
}

// Line and column (1-based) of a byte offset in UTF-8 text.
void lineAndColumn(const QByteArray& text, qsizetype offset, qsizetype& line, qsizetype& column) {
    offset = std::min(offset, text.size());
    line = 1;
    qsizetype lineStart = 0;
    for (qsizetype i = 0; i < offset; ++i)
        if (text[i] == '\n') {
            ++line;
            lineStart = i + 1;
        }
    column = QString::fromUtf8(text.constData() + lineStart, offset - lineStart).size() + 1;
}

class StringWriter final : public pugi::xml_writer {
public:
    void write(const void* data, size_t size) override { out.append(static_cast<const char*>(data), size); }
    std::string out;
};

} // namespace

// ---- XmlNode ----

XmlNode::Type XmlNode::type() const {
    switch (wrap(node_).type()) {
    case pugi::node_document:
        return Type::Document;
    case pugi::node_element:
        return Type::Element;
    case pugi::node_pcdata:
        return Type::Text;
    case pugi::node_cdata:
        return Type::CData;
    case pugi::node_comment:
        return Type::Comment;
    case pugi::node_pi:
        return Type::ProcessingInstruction;
    case pugi::node_declaration:
        return Type::Declaration;
    case pugi::node_doctype:
        return Type::Doctype;
    default:
        return Type::Null;
    }
}

QString XmlNode::name() const {
    return qstr(wrap(node_).name());
}
XmlNode XmlNode::parent() const {
    return XmlNode(wrap(node_).parent().internal_object());
}
XmlNode XmlNode::firstChild() const {
    return XmlNode(wrap(node_).first_child().internal_object());
}
XmlNode XmlNode::lastChild() const {
    return XmlNode(wrap(node_).last_child().internal_object());
}
XmlNode XmlNode::nextSibling() const {
    return XmlNode(wrap(node_).next_sibling().internal_object());
}
XmlNode XmlNode::previousSibling() const {
    return XmlNode(wrap(node_).previous_sibling().internal_object());
}

std::vector<XmlNode> XmlNode::children() const {
    std::vector<XmlNode> list;
    for (pugi::xml_node c = wrap(node_).first_child(); c; c = c.next_sibling())
        list.push_back(XmlNode(c.internal_object()));
    return list;
}

XmlNode XmlNode::child(const QString& name) const {
    const QByteArray n = name.toUtf8();
    for (pugi::xml_node c = wrap(node_).first_child(); c; c = c.next_sibling())
        if (c.type() == pugi::node_element && n == c.name()) return XmlNode(c.internal_object());
    return {};
}

// ---- XMLTools ----

XMLTools::XMLTools()
    : doc_(std::make_unique<pugi::xml_document>()) {}
XMLTools::~XMLTools() = default;

Status XMLTools::load(const QString& path) {
    doc_->reset();
    buffer_.clear();
    const QFileInfo info(path);
    const QString shown = info.absoluteFilePath();
    if (!info.exists() || !info.isFile()) return Status::notFound(QStringLiteral("找不到文件 %1").arg(shown));
    if (info.size() > kMaxDocumentBytes)
        return Status::invalidInput(QStringLiteral("文件 %1 太大（%2 字节），超过可读取的上限 %3 字节")
                                        .arg(shown)
                                        .arg(info.size())
                                        .arg(kMaxDocumentBytes));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Status::ioError(QStringLiteral("无法打开文件 %1：%2").arg(shown, file.errorString()));
    buffer_ = file.readAll();
    if (file.error() != QFileDevice::NoError || buffer_.size() != info.size()) {
        buffer_.clear();
        return Status::ioError(QStringLiteral("读取文件 %1 失败：%2").arg(shown, file.errorString()));
    }
    // The parser works in place, so a position is looked up in the file as it is on disk.
    return parse(shown, [&file](qsizetype n) {
        file.seek(0);
        return file.read(n);
    });
}

Status XMLTools::loadFromBytes(const QByteArray& bytes, const QString& name) {
    doc_->reset();
    buffer_.clear();
    const QString shown = name.isEmpty() ? QStringLiteral("XML 文档") : name;
    if (bytes.size() > kMaxDocumentBytes)
        return Status::invalidInput(QStringLiteral("%1 太大（%2 字节），超过可读取的上限 %3 字节")
                                        .arg(shown)
                                        .arg(bytes.size())
                                        .arg(kMaxDocumentBytes));
    buffer_ = bytes;
    return parse(shown, [&bytes](qsizetype n) { return bytes.left(n); });
}

Status XMLTools::parse(const QString& name, const std::function<QByteArray(qsizetype)>& original) {
    const unsigned options = pugi::parse_default | pugi::parse_declaration | pugi::parse_pi |
                             pugi::parse_comments | pugi::parse_doctype | pugi::parse_ws_pcdata_single;
    const pugi::xml_parse_result result =
        doc_->load_buffer_inplace(buffer_.data(), size_t(buffer_.size()), options, pugi::encoding_auto);
    if (!result) {
        QString where;
        if (result.encoding == pugi::encoding_utf8) {
            qsizetype line, column;
            lineAndColumn(original(qsizetype(result.offset)), qsizetype(result.offset), line, column);
            where = QStringLiteral("第 %1 行第 %2 列").arg(line).arg(column);
        } else {
            where = QStringLiteral("第 %1 个字符处").arg(result.offset + 1);
        }
        doc_->reset();
        buffer_.clear();
        return Status::invalidInput(QStringLiteral("%1 不是有效的 XML 文档：%2（%3）")
                                        .arg(name, parseErrorText(result.status), where));
    }
    // A document type declaration could define entities; such files are not workbooks we
    // write or read, so they are refused rather than half-understood.
    for (pugi::xml_node c = doc_->first_child(); c; c = c.next_sibling()) {
        if (c.type() == pugi::node_doctype) {
            doc_->reset();
            buffer_.clear();
            return Status::invalidInput(
                QStringLiteral("%1 含有文档类型声明（DOCTYPE），出于安全考虑不予读取").arg(name));
        }
    }
    if (!doc_->document_element()) {
        doc_->reset();
        buffer_.clear();
        return Status::invalidInput(QStringLiteral("%1 不是有效的 XML 文档：没有根元素").arg(name));
    }
    return Status::ok();
}

XmlNode XMLTools::document() const {
    return XmlNode(doc_->internal_object());
}
XmlNode XMLTools::documentElement() const {
    return XmlNode(doc_->document_element().internal_object());
}

XmlNode XMLTools::findElement(XmlNode start, const QString& name) const {
    const QByteArray n = name.toUtf8();
    return XmlNode(walk(wrap(start.node_), [&](const pugi::xml_node& e) {
                       return e.type() == pugi::node_element && n == e.name();
                   }).internal_object());
}

XmlNode XMLTools::findElement(XmlNode start, const QString& name, const QString& attributeName,
                              const QString& value) const {
    const QByteArray n = name.toUtf8(), a = attributeName.toUtf8(), v = value.toUtf8();
    return XmlNode(walk(wrap(start.node_), [&](const pugi::xml_node& e) {
                       if (e.type() != pugi::node_element || n != e.name()) return false;
                       const pugi::xml_attribute attr = e.attribute(a.constData());
                       return attr && v == attr.value();
                   }).internal_object());
}

int XMLTools::countChildElements(XmlNode node, const QString& name) const {
    const QByteArray n = name.toUtf8();
    int count = 0;
    for (pugi::xml_node c = wrap(node.node_).first_child(); c; c = c.next_sibling())
        if (c.type() == pugi::node_element && n == c.name()) ++count;
    return count;
}

QString XMLTools::attribute(XmlNode element, const QString& name) const {
    return qstr(wrap(element.node_).attribute(name.toUtf8().constData()).value());
}

Status XMLTools::setAttribute(XmlNode element, const QString& name, const QString& value) {
    pugi::xml_node e = wrap(element.node_);
    const QByteArray n = name.toUtf8();
    if (e.type() != pugi::node_element)
        return Status::invalidInput(QStringLiteral("设置属性 %1 失败：节点不是元素").arg(name));
    if (!isXmlName(n))
        return Status::invalidInput(QStringLiteral("设置属性失败：%1 不是有效的属性名").arg(name));
    pugi::xml_attribute a = e.attribute(n.constData());
    if (!a) a = e.append_attribute(n.constData());
    if (!a || !a.set_value(value.toUtf8().constData()))
        return Status::invalidInput(QStringLiteral("设置属性 %1 失败：内存不足").arg(name));
    return Status::ok();
}

bool XMLTools::removeAttribute(XmlNode element, const QString& name) {
    return wrap(element.node_).remove_attribute(name.toUtf8().constData());
}

QString XMLTools::nodeText(XmlNode node) const {
    pugi::xml_node n = wrap(node.node_);
    if (n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata) return qstr(n.value());
    std::string text;
    walk(n, [&](const pugi::xml_node& d) {
        if (d.type() == pugi::node_pcdata || d.type() == pugi::node_cdata) text += d.value();
        return false;
    });
    return QString::fromStdString(text);
}

Status XMLTools::setNodeText(XmlNode element, const QString& text) {
    pugi::xml_node e = wrap(element.node_);
    if (e.type() != pugi::node_element)
        return Status::invalidInput(QStringLiteral("设置文本失败：节点不是元素"));
    e.remove_children();
    if (!text.isEmpty()) {
        pugi::xml_node t = e.append_child(pugi::node_pcdata);
        if (!t || !t.set_value(text.toUtf8().constData()))
            return Status::invalidInput(QStringLiteral("设置文本失败：内存不足"));
    }
    return Status::ok();
}

QString XMLTools::cellText(XmlNode cell) const {
    // The Data element's value as the document states it, stripped of blanks: a Number
    // written as 5 reads as 5, whatever its type says. Rich text runs are gathered.
    const pugi::xml_node data = firstChildByLocalName(wrap(cell.node_), "Data");
    if (!data) return QString();
    const pugi::xml_node text = data.first_child();
    if (!text) return QString();
    if (!text.next_sibling() && (text.type() == pugi::node_pcdata || text.type() == pugi::node_cdata))
        return QString::fromUtf8(text.value()).trimmed();
    return nodeText(XmlNode(data.internal_object())).trimmed();
}

namespace {

// The column a Cell starts at and the columns it covers, walking a Row's cells in order.
struct CellPlace {
    long long column = 0; // 1-based
    long long across = 0;
};

// Where `cell` sits among the cells placed so far; an error text when its attributes put it
// somewhere it cannot be.
QString placeCell(const pugi::xml_node& cell, int position, const CellPlacement& placement,
                  CellPlace& place) {
    std::optional<int64_t> index;
    place.across = 0;
    if (const pugi::xml_attribute attribute = attributeByLocalName(cell, "Index")) {
        long long value = 0;
        if (!parseInteger(attribute.value(), value))
            return QStringLiteral("行的第 %1 个单元格的 ss:Index“%2”不是整数")
                .arg(position)
                .arg(qstr(attribute.value()));
        if (!placement.inOrder(value))
            return QStringLiteral(
                       "行的第 %1 个单元格的 ss:Index %2 小于它可在的第 %3 列（列号倒退或落在合并区域内）")
                .arg(position)
                .arg(value)
                .arg(placement.next());
        index = value;
    }
    place.column = placement.columnOf(index);
    if (const pugi::xml_attribute across = attributeByLocalName(cell, "MergeAcross")) {
        if (!parseInteger(across.value(), place.across) || place.across < 0)
            return QStringLiteral("行的第 %1 个单元格的 ss:MergeAcross“%2”不是非负整数")
                .arg(position)
                .arg(qstr(across.value()));
    }
    if (!CellPlacement::fits(place.column, place.across))
        return QStringLiteral("行的第 %1 个单元格超出最后一列 XFD").arg(position);
    return QString();
}

} // namespace

Result<QStringList> XMLTools::rowTexts(XmlNode row) const {
    QStringList texts;
    CellPlacement placement;
    int position = 0;
    for (pugi::xml_node c = wrap(row.node_).first_child(); c; c = c.next_sibling()) {
        if (!hasLocalName(c, "Cell")) continue;
        CellPlace place;
        const QString error = placeCell(c, ++position, placement, place);
        if (!error.isEmpty()) return Status::invalidInput(error);
        while (texts.size() < place.column - 1)
            texts.append(QString());
        texts.append(cellText(XmlNode(c.internal_object())));
        for (long long i = 0; i < place.across; ++i)
            texts.append(QString());
        placement.take(place.column, place.across);
    }
    return texts;
}

Status XMLTools::setCellValue(XmlNode row, int column, const QString& text, const QString& type) {
    pugi::xml_node r = wrap(row.node_);
    if (r.type() != pugi::node_element)
        return Status::invalidInput(QStringLiteral("写入单元格失败：行节点无效"));
    if (column < 1 || column > kMaxColumns)
        return Status::invalidInput(
            QStringLiteral("写入单元格失败：列号 %1 超出 1 到 %2").arg(column).arg(kMaxColumns));

    pugi::xml_node target, following, sample;
    CellPlacement placement;
    int position = 0;
    for (pugi::xml_node c = r.first_child(); c; c = c.next_sibling()) {
        if (!hasLocalName(c, "Cell")) continue;
        sample = c;
        CellPlace place;
        const QString error = placeCell(c, ++position, placement, place);
        if (!error.isEmpty()) return Status::invalidInput(QStringLiteral("写入单元格失败：") + error);
        if (place.column == column) {
            target = c;
            break;
        }
        if (place.column > column) {
            following = c;
            break;
        }
        if (column <= place.column + place.across)
            return Status::invalidInput(
                QStringLiteral("写入单元格失败：第 %1 列在第 %2 列开始的合并单元格之内")
                    .arg(column)
                    .arg(place.column));
        placement.take(place.column, place.across);
    }

    if (!target) {
        // Name the new cell as the row's cells are named, or after the row's own prefix.
        const std::string name = sample ? std::string(sample.name()) : prefixOf(r.name()) + "Cell";
        target = following ? r.insert_child_before(name.c_str(), following) : r.append_child(name.c_str());
        if (!target) return Status::invalidInput(QStringLiteral("写入单元格失败：内存不足"));
        // A cell placed right after its predecessor needs no index; any later cell either
        // carries its own ss:Index already (it stood after a gap) or there is none.
        if (placement.needsIndex(column)) target.append_attribute("ss:Index").set_value(column);
    }

    if (pugi::xml_attribute formula = attributeByLocalName(target, "Formula"))
        target.remove_attribute(formula);
    pugi::xml_node data = firstChildByLocalName(target, "Data");
    if (!data) {
        data = target.prepend_child((prefixOf(target.name()) + "Data").c_str());
        if (!data) return Status::invalidInput(QStringLiteral("写入单元格失败：内存不足"));
    }
    pugi::xml_attribute typeAttribute = attributeByLocalName(data, "Type");
    if (!typeAttribute) typeAttribute = data.append_attribute("ss:Type");
    typeAttribute.set_value(type.toUtf8().constData());
    return setNodeText(XmlNode(data.internal_object()), text);
}

void XMLTools::clearRowValues(XmlNode row) {
    for (pugi::xml_node c = wrap(row.node_).first_child(); c; c = c.next_sibling()) {
        if (!hasLocalName(c, "Cell")) continue;
        for (const char* gone : {"Formula", "HRef", "MergeDown"})
            while (pugi::xml_attribute a = attributeByLocalName(c, gone))
                c.remove_attribute(a);
        pugi::xml_node data;
        for (pugi::xml_node d = c.first_child(); d;) {
            const pugi::xml_node next = d.next_sibling();
            if (!data && hasLocalName(d, "Data"))
                data = d;
            else
                c.remove_child(d); // comments, named-range marks, a second Data
            d = next;
        }
        if (!data) data = c.prepend_child((prefixOf(c.name()) + "Data").c_str());
        if (!data) continue;
        data.remove_children();
        while (pugi::xml_attribute a = data.first_attribute())
            data.remove_attribute(a);
        data.append_attribute("ss:Type").set_value("String");
    }
}

XmlNode XMLTools::appendElement(XmlNode parent, const QString& name) {
    const QByteArray n = name.toUtf8();
    if (!isXmlName(n)) return {};
    return XmlNode(wrap(parent.node_).append_child(n.constData()).internal_object());
}

XmlNode XMLTools::insertElementBefore(XmlNode parent, const QString& name, XmlNode reference) {
    const QByteArray n = name.toUtf8();
    if (!isXmlName(n)) return {};
    return XmlNode(
        wrap(parent.node_).insert_child_before(n.constData(), wrap(reference.node_)).internal_object());
}

XmlNode XMLTools::appendCopy(XmlNode parent, XmlNode node) {
    return XmlNode(wrap(parent.node_).append_copy(wrap(node.node_)).internal_object());
}

XmlNode XMLTools::insertCopyBefore(XmlNode node, XmlNode reference) {
    pugi::xml_node ref = wrap(reference.node_);
    return XmlNode(ref.parent().insert_copy_before(wrap(node.node_), ref).internal_object());
}

XmlNode XMLTools::insertCopyAfter(XmlNode node, XmlNode reference) {
    pugi::xml_node ref = wrap(reference.node_);
    return XmlNode(ref.parent().insert_copy_after(wrap(node.node_), ref).internal_object());
}

bool XMLTools::remove(XmlNode node) {
    pugi::xml_node n = wrap(node.node_);
    if (!n || n.type() == pugi::node_document) return false;
    return n.parent().remove_child(n);
}

QString XMLTools::xmlText() {
    // Drop empty default-namespace declarations: an element without one belongs to its
    // parent's namespace, which is what an element added to a SpreadsheetML row must do.
    walk(*doc_, [](const pugi::xml_node& n) {
        if (n.type() == pugi::node_element) {
            pugi::xml_attribute a = n.attribute("xmlns");
            if (a && *a.value() == 0) pugi::xml_node(n).remove_attribute(a);
        }
        return false;
    });
    // The text is written as UTF-16, so the declaration must not claim another encoding.
    for (pugi::xml_node c = doc_->first_child(); c; c = c.next_sibling())
        if (c.type() == pugi::node_declaration) c.remove_attribute("encoding");
    StringWriter writer;
    doc_->save(writer, "", pugi::format_raw, pugi::encoding_utf8);
    return QString::fromStdString(writer.out);
}

Status XMLTools::save(const QString& path) {
    return writeUtf16TextFile(path, xmlText());
}

} // namespace quellar
