// Monotonic high-resolution clock.
#pragma once

// Seconds since an arbitrary fixed origin. [any thread] no allocation
double get_time_hr() noexcept;
