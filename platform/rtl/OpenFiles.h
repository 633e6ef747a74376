// Opening a name that should be a file, for every reader of the programs.
//
// A user may put anything where a program looks for a file: a named pipe, a socket, a link to a
// device. Opening a pipe waits for a writer for ever, reading a device such as /dev/zero never
// ends, and opening some devices does something by itself. So a name is looked at before it is
// opened, the open never waits, and anything that is not a regular file is refused with a reason
// of the same kind as the system gives for a folder ("Is a directory").
#pragma once

#include <sys/types.h>

#include <string>

// What a name is when it is not a regular file ("Is a directory", "Is a named pipe", "Is a
// character device"...); empty for a regular file.
std::string NotAFileReason(mode_t Mode);

// Opens the regular file at the native path Path with the access of Flags (O_RDONLY, O_WRONLY or
// O_RDWR, with O_CREAT/O_TRUNC for a file that may be made); the handle is closed on exec and
// blocks as any file handle does. Returns -1 when it cannot, with Error set to the errno of the
// failure (EISDIR for a folder, ENODEV for any other thing that is not a regular file) and
// Reason to the text to show.
int OpenRegularFile(const std::string& Path, int Flags, int& Error, std::string& Reason);
