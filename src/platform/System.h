#pragma once

// The operating-system facilities the program needs, realised for a Linux desktop. Folder texts
// end with "/".

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dm {

// The user's data folder, without a trailing "/".
std::string AppDataFolder();
// The system temporary folder, ending with "/".
std::string TempFolder();
// The folder of the running executable, ending with "/".
std::string ExecutableFolder();
std::string ExecutablePath();
// The machine's host name; empty when it cannot be read.
std::string ComputerName();
// The host name as the socket layer reports it.
std::string HostName();
// The first IPv4 address of an interface that is up and not the loopback; "127.0.0.1" when
// there is none.
std::string LocalIpAddress();
// The logon user name, or the fallback when it cannot be read.
std::string WindowsUserName(const std::string& fallback);
// Size in bytes, or -1 when it cannot be read.
std::int64_t FileSizeOf(const std::string& path);
// Appends folder (with a "/" added when missing) + name for every entry matching the mask
// ("*" and "?" wildcards, case-sensitive) that is not a folder, hidden files included.
// Returns false when the folder cannot be listed.
bool ListFiles(const std::string& folder, const std::string& mask, std::vector<std::string>& list);
// An address that came from the network may be opened only when this holds: an http: or
// https: URL with a host, and nothing in it that a command line or a shell could read as more.
bool IsWebAddress(std::string_view address);

// What a local file is to the desktop: a program (an executable, a script with "#!", a .desktop
// entry) or a document (anything else, whatever its execute bit says: every file on a vfat,
// NTFS or CIFS share has one).
enum class TFileKind { Missing, Program, Document };
TFileKind ShellFileKind(const std::string& path);

// Opens what the user chose or configured: a URL or a document with the desktop's default
// handler, or starts a program; never through a shell. False when nothing could open it.
// A program or document is started in workingFolder when one is given. Tests replace the
// opener to see what would be opened (it is then always true).
bool ShellOpen(const std::string& target, const std::string& workingFolder = {});
// Opens an address from the network: web addresses only (IsWebAddress); anything else, a local
// path above all, is refused and false returned.
bool OpenWebAddress(const std::string& address);
using ShellOpener = std::function<void(const std::string& target)>;
ShellOpener SetShellOpener(ShellOpener opener);

// The whole file, or nothing when it does not exist; throws std::system_error otherwise.
std::optional<std::string> ReadWholeFile(const std::string& path);
// Creates (or empties) a file that only its owner may read and write, whatever mode an old one
// had; nullptr with errno set when it cannot.
std::FILE* CreatePrivateFile(const std::string& path);
// A new folder under TempFolder() that only its owner may enter (0700), named prefix and six
// random characters; its path ending with "/", or empty with errno set when it cannot be made.
std::string CreatePrivateTempFolder(const std::string& prefix);

// Replaces the file with the bytes so that a crash at any moment leaves either the old or the
// new content: a sibling "<file>.tmp-PID-N" is written, flushed and renamed over the file. The
// result is readable and writable by its owner only, whatever mode the old file had. A
// symbolic link stays a link: its final target is replaced, beside the target. A file without
// write permission is not replaced (EACCES), although the folder would allow the rename.
// Throws std::system_error.
void ReplaceFileAtomically(const std::string& path, std::string_view bytes);
// The file a path finally names once every symbolic link is followed; the path itself when it
// is no link (or names nothing yet).
std::string FinalLinkTarget(const std::string& path);
// Removes the siblings that interrupted replacements of this file left behind: those of
// processes that are gone. Returns how many were removed.
int RemoveStaleReplacements(const std::string& path);

} // namespace dm
