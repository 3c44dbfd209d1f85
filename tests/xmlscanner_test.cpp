#include "workbook/containers/XmlScanner.h"

#include <QStringEncoder>

#include <gtest/gtest.h>

#include <string>

using namespace quellar;

namespace {

// Hands out the bytes a few at a time, as an inflating stream may.
class TrickleSource final : public ByteSource {
public:
    TrickleSource(std::string data, size_t chunk)
        : data_(std::move(data))
        , chunk_(chunk) {}
    qint64 read(char* buffer, qint64 max) override {
        const size_t n = std::min({size_t(max), chunk_, data_.size() - position_});
        std::memcpy(buffer, data_.data() + position_, n);
        position_ += n;
        return qint64(n);
    }

private:
    std::string data_;
    size_t chunk_;
    size_t position_ = 0;
};

// The token stream as one line: "<a x=1>", "'text'", "</a>", or "ERROR: message".
std::string events(ByteSource& source, XmlLimits limits = {}) {
    XmlScanner scanner(source, limits);
    std::string out;
    for (;;) {
        switch (scanner.next()) {
        case XmlScanner::Token::StartElement:
            out += "<" + std::string(scanner.qualifiedName());
            if (scanner.localName() != scanner.qualifiedName()) out += "|" + std::string(scanner.localName());
            for (const XmlAttribute& a : scanner.attributes())
                out += " " + std::string(a.qualifiedName) + "=" + std::string(a.value);
            out += scanner.isEmptyElement() ? "/>" : ">";
            break;
        case XmlScanner::Token::EndElement:
            out += "</" + std::string(scanner.qualifiedName()) + ">";
            break;
        case XmlScanner::Token::Text:
            out += "'" + std::string(scanner.text()) + "'";
            break;
        case XmlScanner::Token::EndDocument:
            return out;
        case XmlScanner::Token::Error:
            return out + " ERROR: " + scanner.status().message().toStdString();
        case XmlScanner::Token::None:
            return out + " NONE";
        }
    }
}

std::string events(const std::string& xml, XmlLimits limits = {}) {
    MemoryByteSource source{std::string_view(xml)};
    return events(source, limits);
}

} // namespace

TEST(XmlScanner, TokensOfWellFormedDocuments) {
    struct Case {
        const char* xml;
        const char* expected;
    } cases[] = {
        {"<a/>", "<a/></a>"},
        {"<?xml version=\"1.0\"?>\n<a>x</a>\n", "<a>'x'</a>"},
        {"<ss:Cell ss:Index='3' x=\"a'b\">t</ss:Cell>", "<ss:Cell|Cell ss:Index=3 x=a'b>'t'</ss:Cell>"},
        {"<a>&lt;&gt;&amp;&quot;&apos;</a>", "<a>'<>&\"''</a>"},
        {"<a>&#65;&#x4E2D;&#x1F600;</a>", "<a>'A中😀'</a>"},
        {"<a>1\r\n2\r3</a>", "<a>'1\n2\n3'</a>"},
        {"<a v=\"x&#10;y\tz\r\nw\"/>", "<a v=x\ny z w/></a>"},
        {"<a><![CDATA[<b>&amp;]]></a>", "<a>'<b>&amp;'</a>"},
        {"<!-- c --><a><!-- <b> --><?pi x?>t</a><!-- end -->", "<a>'t'</a>"},
        {"\xEF\xBB\xBF<a>中文</a>", "<a>'中文'</a>"},
        {"<a  x = '1'\n y='2' ></a >", "<a x=1 y=2></a>"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(events(c.xml), c.expected) << c.xml;
}

TEST(XmlScanner, RefusesBrokenAndHostileInput) {
    struct Case {
        std::string xml;
        const char* message; // part of the error message
    } cases[] = {
        {"<!DOCTYPE a [<!ENTITY e \"x\">]><a>&e;</a>", "DOCTYPE"},
        {"<a>&nbsp;</a>", "&nbsp;"},
        {"<a>AT&T</a>", "&amp;"},
        {"<a>&#0;</a>", "&#0;"},
        {"<a>&#xD800;</a>", "&#xD800;"},
        {"<a>&#x110000;</a>", "&#x110000;"},
        {"<a><b></a>", "</a>"},
        {"<a></a><b/>", "<b>"},
        {"text<a/>", "之外"},
        {"<a x='1' x='2'/>", "重复"},
        {"<a x=1/>", "引号"},
        {"<a x='<'/>", "<"},
        {"<a><b>unfinished", "截断"},
        {"<a><b", "截断"},
        {"", "没有任何 XML 元素"},
        {"<a>\n\n<!-- open", "截断"},
        {"<?xml version=\"1.0\" encoding=\"NO-SUCH-CHARSET\"?><a/>", "NO-SUCH-CHARSET"},
        {"<a/><?xml version=\"1.0\"?>", "XML 声明"},
    };
    for (const Case& c : cases) {
        const std::string result = events(c.xml);
        EXPECT_NE(result.find("ERROR"), std::string::npos) << c.xml << " -> " << result;
        EXPECT_NE(result.find(c.message), std::string::npos) << c.xml << " -> " << result;
    }
}

TEST(XmlScanner, ErrorsNameLineAndOffset) {
    const std::string result = events("<a>\n<b>\n&bad;</b></a>");
    EXPECT_NE(result.find("第 3 行"), std::string::npos) << result;
    EXPECT_NE(result.find("字节偏移 8"), std::string::npos) << result;
}

TEST(XmlScanner, LimitsDepthAttributesNamesAndTokenLength) {
    XmlLimits limits;
    limits.maxDepth = 5;
    EXPECT_EQ(events("<a><a><a><a><a/></a></a></a></a>", limits).find("ERROR"), std::string::npos);
    EXPECT_NE(events("<a><a><a><a><a><a/></a></a></a></a></a>", limits).find("嵌套"), std::string::npos);

    limits = {};
    limits.maxAttributes = 3;
    EXPECT_NE(events("<a b='1' c='2' d='3' e='4'/>", limits).find("属性超过"), std::string::npos);
    limits = {};
    limits.maxNameLength = 8;
    EXPECT_NE(events("<abcdefghijk/>", limits).find("元素名超过"), std::string::npos);

    limits = {};
    limits.maxTokenLength = 1 << 20; // the buffer may hold this much plus a little
    const std::string longText = "<a>" + std::string(3 << 20, 'x') + "</a>";
    EXPECT_NE(events(longText, limits).find("上限"), std::string::npos);
}

TEST(XmlScanner, ChunkBoundariesDoNotChangeTheTokens) {
    // Long texts and attributes span several buffer refills; tiny chunks split every token.
    std::string xml = "<?xml version=\"1.0\"?><root a=\"" + std::string(3000, 'v') + "\">";
    for (int i = 0; i < 200; ++i)
        xml += "<c i='" + std::to_string(i) + "'>t&amp;" + std::to_string(i) + "</c><!--x-->";
    xml += "<big>" + std::string(3 << 20, 'y') + "</big></root>";
    const std::string expected = events(xml);
    ASSERT_EQ(expected.find("ERROR"), std::string::npos);
    for (size_t chunk : {size_t(1), size_t(7), size_t(4096), size_t(1) << 20}) {
        TrickleSource source(xml, chunk);
        EXPECT_EQ(events(source), expected) << "chunk " << chunk;
    }
}

TEST(XmlScanner, TranscodesUtf16AndDeclaredEncodings) {
    const QString text = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-16\"?><a x=\"甲\">乙&amp;</a>");
    for (auto encoding : {QStringConverter::Utf16LE, QStringConverter::Utf16BE}) {
        QStringEncoder encoder(encoding, QStringConverter::Flag::WriteBom);
        const QByteArray bytes = encoder(text);
        MemoryByteSource source(bytes);
        EXPECT_EQ(events(source), "<a x=甲>'乙&'</a>");
    }
    QStringEncoder gb("GB18030");
    if (gb.isValid()) {
        const QByteArray bytes =
            gb(QStringLiteral("<?xml version=\"1.0\" encoding=\"GB18030\"?><a>中文</a>"));
        MemoryByteSource source(bytes);
        EXPECT_EQ(events(source), "<a>'中文'</a>");
    }
}

TEST(XmlScanner, ReadsElementTextAndSkipsElements) {
    const std::string xml = "<r><d>a<b>b</b><i>c<u>d</u></i>e</d><skip><x/><y>z</y></skip><after/></r>";
    MemoryByteSource source{std::string_view(xml)};
    XmlScanner scanner(source);
    ASSERT_EQ(scanner.next(), XmlScanner::Token::StartElement); // r
    ASSERT_EQ(scanner.next(), XmlScanner::Token::StartElement); // d
    std::string text;
    ASSERT_TRUE(scanner.readElementText(text));
    EXPECT_EQ(text, "abcde");
    EXPECT_EQ(scanner.depth(), 1);
    ASSERT_EQ(scanner.next(), XmlScanner::Token::StartElement); // skip
    ASSERT_TRUE(scanner.skipElement());
    ASSERT_EQ(scanner.next(), XmlScanner::Token::StartElement);
    EXPECT_EQ(scanner.localName(), "after");
    EXPECT_EQ(scanner.attributeValue("none", "fallback"), "fallback");
}
