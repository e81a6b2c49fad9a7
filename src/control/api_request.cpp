#include "control/api_request.h"

#include <cstdint>
#include <map>
#include <variant>

#include "remote/key_lookup.h"

namespace control {

namespace {

constexpr std::string_view kPrefix = "/api/v1/";
constexpr std::size_t kMaxTextBytes = 64;

ParsedApiRequest refused(unsigned status, std::string reason) {
    ParsedApiRequest parsed;
    parsed.status = status;
    parsed.refusal = std::move(reason);
    return parsed;
}

ParsedApiRequest accepted(ApiRequest request) {
    ParsedApiRequest parsed;
    parsed.request = std::move(request);
    return parsed;
}

bool printableAscii(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) {
            return false;
        }
    }
    return true;
}

std::string shown(std::string_view text) {
    std::string out = "\"";
    for (char c : text.substr(0, 40)) {
        out += printableAscii(std::string_view(&c, 1)) ? c : '?';
    }
    return out + (text.size() > 40 ? "...\"" : "\"");
}

// The key a name means, as kolvane-send takes it; refusals carry the names it may have meant.
ParsedApiRequest keyRequest(std::string_view name) {
    if (name.empty()) {
        return refused(404, "no key named: /api/v1/keys/NAME");
    }
    const remote::KeyLookup lookup = remote::lookUpKey(name);
    if (lookup.result != remote::KeyLookup::Result::Found) {
        const bool ambiguous = lookup.result == remote::KeyLookup::Result::Ambiguous;
        ParsedApiRequest parsed =
            refused(404, (ambiguous ? "ambiguous key " : "unknown key ") + shown(name) +
                             (lookup.names.empty() ? "; the keys are " + remote::kKeyNumbers : ""));
        parsed.names = lookup.names;
        return parsed;
    }
    if (lookup.key->isReserved()) {
        ParsedApiRequest parsed = refused(400, "the reserved key sends nothing");
        parsed.wellFormed = true;
        return parsed;
    }
    ApiRequest request;
    request.kind = ApiRequest::Kind::Key;
    request.hotspot = lookup.key->hotspot;
    return accepted(request);
}

ParsedApiRequest textRequest(std::string_view text) {
    if (text.empty()) {
        return refused(400, "the text is empty");
    }
    if (text.size() > kMaxTextBytes || !printableAscii(text)) {
        return refused(400, "the text must be 1 to 64 printable ASCII characters");
    }
    ApiRequest request;
    request.kind = ApiRequest::Kind::Text;
    request.text = std::string(text);
    return accepted(request);
}

// A strict reader of the small JSON bodies the API takes: the whole grammar, nested at most
// kMaxDepth deep, keeping only the top-level object's string and boolean members.
class JsonReader {
public:
    using Value = std::variant<std::monostate, std::string, bool>;  // monostate: anything else
    static constexpr int kMaxDepth = 16;

    explicit JsonReader(std::string_view text) : text_(text) {}

    // The top-level object's members, or nothing with `error` set.
    std::optional<std::map<std::string, Value>> object(std::string& error) {
        std::map<std::string, Value> members;
        skipSpace();
        if (!take('{')) {
            return fail(error, "the body must be a JSON object");
        }
        skipSpace();
        if (!take('}')) {
            do {
                skipSpace();
                std::string name;
                if (!string(name)) {
                    return fail(error, "the body is not valid JSON");
                }
                skipSpace();
                Value value;
                if (!take(':') || !(skipSpace(), this->value(value, 1))) {
                    return fail(error, "the body is not valid JSON");
                }
                if (!members.emplace(std::move(name), std::move(value)).second) {
                    return fail(error, "a member of the body is given twice");
                }
                skipSpace();
            } while (take(','));
            if (!take('}')) {
                return fail(error, "the body is not valid JSON");
            }
        }
        skipSpace();
        if (at_ != text_.size()) {
            return fail(error, "the body is not valid JSON");
        }
        return members;
    }

private:
    static std::nullopt_t fail(std::string& error, const char* why) {
        error = why;
        return std::nullopt;
    }

    bool take(char c) {
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    bool word(std::string_view w) {
        if (text_.substr(at_, w.size()) == w) {
            at_ += w.size();
            return true;
        }
        return false;
    }
    void skipSpace() {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' ||
                                      text_[at_] == '\n' || text_[at_] == '\r')) {
            ++at_;
        }
    }
    bool digits() {
        const std::size_t from = at_;
        while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') {
            ++at_;
        }
        return at_ > from;
    }

    bool value(Value& out, int depth) {
        if (depth > kMaxDepth) {
            return false;
        }
        if (at_ >= text_.size()) {
            return false;
        }
        const char c = text_[at_];
        if (c == '"') {
            std::string s;
            if (!string(s)) {
                return false;
            }
            out = std::move(s);
            return true;
        }
        if (word("true") || word("false")) {
            out = c == 't';
            return true;
        }
        out = std::monostate{};
        if (word("null")) {
            return true;
        }
        if (c == '{' || c == '[') {
            return container(depth);
        }
        return number();
    }

    bool container(int depth) {
        const bool isObject = text_[at_++] == '{';
        const char close = isObject ? '}' : ']';
        skipSpace();
        if (take(close)) {
            return true;
        }
        do {
            skipSpace();
            if (isObject) {
                std::string name;
                if (!string(name) || !(skipSpace(), take(':'))) {
                    return false;
                }
                skipSpace();
            }
            Value ignored;
            if (!value(ignored, depth + 1)) {
                return false;
            }
            skipSpace();
        } while (take(','));
        return take(close);
    }

    bool number() {
        take('-');
        if (!take('0') && !digits()) {
            return false;
        }
        if (take('.') && !digits()) {
            return false;
        }
        if (take('e') || take('E')) {
            if (!take('+')) {
                take('-');
            }
            return digits();
        }
        return true;
    }

    bool hex4(std::uint32_t& unit) {
        if (at_ + 4 > text_.size()) {
            return false;
        }
        unit = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[at_++];
            unit <<= 4;
            if (c >= '0' && c <= '9') {
                unit |= std::uint32_t(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                unit |= std::uint32_t(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                unit |= std::uint32_t(c - 'A' + 10);
            } else {
                return false;
            }
        }
        return true;
    }

    static void appendUtf8(std::string& out, std::uint32_t cp) {
        if (cp < 0x80) {
            out += char(cp);
        } else if (cp < 0x800) {
            out += char(0xC0 | (cp >> 6));
            out += char(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += char(0xE0 | (cp >> 12));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        } else {
            out += char(0xF0 | (cp >> 18));
            out += char(0x80 | ((cp >> 12) & 0x3F));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        }
    }

    bool escape(std::string& out) {
        if (at_ >= text_.size()) {
            return false;
        }
        const char c = text_[at_++];
        static constexpr std::string_view kFrom = "\"\\/bfnrt";
        static constexpr std::string_view kTo = "\"\\/\b\f\n\r\t";
        if (const auto i = kFrom.find(c); i != std::string_view::npos) {
            out += kTo[i];
            return true;
        }
        std::uint32_t unit = 0;
        if (c != 'u' || !hex4(unit)) {
            return false;
        }
        if (unit >= 0xDC00 && unit <= 0xDFFF) {
            return false;
        }
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            std::uint32_t low = 0;
            if (!word("\\u") || !hex4(low) || low < 0xDC00 || low > 0xDFFF) {
                return false;
            }
            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        }
        appendUtf8(out, unit);
        return true;
    }

    bool string(std::string& out) {
        if (!take('"')) {
            return false;
        }
        while (at_ < text_.size()) {
            const char c = text_[at_++];
            if (c == '"') {
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20) {
                return false;
            }
            if (c == '\\') {
                if (!escape(out)) {
                    return false;
                }
            } else {
                out += c;
            }
        }
        return false;
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

// The member `name` of a body that must be a JSON object, of type T; or a refusal.
template <typename T>
std::optional<T> bodyMember(std::string_view body, const char* name, const char* wanted,
                            ParsedApiRequest& refusal) {
    std::string error;
    const auto members = JsonReader(body).object(error);
    if (!members) {
        refusal = refused(400, error);
        return std::nullopt;
    }
    const auto found = members->find(name);
    if (found == members->end() || !std::holds_alternative<T>(found->second)) {
        refusal = refused(400, std::string("the body needs \"") + name + "\", " + wanted);
        return std::nullopt;
    }
    return std::get<T>(found->second);
}

// The `wait=MS` of a query, the only parameter there is.
bool readQuery(std::string_view query, ApiRequest& request, ParsedApiRequest& refusal) {
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        if (pair.empty()) {
            continue;
        }
        if (pair.substr(0, 5) != "wait=") {
            refusal = refused(400, "unknown parameter " + shown(pair.substr(0, pair.find('='))) +
                                       " (only wait=MS is known)");
            return false;
        }
        const auto ms = wholeNumber(pair.substr(5), ApiRequest::kMaxWait.count());
        if (!ms) {
            refusal = refused(400, "wait must be 0 to 5000 ms");
            return false;
        }
        request.wait = std::chrono::milliseconds(*ms);
    }
    return true;
}

}  // namespace

std::optional<unsigned long> wholeNumber(std::string_view digits, unsigned long max) {
    if (digits.empty() || digits.size() > 5) {
        return std::nullopt;
    }
    unsigned long value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    if (value > max) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::string> percentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    const auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') {
            return c - '0';
        }
        if (c >= 'a' && c <= 'f') {
            return c - 'a' + 10;
        }
        if (c >= 'A' && c <= 'F') {
            return c - 'A' + 10;
        }
        return -1;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) {
            return std::nullopt;
        }
        const int high = hex(text[i + 1]);
        const int low = hex(text[i + 2]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

ParsedApiRequest parseHttpRequest(std::string_view method, std::string_view target,
                                  std::string_view body) {
    const std::size_t question = target.find('?');
    const std::string_view path = target.substr(0, question);
    const std::string_view query =
        question == std::string_view::npos ? std::string_view() : target.substr(question + 1);
    if (path.substr(0, kPrefix.size()) != kPrefix) {
        return refused(404, "no such endpoint; the API is under /api/v1/");
    }
    const std::string_view route = path.substr(kPrefix.size());
    const auto wrongMethod = [](const char* wanted) {
        return refused(405, std::string("use ") + wanted + " here");
    };

    ApiRequest request;
    ParsedApiRequest refusal;
    if (route == "state" || route == "keys") {
        if (method != "GET") {
            return wrongMethod("GET");
        }
        request.kind = route == "state" ? ApiRequest::Kind::State : ApiRequest::Kind::Keys;
        return accepted(request);
    }
    if (route == "events") {
        return refused(400, "/api/v1/events is a WebSocket");
    }
    const bool isKey = route.substr(0, 5) == "keys/";
    if (!isKey && route != "text" && route != "port" && route != "search") {
        return refused(404, "no such endpoint");
    }
    if (method != "POST") {
        return wrongMethod("POST");
    }
    if (route == "search") {
        request.kind = ApiRequest::Kind::Search;
        return accepted(request);
    }
    if (route == "port") {
        request.kind = ApiRequest::Kind::Port;
        const auto open = bodyMember<bool>(body, "open", "true or false", refusal);
        if (!open) {
            return refusal;
        }
        request.open = *open;
        return accepted(request);
    }
    ParsedApiRequest parsed;
    if (isKey) {
        const auto name = percentDecode(route.substr(5));
        if (!name) {
            return refused(400, "a broken %-escape in the key's name");
        }
        parsed = keyRequest(*name);
    } else {
        const auto text = bodyMember<std::string>(body, "text", "a string", refusal);
        if (!text) {
            return refusal;
        }
        parsed = textRequest(*text);
    }
    if (parsed.request && !readQuery(query, *parsed.request, refusal)) {
        return refusal;
    }
    return parsed;
}

ParsedApiRequest parseLine(std::string_view line) {
    if (!printableAscii(line)) {
        return refused(400, "a request is a line of printable ASCII");
    }
    static const std::map<std::string_view, ApiRequest::Kind> kWords = {
        {"state", ApiRequest::Kind::State}, {"on", ApiRequest::Kind::Port},
        {"off", ApiRequest::Kind::Port},    {"search", ApiRequest::Kind::Search},
        {"watch", ApiRequest::Kind::Watch},
    };
    if (const auto word = kWords.find(line); word != kWords.end()) {
        ApiRequest request;
        request.kind = word->second;
        request.open = line == "on";
        return accepted(request);
    }
    if (line.substr(0, 5) == "text ") {
        return textRequest(line.substr(5));
    }
    return keyRequest(line);
}

}  // namespace control
