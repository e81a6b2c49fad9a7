#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <cstdint>
#include <limits>

#include "app/clock_text.h"

namespace app {

namespace {

// The system's time zone with its rules for the year in question, as the taskbar clock uses;
// the C library's localtime would follow a TZ variable instead, in a syntax of its own.
bool localTime(std::time_t when, SYSTEMTIME& local) {
    constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;
    constexpr std::int64_t kTicksPerSecond = 10000000;
    constexpr std::int64_t kLastSecond =
        std::numeric_limits<std::int64_t>::max() / kTicksPerSecond - kSecondsFrom1601To1970;
    const auto seconds = static_cast<std::int64_t>(when);
    if (seconds < -kSecondsFrom1601To1970 || seconds > kLastSecond) {
        return false;
    }
    ULARGE_INTEGER ticks{};
    ticks.QuadPart = static_cast<ULONGLONG>((seconds + kSecondsFrom1601To1970) * kTicksPerSecond);
    FILETIME utcFile{ticks.LowPart, ticks.HighPart};
    SYSTEMTIME utc{};
    return ::FileTimeToSystemTime(&utcFile, &utc) &&
           ::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local);
}

// The caller reads the text as local 8-bit, which on Windows is the ANSI code page.
std::string ansiText(const std::wstring& wide) {
    if (wide.empty()) {
        return {};
    }
    const int length = static_cast<int>(wide.size());
    const int size =
        ::WideCharToMultiByte(CP_ACP, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
    if (size <= 0) {
        return {};
    }
    std::string text(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, wide.data(), length, text.data(), size, nullptr, nullptr);
    return text;
}

// Both formatters answer the size they need, terminator included, when given no buffer.
template <typename Format>
std::wstring formatted(Format format) {
    const int size = format(nullptr, 0);
    if (size <= 0) {
        return {};
    }
    std::wstring text(static_cast<std::size_t>(size), L'\0');
    const int written = format(text.data(), size);
    text.resize(written > 0 ? static_cast<std::size_t>(written - 1) : 0);
    return text;
}

}  // namespace

std::string clockText(std::time_t when) {
    SYSTEMTIME local{};
    if (!localTime(when, local)) {
        return {};
    }
    std::wstring text = formatted([&](wchar_t* buffer, int size) {
        return ::GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, &local, nullptr, buffer,
                                 size, nullptr);
    });
    if (local.wHour != 0 || local.wMinute != 0 || local.wSecond != 0) {
        text += L' ';
        text += formatted([&](wchar_t* buffer, int size) {
            return ::GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, 0, &local, nullptr, buffer, size);
        });
    }
    return ansiText(text);
}

}  // namespace app
