// property_set.h - set an Android system property.
//
// Our own client for the device's property service, standing in for the
// platform library's call of the same name and shape.
#ifndef PROPERTY_SET_H
#define PROPERTY_SET_H

// The property service's limits, counting the terminating NUL.
constexpr unsigned property_name_max = 32;
constexpr unsigned property_value_max = 92;

// Asks the property service to set name to value. Returns 0 once the whole
// request was sent, -1 if it could not be (a name or value too long for the
// service is refused, never cut short). Prints nothing.
int property_set(const char* name, const char* value);

// The same, through another socket. For tests.
int property_set_via(const char* socket_path, const char* name, const char* value);

#endif
