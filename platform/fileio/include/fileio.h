// Replacing a file's content safely: the new content is written beside the target and renamed
// over it, so the old file stays whole until the new one is, and nothing half-written is left.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <initializer_list>
#include <string>

// A file by identity, whatever name or link reaches it.
struct FileId {
  bool known = false;  // false: no file, or it could not be queried
  dev_t device = 0;
  ino_t inode = 0;
};
FileId IdOfFile(const std::string& path);  // links followed

// A piece of the new content.
struct ByteSpan {
  const void* data;
  size_t length;  // bytes
};

// Makes the pieces, in order, the whole content of the file at path, and returns true when it
// holds them all. A link is followed, not replaced; a link whose target does not exist yet
// makes that target. An existing file keeps its permission bits; a new one gets 0666 less the
// umask. Refused, with the target left as it is: an empty path, a loop of links, an existing
// target that is not a plain file or is write-protected (even for root), and the file `keep`.
// On any failure (a folder that cannot be written, a full device) the old file stays as it was
// and no temporary file is left; the result is false.
bool ReplaceFile(const std::string& path, std::initializer_list<ByteSpan> pieces,
                 const FileId& keep = {});

// Removes the temporary file of a replace under way, if there is one. Safe in a signal handler:
// a program that ends on a signal calls it first, so that nothing is left behind.
void RemoveReplaceInProgress();
