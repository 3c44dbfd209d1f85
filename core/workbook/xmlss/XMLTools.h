#pragma once
// XMLTools: an XML document held as a tree, with the few element and attribute operations
// that rewriting an XML Spreadsheet 2003 working file needs (find an element, find one by
// attribute, count children, read and write attributes and texts, copy and insert rows),
// the reading of a Row as cell texts and the writing of a value into a column of a Row,
// and the writing of the document as a UTF-16 text file.
//
// The document is parsed with pugixml. An XMLTools owns its document; XmlNode is a light
// handle (one pointer) into it, valid until the next load or the XMLTools' destruction.
// Element and attribute names are compared as written, prefix included ("ss:Name"); there
// is no namespace-aware lookup. Reading and writing the cells of a Row go by local names
// (Cell, Data, Index, MergeAcross, Type), so a file that spells them with another prefix
// still reads correctly.
//
// Loading is safe for hostile files: a document type declaration is refused (no entity is
// ever expanded, nothing outside the file is read), files above kMaxDocumentBytes are
// refused before they are read, and no operation recurses on the depth of the tree. Every
// failure is returned as a Status whose message names the file and what is wrong; a failed
// load leaves the tools with an empty document. Nothing here throws.

#include "base/Status.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace pugi {
struct xml_node_struct;
class xml_document;
} // namespace pugi

namespace quellar {

// A node of an XMLTools document, or the null node. Copying it copies the handle only.
class XmlNode {
public:
    enum class Type {
        Null,
        Document,
        Element,
        Text,
        CData,
        Comment,
        ProcessingInstruction,
        Declaration,
        Doctype
    };

    XmlNode() = default;

    bool isNull() const { return node_ == nullptr; }
    explicit operator bool() const { return node_ != nullptr; }
    Type type() const;
    bool isElement() const { return type() == Type::Element; }
    // The qualified name as written ("ss:Data", "Row"); empty for text and the null node.
    QString name() const;

    XmlNode parent() const;
    XmlNode firstChild() const;
    XmlNode lastChild() const;
    XmlNode nextSibling() const;
    XmlNode previousSibling() const;
    // Every child node in document order (elements, texts, comments ...).
    std::vector<XmlNode> children() const;
    // The first child element whose name is `name`, or the null node.
    XmlNode child(const QString& name) const;

    friend bool operator==(const XmlNode& a, const XmlNode& b) { return a.node_ == b.node_; }

private:
    friend class XMLTools;
    explicit XmlNode(pugi::xml_node_struct* node)
        : node_(node) {}
    pugi::xml_node_struct* node_ = nullptr;
};

class XMLTools {
public:
    // Larger files are refused before they are read.
    static constexpr int64_t kMaxDocumentBytes = int64_t(2) * 1024 * 1024 * 1024 - 1;

    XMLTools();
    ~XMLTools();
    XMLTools(const XMLTools&) = delete;
    XMLTools& operator=(const XMLTools&) = delete;

    // Loads the file at `path` (UTF-8 or UTF-16, with or without a byte-order mark).
    Status load(const QString& path);
    // Loads a document from bytes; `name` stands for the file in messages.
    Status loadFromBytes(const QByteArray& bytes, const QString& name = QString());

    // The document node (parent of the document element), and the document element.
    XmlNode document() const;
    XmlNode documentElement() const;

    // The first element named `name` in a depth-first walk of `start` and its descendants
    // (children in document order), or the null node.
    XmlNode findElement(XmlNode start, const QString& name) const;
    // Like findElement, and the element's attribute `attributeName` must equal `value` exactly.
    XmlNode findElement(XmlNode start, const QString& name, const QString& attributeName,
                        const QString& value) const;
    // How many direct children of `node` are elements named `name`.
    int countChildElements(XmlNode node, const QString& name) const;

    // The value of the attribute (empty when the element has none).
    QString attribute(XmlNode element, const QString& name) const;
    // Replaces the attribute's value, or adds the attribute when the element has none.
    Status setAttribute(XmlNode element, const QString& name, const QString& value);
    // Removes the attribute; false when the element had none.
    bool removeAttribute(XmlNode element, const QString& name);

    // The text of a node: for an element, the texts of all its descendants in order.
    QString nodeText(XmlNode node) const;
    // Replaces every child of an element with one text node (nothing for the empty text).
    Status setNodeText(XmlNode element, const QString& text);

    // The value of a Cell as text: its Data child's text converted the way a cell value is
    // turned into text everywhere else (variantToText): a Number gives "%f"-style text
    // (5 gives 5.000000), a Boolean -1 or 0, a DateTime 2026/12/7, a String its text
    // stripped of blanks at both ends. A Cell without Data gives the empty text.
    QString cellText(XmlNode cell) const;

    // The texts of a Row, one per sheet column starting at column A: a Cell's ss:Index puts
    // it into that (1-based) column, the columns it skips read as empty texts, and
    // ss:MergeAcross makes the columns the Cell covers read as empty texts. An index that
    // goes backwards, lands inside a merged area or passes column XFD is an error.
    Result<QStringList> rowTexts(XmlNode row) const;

    // Writes `text` as the value of the cell in 1-based column `column` of `row`, with
    // ss:Type `type` ("Number" or "String"). A Cell that starts at that column gets a Data
    // child (created when missing) holding the text, and loses any formula, so the value
    // stays what was written. Where the row has no Cell for the column, one is created in
    // its place among the row's cells, with an ss:Index when it does not directly follow
    // the cell before it, so every later cell keeps its column. A column covered (not
    // started) by a merged cell is an error.
    Status setCellValue(XmlNode row, int column, const QString& text, const QString& type);
    // Empties every Cell of a Row, so a copy of the row can serve as a new row of the same
    // look: each Cell keeps its attributes (style, column index, merge across) and gets an
    // empty Data of ss:Type String; its formula, link, comment and downward merge go.
    void clearRowValues(XmlNode row);

    // Plain tree editing. Each returns the new node, or the null node when the arguments
    // do not allow it (a null parent, a reference node that is not a child of the parent).
    XmlNode appendElement(XmlNode parent, const QString& name);
    XmlNode insertElementBefore(XmlNode parent, const QString& name, XmlNode reference);
    // A deep copy of `node` (attributes and descendants), appended to `parent` or placed
    // directly before or after `reference` under reference's parent.
    XmlNode appendCopy(XmlNode parent, XmlNode node);
    XmlNode insertCopyBefore(XmlNode node, XmlNode reference);
    XmlNode insertCopyAfter(XmlNode node, XmlNode reference);
    // Removes a node and its subtree; false for the null node or the document itself.
    bool remove(XmlNode node);

    // The document as XML text: the declaration without an encoding (the text is UTF-16
    // once written), then the content without any added indentation. Empty default-
    // namespace declarations (xmlns="") are dropped, so elements created here belong to
    // the namespace of their parents, as SpreadsheetML requires.
    QString xmlText();
    // Writes xmlText() to `path` as UTF-16LE with a byte-order mark and a final CR LF,
    // through a temporary file renamed into place. A failure names the path.
    Status save(const QString& path);

private:
    // Parses buffer_ in place; `original(n)` gives the first n bytes as they were before
    // parsing, for the position in a message.
    Status parse(const QString& name, const std::function<QByteArray(qsizetype)>& original);

    QByteArray buffer_; // the loaded bytes; the parsed tree may point into them, so it goes first
    std::unique_ptr<pugi::xml_document> doc_;
};

} // namespace quellar
