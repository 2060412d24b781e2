#pragma once

#include "core/telemetry_event.h"

namespace tavrolin {

// Delivers one usage event. Fire and forget: send() returns before anything travels, never
// throws, and the caller is never told whether the event arrived.
class TelemetryClient {
public:
    virtual ~TelemetryClient() = default;
    virtual void send(const TelemetryEvent& event) = 0;
};

}  // namespace tavrolin
