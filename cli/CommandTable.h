#pragma once
// The commands of quellar-cli, each defined once: its name, its summary, the function that
// runs it, what it reads and every option it takes with the option's description. Parsing
// (CliContext::parse), `quellar-cli --help`, `quellar-cli COMMAND --help`, the manual page's
// option sections and the option lists of the bash completion all come from these
// definitions (the tests check the shipped manual page and completion against them).
//
// A new option is one line in its command's list; the command reads it with
// context.has("name") / value / values.

#include <QString>
#include <QStringList>

#include <vector>

namespace quellar::cli {

class CliContext;

struct OptionDef {
    const char* name;      // without the dashes
    const char16_t* value; // placeholder of the value in help texts; nullptr for a switch
    const char16_t* text;  // the description
    bool repeatable = false;
    char shortName = 0; // the one-letter form (-o), if any

    bool takesValue() const { return value != nullptr; }
};

// What a command reads, which decides the common options it takes.
enum class Inputs {
    TwoTables,    // a table from each of two files: --sheet1 --range1 --sheet2 --range2 -o --quiet
    OneTable,     // a table from one file: --sheet1 --range1 -o --quiet
    OneSheet,     // a whole sheet of one file: --sheet1 -o --quiet
    TwoWorkbooks, // two whole workbooks: -o --quiet
    Files,        // files named on the command line only: --quiet
};

struct CommandDef {
    const char* name;
    const char16_t* summary; // "两表对比：FILE1 FILE2": what it does, then its files
    int (*run)(CliContext& context, const QStringList& arguments);
    Inputs inputs;
    std::vector<OptionDef> options;       // its own options, in the order help lists them
    const char16_t* outputText = nullptr; // its own description of -o, if it differs

    // Every option it takes: its own, then the common ones of its inputs.
    std::vector<OptionDef> allOptions() const;
    QString fileText() const;    // "FILE1 FILE2"
    QString purposeText() const; // "两表对比"
};

const std::vector<CommandDef>& commandTable();
// nullptr for an unknown name.
const CommandDef* findCommand(const QString& name);

} // namespace quellar::cli
