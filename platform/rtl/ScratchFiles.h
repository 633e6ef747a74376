// Scratch files of a replacement: the new contents of a file are written into a hidden file
// beside it, which is renamed over the old one once whole. A program killed in the middle leaves
// its scratch file behind. While a scratch file is being written its writer holds an flock on
// it, so a later save can tell a leftover from a save that another program is making right now.
#pragma once

#include <string>

// Makes a new scratch file from Template (a path ending in "XXXXXX", which is replaced by the
// name actually made) and holds an exclusive flock on it for as long as the handle stays open.
// Returns the handle (closed on exec), or -1 with errno set.
int CreateLockedScratchFile(std::string& Template);

// Removes the leftovers in Folder (a path ending in '/', or empty for the current folder) whose
// names are Prefix followed by the six characters a scratch name ends in: only regular files of
// this user that no program holds locked. A leftover that cannot be removed stays, silently.
void RemoveAbandonedScratchFiles(const std::string& Folder, const std::string& Prefix);
