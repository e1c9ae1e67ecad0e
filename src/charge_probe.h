// charge_probe.h - read the charge flag from the kernel's information file.
#ifndef CHARGE_PROBE_H
#define CHARGE_PROBE_H

// Reads /proc/app_info once and answers 1 if its "charge_flag" entry holds
// the value "1", 0 otherwise. Prints at most one message on standard output.
int read_charge_flag();

// The same probe on another file; the message texts stay those of
// /proc/app_info. For tests, which cannot place files under /proc.
int read_charge_flag_from(const char* app_info_path);

#endif
