// main.cpp - publish whether the device is charging.
//
// Runs the charge flag probe once and sets the system property
// "pavoki.charging" to "true" or "false" for every other process to read.
// A run that learns nothing still writes "false", so a stale "true" never
// outlives the flag.

#include "charge_probe.h"
#include "property_set.h"

namespace {

constexpr const char* charging_property = "pavoki.charging";

} // namespace

int main()
{
    const char* charging = read_charge_flag() == 1 ? "true" : "false";

    // Nobody is there to hear of a failure: the property service is the
    // only channel we have, and our exit status is not watched.
    property_set(charging_property, charging);
    return 0;
}
