#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "remote/key_table.h"

namespace control {

// A JSON string literal, quotes included. Bytes outside printable ASCII are escaped, each
// standing for the code point of the same value, so that whatever a device sends stays
// valid JSON.
std::string jsonString(std::string_view bytes);

// An answer as one line of plain text: the line feed that ends it dropped, and the control
// and non-ASCII bytes a device may send shown as escapes rather than handed to a terminal.
std::string plainLine(std::string_view bytes);

// {"error":"…"}: a refusal's reason as JSON.
std::string errorJson(std::string_view reason);

// A key of the remote as JSON: {"number","hint","command","answer"}, null for what the
// reserved key lacks.
std::string keyJson(const remote::RemoteKey& key);

// What a key press came to as JSON: {"key","sent","answer","ms"}, the answer null when none
// came.
std::string resultJson(std::string_view label, std::string_view sent,
                       const std::optional<std::string>& answer, long long ms);

}  // namespace control
