#include "forms/FormPages.h"

#include "base/CellOps.h"
#include "base/MessageTable.h"
#include "base/Progress.h"
#include "base/TextIO.h"
#include "table/ExchangeSort.h"
#include "table/GroupSum.h"
#include "table/OperationCells.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

namespace quellar {

namespace {

// The mixed order is followed swap by swap up to this budget (about a tenth of a second for
// any list); past it only short lists still run the procedure itself.
constexpr MixedOrderLimits kValueOrderLimits{2000, 1'000'000, 12'000};

constexpr int kGroupSelects = 6;
constexpr int kSeparatorExamples = 5;

QStringView qview(std::u16string_view v) {
    return QStringView(reinterpret_cast<const QChar*>(v.data()), qsizetype(v.size()));
}

std::u16string_view u16view(QStringView v) {
    return std::u16string_view(reinterpret_cast<const char16_t*>(v.data()), size_t(v.size()));
}

// The distinct texts of a column, the empty text first, by an open-addressing set over the
// list's indexes. The texts are copied into one compact buffer as they are found, so that
// comparing a cell with the text it equals reads a few cached lines instead of the scattered
// cell that first held it.
class DistinctTexts {
public:
    DistinctTexts() {
        slots_.assign(1024, 0);
        add(std::u16string_view(), hashUtf16(std::u16string_view()));
    }

    void insert(std::u16string_view text) {
        const uint64_t hash = hashUtf16(text);
        size_t i = size_t(hash) & (slots_.size() - 1);
        for (; slots_[i] != 0; i = (i + 1) & (slots_.size() - 1)) {
            const uint32_t at = slots_[i] - 1;
            if (hashes_[at] == hash && textAt(at) == text) return;
        }
        add(text, hash);
    }

    // Views into the buffer, valid while this set lives.
    std::vector<std::u16string_view> values() const {
        std::vector<std::u16string_view> list(hashes_.size());
        for (size_t at = 0; at < list.size(); ++at)
            list[at] = textAt(at);
        return list;
    }

private:
    std::u16string_view textAt(size_t at) const {
        return std::u16string_view(buffer_.data() + starts_[at], starts_[at + 1] - starts_[at]);
    }

    void add(std::u16string_view text, uint64_t hash) {
        if ((hashes_.size() + 1) * 2 > slots_.size()) grow();
        size_t i = size_t(hash) & (slots_.size() - 1);
        while (slots_[i] != 0)
            i = (i + 1) & (slots_.size() - 1);
        buffer_.append(text);
        starts_.push_back(buffer_.size());
        hashes_.push_back(hash);
        slots_[i] = uint32_t(hashes_.size());
    }

    void grow() {
        slots_.assign(slots_.size() * 2, 0);
        for (size_t at = 0; at < hashes_.size(); ++at) {
            size_t i = size_t(hashes_[at]) & (slots_.size() - 1);
            while (slots_[i] != 0)
                i = (i + 1) & (slots_.size() - 1);
            slots_[i] = uint32_t(at + 1);
        }
    }

    std::u16string buffer_;
    std::vector<size_t> starts_{0}; // text k is buffer_[starts_[k], starts_[k+1])
    std::vector<uint64_t> hashes_;
    std::vector<uint32_t> slots_; // index + 1 into hashes_, 0 = free
};

void collectDistinct(DistinctTexts& set, const RowTable& table, int column, size_t firstRow, size_t endRow) {
    endRow = std::min(endRow, table.size());
    for (size_t r = firstRow; r < endRow; ++r) {
        cancellation::pointEvery(r);
        const std::u16string_view text = cells::textAt(table[r], column);
        if (!text.empty()) set.insert(text);
    }
}

// Puts distinct texts in value order (see sortValues). `numbers` receives whether each one,
// in the new order, parses as a number.
ValueOrder orderTexts(std::vector<std::u16string_view>& values, std::vector<char>* numbers = nullptr) {
    const size_t n = values.size();
    std::vector<NumberOrText> keys(n);
    std::vector<uint32_t> byText(n);
    for (size_t i = 0; i < n; ++i) {
        keys[i].isNumber = parseNumber(values[i], keys[i].number);
        byText[i] = uint32_t(i);
    }
    std::sort(byText.begin(), byText.end(), [&](uint32_t a, uint32_t b) { return values[a] < values[b]; });
    for (size_t r = 0; r < n; ++r) {
        // Equal texts share a rank (the lists here are distinct, but the order does not rely on it).
        const bool tie = r > 0 && values[byText[r - 1]] == values[byText[r]];
        keys[byText[r]].textRank = tie ? keys[byText[r - 1]].textRank : uint32_t(r);
    }

    ValueOrder result = ValueOrder::ExchangeSort;
    std::vector<size_t> order;
    if (!exchangeSortNumberOrTextOrder(keys, order, kValueOrderLimits)) {
        result = ValueOrder::Fallback;
        order.resize(n);
        for (size_t i = 0; i < n; ++i)
            order[i] = i;
        std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
            const NumberOrText& x = keys[a];
            const NumberOrText& y = keys[b];
            if (x.isNumber != y.isNumber) return x.isNumber;
            if (x.isNumber) return x.number < y.number;
            return x.textRank < y.textRank;
        });
    }
    std::vector<std::u16string_view> sorted(n);
    if (numbers) numbers->resize(n);
    for (size_t i = 0; i < n; ++i) {
        sorted[i] = values[order[i]];
        if (numbers) (*numbers)[i] = keys[order[i]].isNumber ? 1 : 0;
    }
    values.swap(sorted);
    return result;
}

bool needsEscape(char16_t c) {
    return c == u'&' || c == u'<' || c == u'>' || c == u'"' || c == u'\'';
}

void appendEscaped(QString& out, std::u16string_view text) {
    size_t plain = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (!needsEscape(c)) continue;
        out.append(qview(text.substr(plain, i - plain)));
        switch (c) {
        case u'&':
            out.append(u"&amp;");
            break;
        case u'<':
            out.append(u"&lt;");
            break;
        case u'>':
            out.append(u"&gt;");
            break;
        case u'"':
            out.append(u"&quot;");
            break;
        default:
            out.append(u"&#39;");
            break;
        }
        plain = i + 1;
    }
    out.append(qview(text.substr(plain)));
}

void appendEscaped(QString& out, const QString& text) {
    appendEscaped(out, u16view(text));
}

// " <option value="v">v</option>", the text escaped in both places.
void appendOption(QString& out, std::u16string_view text) {
    out.append(u" <option value=\"");
    appendEscaped(out, text);
    out.append(u"\">");
    appendEscaped(out, text);
    out.append(u"</option>");
}

// One field's value list as the page shows it, and how many condition rows it gets: none when
// its data rows hold no text, two when every value is a number (blanks included), else one.
struct FieldValues {
    QString options; // the " <option value=…>…</option>" list
    int conditionRows = 0;
    bool fallback = false;
    int64_t longValues = 0;
    int64_t separatorValues = 0;
    QStringList separatorExamples; // the first few values containing "|"
};

FieldValues fieldValues(const RowTable& table, int column, size_t firstRow, size_t endRow) {
    FieldValues field;
    DistinctTexts set;
    collectDistinct(set, table, column, firstRow, endRow);
    std::vector<std::u16string_view> values = set.values();
    std::vector<char> isNumber;
    field.fallback = orderTexts(values, &isNumber) == ValueOrder::Fallback;
    if (values.size() == 1) return field; // only the empty text

    bool allNumbers = true;
    for (size_t v = 0; v < values.size(); ++v) {
        allNumbers = allNumbers && isNumber[v];
        const std::u16string_view text = values[v];
        if (qsizetype(text.size()) > kLongestOfferedValue) {
            ++field.longValues;
            continue;
        }
        if (text.find(u'|') != std::u16string_view::npos && field.separatorValues++ < kSeparatorExamples)
            field.separatorExamples.append(qview(text).toString());
        appendOption(field.options, text);
    }
    field.conditionRows = allNumbers ? 2 : 1;
    return field;
}

class PageBuilder {
public:
    PageBuilder(const RowTable& table, const FieldList& fields, int fieldRow, FormPageInfo& info)
        : table_(table)
        , fields_(fields)
        , fieldRow_(fieldRow)
        , info_(info) {}

    // Closes the table, then the size box, the button that sends the form to `onclick`, and
    // the page's tail.
    QString finishPage(Msg button, const char16_t* onclick) {
        page_.append(u" </table> ");
        appendSizeInput();
        page_.append(u" <br> <p align=center> <input type=button value='");
        page_.append(MessageTable::text(button));
        page_.append(u"' name=A1 onclick=");
        page_.append(QStringView(onclick));
        page_.append(u"></p> </form> ");
        appendTail();
        return std::move(page_);
    }

    QString queryPage() {
        appendHead(Msg::QueryPage);
        return finishPage(Msg::QueryButton, u"tjSelect()");
    }

    QString summaryPage() {
        appendHead(Msg::SummaryPage);
        page_.append(u" <tr>  <td height=33 colspan=4>&nbsp; </td> <tr> ");
        const QString group = MessageTable::text(Msg::FormGroupHeading);
        for (int g = 1; g <= kGroupSelects; ++g) {
            page_.append(u" <tr>  <td height=33 colspan=2 align=center>");
            page_.append(group);
            page_.append(QString::number(g));
            page_.append(u" </td> <td colspan=2 align=center> <select size=1 name=HZTJ");
            page_.append(QString::number(g));
            page_.append(u">");
            if (g >= 2) page_.append(u"<option></option>");
            for (const QString& name : fields_)
                appendOption(page_, u16view(name));
            page_.append(u" </select></td>  <td>  <tr> ");
        }
        page_.append(u" <tr>  <td height=33 colspan=4 align=center>");
        page_.append(MessageTable::text(Msg::FormSumHeading));
        page_.append(u" </td> <tr>  <tr>  <tr>  <td>  <select id=showField onChange=selField() size=10>");
        for (qsizetype p = 0; p < fields_.size(); ++p)
            appendOption(page_, u16view(groupSumLabel(int(p), fields_[p])));
        page_.append(u" </select></td>  <td>  <P align=right><INPUT type=button onClick=selectALL() "
                     u"value='  >>  '></P>  <P align=right><INPUT type=button onClick=clearALL()  "
                     u"value='  <<  '></P>  </td>  <td colspan=2 align=center>  <select name='order' "
                     u"size=10> </select>  </td>  <tr> ");
        // The function a column takes when it joins "order" (求和 first: the plain label).
        page_.append(u" <tr>  <td colspan=2>&nbsp; </td>  <td colspan=2 align=center>");
        page_.append(MessageTable::text(Msg::FormFunctionHeading));
        page_.append(u" <select size=1 name=HZFS>");
        for (int f = 0; f < kSumFunctionCount; ++f)
            appendOption(page_, u16view(sumFunctionName(SumFunction(f))));
        page_.append(u" </select></td>  <tr> ");
        return finishPage(Msg::SummaryButton, u"tjSum()");
    }

private:
    void appendHead(Msg title) {
        page_.append(u"<html><head><meta http-equiv=Content-Type content='text/html; charset=");
        page_.append(MessageTable::text(Msg::PageCharset));
        page_.append(u"'></head><body bgcolor=#EEEEEE leftmargin=0 topmargin=0>"
                     u"<table width=100% height=100% border=0 cellspacing=0 cellpadding=0>"
                     u" <tr>  <td height=33 align=center> <font color=#0000FF>");
        page_.append(MessageTable::text(title));
        page_.append(u"</font> </td> </tr> <tr> <td valign=top align=center height=100%><br>"
                     u"<div align=left style='OVERFLOW: auto; WIDTH: 98%; HEIGHT: 95%;BORDER: black 0px "
                     u"solid;'><form id=form2> <br> <br> "
                     u" <table border=1 cellspacing=0 cellpadding=0 align=center bordercolordark=#ffffff "
                     u"bordercolor=#9999CC width=98%> <tr height=33>  <td align=center> ");
        for (Msg heading : {Msg::FormFieldHeading, Msg::FormComparatorHeading, Msg::FormValueHeading}) {
            page_.append(u" <font color=#0000FF>");
            page_.append(MessageTable::text(heading));
            page_.append(u"</font></td>  <td align=center> ");
        }
        page_.append(u" <font color=#0000FF>");
        page_.append(MessageTable::text(Msg::FormLogicHeading));
        page_.append(u"</font></td>  </tr> ");
        appendConditionRows();
    }

    void appendConditionRows() {
        struct Comparator {
            const char16_t* value;
            const char16_t* shown;
            Msg title;
        };
        static const Comparator kComparators[6] = {{u"=", u"=", Msg::Equal},
                                                   {u">", u"&gt;", Msg::Greater},
                                                   {u">=", u"&gt;=", Msg::GreaterOrEqual},
                                                   {u"<", u"&lt;", Msg::Less},
                                                   {u"<=", u"&lt;=", Msg::LessOrEqual},
                                                   {u"!=", u"!=", Msg::NotEqual}};
        QString comparators;
        for (const Comparator& comparator : kComparators) {
            comparators.append(u"<option value='");
            comparators.append(comparator.value);
            comparators.append(u"' title='");
            comparators.append(MessageTable::text(comparator.title));
            comparators.append(u"'>&nbsp;");
            comparators.append(comparator.shown);
            comparators.append(u"&nbsp;</option>");
        }
        const QString logic = QStringLiteral("<option value='and'>") + MessageTable::text(Msg::And) +
                              QStringLiteral("</option>");

        const std::vector<FieldValues> fieldValues = valuesOfFields();
        // Room for the whole page at once: the value lists make up nearly all of it.
        qsizetype room = page_.size() + 4096;
        for (qsizetype i = 0; i < fields_.size(); ++i) {
            const qsizetype name = fields_[i].size() * 6;
            room +=
                fieldValues[size_t(i)].conditionRows * (fieldValues[size_t(i)].options.size() +
                                                        comparators.size() + logic.size() + 2 * name + 256) +
                7 * (2 * name + 64);
        }
        page_.reserve(room);
        int k = 1;
        for (qsizetype i = 0; i < fields_.size(); ++i) {
            const QString& name = fields_[i];
            const FieldValues& values = fieldValues[size_t(i)];
            if (name.contains(u'|')) info_.namesWithSeparator.append(name);
            if (values.fallback) info_.fallbackOrderFields.append(name);
            info_.longValuesLeftOut += values.longValues;
            info_.valuesWithSeparator += values.separatorValues;
            for (const QString& example : values.separatorExamples)
                if (info_.separatorExamples.size() < kSeparatorExamples)
                    info_.separatorExamples.append(QStringLiteral("字段“%1”的值“%2”").arg(name, example));

            for (int row = 0; row < values.conditionRows; ++row, ++k) {
                const QString number = QString::number(k);
                page_.append(u" <tr height=33>  <td> ");
                appendEscaped(page_, name);
                page_.append(u" <input type=hidden name=MC");
                page_.append(number);
                page_.append(u" value=\"");
                appendEscaped(page_, name);
                page_.append(u"\"></td>  <td>  <select size=1 name=BJF");
                page_.append(number);
                page_.append(u">");
                page_.append(comparators);
                page_.append(u" </select></td>  <td>  <select size=1 name=BJZ");
                page_.append(number);
                page_.append(u">");
                page_.append(values.options);
                page_.append(u" </select></td>  <td>  <select size=1 name=LJF");
                page_.append(number);
                page_.append(u">");
                page_.append(logic);
                page_.append(u" </select></td>  </tr> ");
            }
        }
        info_.conditionRows = k - 1;
    }

    // The value lists of all fields. Fields are independent, so on a large table they are
    // worked out on up to four threads, each taking the next field still to do.
    std::vector<FieldValues> valuesOfFields() const {
        const size_t count = size_t(fields_.size());
        std::vector<FieldValues> result(count);
        const size_t first = size_t(fieldRow_) + 1;
        std::atomic<size_t> next{0};
        auto work = [&] {
            for (size_t i = next++; i < count; i = next++)
                result[i] = fieldValues(table_, int(i), first, table_.size());
        };
        const size_t cells = (table_.size() - std::min(table_.size(), first)) * count;
        const size_t threads =
            cells < 200'000 ? 1
                            : std::min<size_t>({count, 4, std::max(1u, std::thread::hardware_concurrency())});
        // An exception (an allocation failure) must not leave a helper thread: the first one is
        // kept, the others stop taking fields, and it is thrown again here once all are joined.
        std::exception_ptr failure;
        std::mutex failureMutex;
        auto guarded = [&, cancel = cancellation::current()] {
            const cancellation::Scope scope(cancel); // the helpers are cancelled with the page
            try {
                work();
            } catch (...) {
                std::lock_guard lock(failureMutex);
                if (!failure) failure = std::current_exception();
                next = count;
            }
        };
        std::vector<std::thread> helpers;
        try {
            for (size_t t = 1; t < threads; ++t)
                helpers.emplace_back(guarded);
        } catch (const std::system_error&) {
            // No more threads to be had: the ones started and this one do the work.
        }
        guarded();
        for (std::thread& helper : helpers)
            helper.join();
        if (failure) std::rethrow_exception(failure);
        return result;
    }

    void appendSizeInput() {
        page_.append(u" <input type=hidden name=SIZE value=\"");
        page_.append(QString::number(info_.conditionRows));
        page_.append(u"\">");
    }

    void appendTail() {
        page_.append(u" </div> </td> </tr> </table></body></html>"
                     u"<script language=JavaScript src=js.js> </script> ");
    }

    const RowTable& table_;
    const FieldList& fields_;
    int fieldRow_;
    FormPageInfo& info_;
    QString page_;
};

Status checkFieldRow(int fieldRow) {
    if (fieldRow >= 0) return Status::ok();
    return Status::invalidInput(MessageTable::text(Msg::NoFieldRow));
}

} // namespace

QStringList columnValues(const RowTable& table, int column, size_t firstRow, size_t endRow,
                         ValueOrder* order) {
    DistinctTexts set;
    collectDistinct(set, table, column, firstRow, endRow);
    std::vector<std::u16string_view> values = set.values();
    const ValueOrder how = orderTexts(values);
    if (order) *order = how;
    QStringList list;
    list.reserve(qsizetype(values.size()));
    for (std::u16string_view v : values)
        list.append(qview(v).toString());
    return list;
}

ValueOrder sortValues(QStringList& values) {
    std::vector<std::u16string_view> views;
    views.reserve(size_t(values.size()));
    for (const QString& v : values)
        views.push_back(u16view(v));
    const ValueOrder how = orderTexts(views);
    QStringList sorted;
    sorted.reserve(values.size());
    for (std::u16string_view v : views)
        sorted.append(qview(v).toString());
    values.swap(sorted);
    return how;
}

QString escapePageText(QStringView text) {
    QString out;
    out.reserve(text.size());
    appendEscaped(out, u16view(text));
    return out;
}

namespace {

Result<QString> buildPage(const RowTable& table, const FieldList& fields, int fieldRow, FormPageInfo* info,
                          QString (PageBuilder::*make)()) {
    if (Status s = checkFieldRow(fieldRow); !s) return s;
    FormPageInfo found;
    PageBuilder builder(table, fields, fieldRow, found);
    QString page = (builder.*make)();
    if (info) *info = found;
    return page;
}

} // namespace

Result<QString> buildQueryPage(const RowTable& table, const FieldList& fields, int fieldRow,
                               FormPageInfo* info) {
    return buildPage(table, fields, fieldRow, info, &PageBuilder::queryPage);
}

Result<QString> buildSummaryPage(const RowTable& table, const FieldList& fields, int fieldRow,
                                 FormPageInfo* info) {
    return buildPage(table, fields, fieldRow, info, &PageBuilder::summaryPage);
}

Result<QString> buildQueryPage(const RowTable& table, FormPageInfo* info) {
    int fieldRow = -1;
    const FieldList fields = findFieldRow(table, fieldRow);
    return buildQueryPage(table, fields, fieldRow, info);
}

Result<QString> buildSummaryPage(const RowTable& table, FormPageInfo* info) {
    int fieldRow = -1;
    const FieldList fields = findFieldRow(table, fieldRow);
    return buildSummaryPage(table, fields, fieldRow, info);
}

Status writePageFile(const QString& path, const QString& page) {
    return writeUtf16TextFile(path, page);
}

QString formPageNote(const FormPageInfo& info) {
    QStringList parts;
    if (!info.namesWithSeparator.isEmpty())
        parts.append(QStringLiteral("字段名“%1”含有“|”，选择它的条件无法正确交回。")
                         .arg(info.namesWithSeparator.join(QStringLiteral("”、“"))));
    if (info.valuesWithSeparator > 0)
        parts.append(QStringLiteral("有 %1 个值含有“|”（%2），选择它们的条件无法正确交回。")
                         .arg(info.valuesWithSeparator)
                         .arg(info.separatorExamples.join(QStringLiteral("、"))));
    return parts.join(QString());
}

} // namespace quellar
