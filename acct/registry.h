// SPDX-License-Identifier: BSD-3-Clause
// This daemon's entry in the session registry (platform/session_registry.h).
#pragma once

// Writes the link's entry, atomically; logs and writes nothing when the
// registry's directory is not root's own and private.
void ds_register_session() noexcept;

// Removes the link's entry, if there is one.
void ds_unregister_session() noexcept;

// Removes the entry when the daemon exits (its exitnotify chain).
void ds_unregister_at_exit(void *arg, int status) noexcept;
