#pragma once

#include <vector>

#include "oracle/receive_model.h"
#include "remote/receiver.h"
#include "search/device_search.h"

namespace testing_support {

// What the receiver reports, in the model's terms, with the probe reply passed on to a
// search as the window passes it.
struct MessageLog {
    std::vector<oracle::Message> messages;
    search::DeviceSearch search;

    remote::MessageHandler handler() {
        return [this](const remote::Message& message) {
            if (message.kind == remote::Message::Kind::ProbeReply) {
                search.probeReplyArrived();
            }
            messages.push_back({kindOf(message.kind), std::string(message.text)});
        };
    }

    static oracle::Message::Kind kindOf(remote::Message::Kind kind) {
        switch (kind) {
            case remote::Message::Kind::Key:
                return oracle::Message::Kind::Key;
            case remote::Message::Kind::ProbeReply:
                return oracle::Message::Kind::ProbeReply;
            case remote::Message::Kind::Text:
                break;
        }
        return oracle::Message::Kind::Text;
    }
};

}  // namespace testing_support
