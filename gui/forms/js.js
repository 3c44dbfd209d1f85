// The behaviour of the condition form pages tj_select.htm and tj_sum.htm.
//
// The pages call tjSelect() (query button), tjSum() (summary button), selField() (a column
// chosen in the "showField" list), selectALL() (  >>  ) and clearALL() (  <<  ). The
// choices go back to the program through window.external:
//   tjSelect(conditions)
//   tjSum(conditions, groups, sums)
// conditions: four tokens per chosen condition row (field name, comparator, value, logic),
//             all joined with "|"; a row whose value list is left at its empty entry is not
//             a condition, and with no condition the text is empty.
// groups:     the chosen group fields HZTJ1 ... HZTJ6, empty choices left out, joined by "|".
// sums:       the entries of the list "order", joined by "|" (each a label, with its
//             function when it is not 求和: C (金额)（平均值）).
// This file starts with a UTF-8 byte-order mark: the pages are UTF-16, and a script without
// one is read in the page's encoding.

var QL_SEPARATOR = "|";

function qlForm() {
    return document.getElementById("form2") || document.forms[0];
}

function qlField(name) {
    var form = qlForm();
    if (form && form.elements[name]) return form.elements[name];
    var found = document.getElementsByName(name);
    return found.length ? found[0] : null;
}

function qlValue(name) {
    var field = qlField(name);
    if (!field) return "";
    if (field.tagName && field.tagName.toLowerCase() == "select") {
        if (field.selectedIndex < 0) return "";
        return field.options[field.selectedIndex].value;
    }
    return field.value;
}

// Field names and values cannot carry the separator: such a choice could not be read back.
function qlRefuseSeparator(texts) {
    for (var i = 0; i < texts.length; i++) {
        if (texts[i].indexOf(QL_SEPARATOR) >= 0) {
            alert("“" + texts[i] + "”含有“|”，不能作为条件，请选择其他值。");
            return true;
        }
    }
    return false;
}

// The condition text of the chosen rows, or null when a choice cannot be handed back.
function qlConditions() {
    var count = parseInt(qlValue("SIZE"), 10);
    if (isNaN(count)) count = 0;
    var tokens = [];
    for (var k = 1; k <= count; k++) {
        var value = qlField("BJZ" + k);
        if (!value || value.selectedIndex < 0) continue;
        var chosen = value.options[value.selectedIndex].value;
        if (chosen == "") continue;
        var row = [qlValue("MC" + k), qlValue("BJF" + k), chosen, qlValue("LJF" + k)];
        if (qlRefuseSeparator(row)) return null;
        tokens = tokens.concat(row);
    }
    return tokens.join(QL_SEPARATOR);
}

function qlOptionValues(list) {
    var values = [];
    if (!list) return values;
    for (var i = 0; i < list.options.length; i++) values.push(list.options[i].value);
    return values;
}

// A column joins "order" once, with the function chosen in HZFS: the first one (求和) keeps
// the plain label, another is written after it in full-width parentheses, C (金额)（平均值）.
function qlAddToOrder(option) {
    var order = qlField("order");
    if (!order || !option) return;
    for (var i = 0; i < order.options.length; i++) {
        var chosen = order.options[i].value;
        if (chosen == option.value || chosen.indexOf(option.value + "\uFF08") == 0) return;
    }
    var functions = qlField("HZFS");
    var label = option.value;
    if (functions && functions.selectedIndex > 0) label += "\uFF08" + qlValue("HZFS") + "\uFF09";
    order.options.add(new Option(label, label));
}

function tjSelect() {
    var conditions = qlConditions();
    if (conditions == null) return;
    window.external.tjSelect(conditions);
}

function tjSum() {
    var conditions = qlConditions();
    if (conditions == null) return;
    var groups = [];
    for (var g = 1; g <= 6; g++) {
        var group = qlValue("HZTJ" + g);
        if (group != "") groups.push(group);
    }
    if (qlRefuseSeparator(groups)) return;
    var sums = qlOptionValues(qlField("order"));
    window.external.tjSum(conditions, groups.join(QL_SEPARATOR), sums.join(QL_SEPARATOR));
}

// The chosen column joins "order" once; the choice is then cleared so that the same column
// can be chosen again after clearALL().
function selField() {
    var show = document.getElementById("showField");
    if (!show || show.selectedIndex < 0) return;
    qlAddToOrder(show.options[show.selectedIndex]);
    show.selectedIndex = -1;
}

function selectALL() {
    var show = document.getElementById("showField");
    if (!show) return;
    for (var i = 0; i < show.options.length; i++) qlAddToOrder(show.options[i]);
}

function clearALL() {
    var order = qlField("order");
    if (order) order.options.length = 0;
}

// Every value list starts at its empty entry, so an untouched row is no condition (in a
// numeric column the empty entry stands among the numbers, not first).
(function () {
    var count = parseInt(qlValue("SIZE"), 10);
    for (var k = 1; k <= count; k++) {
        var value = qlField("BJZ" + k);
        if (!value) continue;
        for (var i = 0; i < value.options.length; i++) {
            if (value.options[i].value == "") {
                value.selectedIndex = i;
                break;
            }
        }
    }
})();
