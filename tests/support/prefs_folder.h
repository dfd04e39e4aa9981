// Points the preferences file of this process (and of the plug-in libraries it
// loads) at a folder of the test's choosing: $XDG_CONFIG_HOME on Linux, the
// current user's application-data folder in the registry on Windows (the
// Windows tests run one process at a time, so the user setting is theirs).
#pragma once
#include <string>

// A new empty folder under the system's temporary folder.
std::string make_temp_folder();
void remove_folder(const std::string &dir);
std::string prefs_folder();
void set_prefs_folder(const std::string &dir);
// Puts back the folder that was set before the first set_prefs_folder.
void restore_prefs_folder();
