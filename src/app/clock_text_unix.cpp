#include "app/clock_text.h"

namespace app {

namespace {
std::string format(const char* pattern, const std::tm& t) {
    char text[128];
    const std::size_t n = std::strftime(text, sizeof text, pattern, &t);
    return std::string(text, n);
}
}  // namespace

std::string clockText(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    std::string text = format("%x", local);
    if (local.tm_hour != 0 || local.tm_min != 0 || local.tm_sec != 0) {
        text += ' ';
        text += format("%X", local);
    }
    return text;
}

}  // namespace app
