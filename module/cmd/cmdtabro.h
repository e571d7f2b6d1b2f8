// The TABRO command: reads one keyword and runs its operation inside the command
// guard; and the tbtest command's entry. Main thread, in the drawing's command
// context.
#pragma once

#include <span>

namespace tabro {

struct KeywordEntry {
    const char* keyword;  // compared with the answer ignoring case
    bool (*operation)();
};

// Export, Export2, Import, Options, Connect, Disconnect, Import2, Toolbar, Help,
// in the order they are compared.
std::span<const KeywordEntry> keywordTable();

// Prompts with texts 7 and 8, takes Enter as "Export", and runs every table entry
// whose keyword equals the answer. The operation's result; false when the prompt was
// cancelled or nothing matched.
bool dispatchKeyword();
// The same with another table (the keyword list still comes from text 7).
bool dispatchKeyword(std::span<const KeywordEntry> table);

// The command entries the host calls.
void tabroCommand();
void tbtestCommand();

}  // namespace tabro
