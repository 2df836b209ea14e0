// The bridge's files in the user's state directory ($QUILLBAY_HOME/bridge,
// readable by the user only): the lock that keeps one bridge per user, the
// token local programs send, the log of a detached bridge.
#pragma once

#include <string>

namespace bridge {

// The directory, made (mode 0700) when missing; empty when it cannot be.
std::string BridgeDirectory();
std::string TokenPath();
std::string LogPath();

// Takes the per-user lock for the life of the process; false when another
// bridge of this user holds it.
bool TakeInstanceLock();

// `bytes` random bytes from the kernel, as hexadecimal text.
std::string RandomToken(size_t bytes);

// Writes a file whole or not at all: the bytes go to `part` (default: the
// path with ".part" added), which then takes the file's name; false, with
// the file as it was, when it cannot.
bool WriteWholeFile(const std::string &path, const std::string &bytes, unsigned mode,
                    const std::string &part = "");

// The account's local socket, where the dispatcher hands this account's
// connections over: $XDG_RUNTIME_DIR/quillbay/bridge.sock; empty without
// XDG_RUNTIME_DIR. The folder is made (mode 0700) when `make` is set.
std::string AccountSocketPath(bool make);
// The same socket of any account, as the dispatcher finds it under the
// runtime root (ROOT/UID/quillbay/bridge.sock).
std::string AccountSocketPath(const std::string &runtimeRoot, unsigned account);

// Removes a folder of files (a session's previews) and what is in it.
void RemoveFolder(const std::string &folder);
// Removes the preview folders sessions left in the bridge's directory: at
// the start, with the instance lock held, no session owns any.
void RemovePreviewFolders();

// Writes the token file (mode 0600) anew; false when it cannot.
bool WriteTokenFile(const std::string &token);
void RemoveTokenFile();

} // namespace bridge
