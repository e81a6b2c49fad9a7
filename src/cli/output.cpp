#include "cli/output.h"

#include <cstdio>

#include "control/answer_text.h"
#include "remote/key_table.h"

namespace cli {

using control::plainLine;

void printResult(std::ostream& out, const KeyResult& result, bool json) {
    if (json) {
        out << control::resultJson(result.label, result.sent, result.answer, result.ms) << '\n';
    } else if (result.answer) {
        out << plainLine(*result.answer) << '\n';
    }
    out.flush();
}

void printKeyTable(std::ostream& out, bool json) {
    for (const remote::RemoteKey& key : remote::RemoteKeyTable) {
        if (json) {
            out << control::keyJson(key) << '\n';
            continue;
        }
        const std::string_view command = key.isReserved() ? "-" : key.commandText;
        const std::string_view answer = key.isReserved() ? "-" : key.receivedName;
        char line[96];
        std::snprintf(line, sizeof line, "%2d  %-19.*s %-5.*s %.*s\n", key.hotspot,
                      static_cast<int>(key.hint.size()), key.hint.data(),
                      static_cast<int>(command.size()), command.data(),
                      static_cast<int>(answer.size()), answer.data());
        out << line;
    }
}

}  // namespace cli
