#pragma once

// The settings store on Linux: one INI text file per application,
// ${XDG_CONFIG_HOME:-$HOME/.config}/<application>/settings.ini, with
// "[Section]" lines and "Key=Value" lines. The text functions are pure, so
// that tests and fuzzers can drive them on any text.
//
// QuerySetting and SaveSettings (Platform.h) lock the file's folder at their
// first use in a run and hold the lock until the process ends, read the file
// once under it and serve later queries from that copy; a save replaces the
// file once for all its entries (temporary file, fsync, rename, fsync of the
// folder). A query creates nothing: without the folder it finds nothing and
// takes no lock, and the first save creates the folder, locks it and reads
// the file again. TakeTurn takes the same lock earlier, for a change.

#include <optional>
#include <string>

namespace platform {

/// Returns the value of the first `key` line in the first `section` of the
/// INI text `text`, without blanks around it, or nothing when there is none.
/// Names compare without regard to ASCII case; lines starting with ';' or
/// '#' are comments.
std::optional<std::string> ReadIniValue(const std::string& text, const std::string& section,
                                        const std::string& key);

/// Returns `text` with the first `key` line of `section` replaced by
/// "key=value", or removed when `value` is nothing. Every other line keeps
/// its bytes, except the "[section]" line of a section that a removal
/// leaves with nothing but blank lines, which goes too. A new key goes after
/// the section's last key line; a new section goes at the end. Removing what
/// is absent returns `text` as it was.
std::string ReplaceIniValue(const std::string& text, const std::string& section, const std::string& key,
                            const std::optional<std::string>& value);

/// Returns the path of `application`'s settings file.
std::string SettingsPath(const std::string& application);

/// Makes runs at the same time take turns from here on: locks the folder of
/// `application`'s store, creating it, until the process ends, as a save
/// would. A change takes its turn before it reads the display, so that the
/// mode it saves is the one it replaces. Does nothing where the folder cannot
/// be made or locked: the save that follows says why.
void TakeTurn(const std::string& application);

}  // namespace platform
