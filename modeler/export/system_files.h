// The few file operations an atomic write needs that differ between
// systems: a private file beside the target, syncing it to the disk, and
// replacing one file by another.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace modeler {

// The path, UTF-8 text here, as the system's file functions take it.
std::filesystem::path systemPath(const std::string &path);

enum class PathKind { kNone, kFile, kFolder, kOther };

// What path names; a link is looked through unless followLinks is false.
PathKind pathKind(const std::string &path, bool followLinks = true);

// A new file only this process can open, with a fresh name beside path
// (".modeler-KIND-..."), open for writing; its name in name. Null with
// errno set when none can be made.
std::FILE *createFileBeside(const std::string &path, const char *kind, std::string &name);

// Gives file the permissions the target has, or those a new file there
// would get. Nothing where the system has no such modes.
void matchPermissions(std::FILE *file, const std::string &target);

// Asks the system to start writing what it holds of file to the disk and
// returns at once: a file synced later then waits less, and the writes of
// several files go out together. Only a hint: nothing where the system has
// no such call.
void startWritingToDisk(std::FILE *file);

// Writes what the system holds of file to the disk: 0, or an errno value.
int syncToDisk(std::FILE *file);

// Puts from in place of to, in one step, replacing to: 0, or an errno value.
int replaceFile(const std::string &from, const std::string &to);

// A second name for the file at path, sharing its data: 0, or an errno
// value where the file system cannot link.
int linkFile(const std::string &path, const std::string &name);

// Writes all of bytes into the device or pipe at path: 0, or an errno value.
int writeIntoDevice(const std::string &path, std::string_view bytes);

}  // namespace modeler
