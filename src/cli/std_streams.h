#pragma once

namespace cli {

// Started from cron or a service with a standard stream closed, the port would be opened
// on that stream's number and get what was meant for it. Any closed one is held on the null
// device instead, read-only, so that writing to it still fails as it would have.
void holdClosedStandardStreams();

}  // namespace cli
