// The CLAP adapter's entry point, and a hook for in-process tests.
#pragma once
#include "clap_abi.h"
#include "koppel_interface.h"

extern "C" const clap_plugin_entry_t clap_entry;

// The KOPPEL plug-in behind a CLAP instance made by this adapter (tests drive
// editor edits through it).
TarvelonKoppelPlugin *koppel_clap_user_plugin(const clap_plugin_t *plugin) noexcept;
