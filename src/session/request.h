#pragma once

#include <chrono>
#include <string>

namespace session {

// A key, a typed command or the probe sent for someone who waits for its answer.
struct Request {
    enum class Kind { Key, Text, Probe };
    Kind kind = Kind::Key;
    int hotspot = 0;   // Key
    std::string text;  // Text: the command as typed
    std::chrono::milliseconds wait{300};
    // Drop what the line holds before the frame: only for a port opened for this one caller.
    bool discardFirst = false;
};

struct Answer {
    enum class Outcome { Answered, Silent, Meaningless, StillSending, Gone, PortClosed, Busy };
    Outcome outcome = Outcome::Silent;
    std::string text;  // Answered
    std::chrono::milliseconds ms{0};
    std::string sent;  // the frame's five bytes, once it went out
};

}  // namespace session
