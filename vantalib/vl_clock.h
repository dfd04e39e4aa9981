// Monotonic high-resolution clock.
#pragma once

// Seconds since an arbitrary fixed origin. [any thread] no allocation
double get_time_hr() noexcept;

// Replaces the clock's source (null: the system's steady clock again), so a
// test can step frames by exact amounts and compare pixels across runs.
// [set before any thread reads the clock]
void vl_clock_override(double (*now)()) noexcept;
