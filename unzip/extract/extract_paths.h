// Where the extraction writes: the full path of a target below the base
// directory, the checks that keep it there, and the directories it needs.
// Internal to the zip layer.
//
// A relative target is joined to the canonical form of the base, which is
// made once per base. It may hold no ".." component (the system would
// resolve one through links, not as our text comparison does), its canonical
// form must lie below the base, and no existing directory below the base on
// its way may be a link (a symbolic link, a junction or another reparse
// point). Directories found or made once are remembered, so an archive that
// lists a folder's files together checks and creates that folder once.
// REQUIRES: nothing else changes the tree below the base while a handle
// extracts into it.
#ifndef UNZIP_EXTRACT_PATHS_H_
#define UNZIP_EXTRACT_PATHS_H_

#include <cstddef>

#include "unzip/unpack.h"

// What the extraction knows about the current base directory.
struct UnpackKnownPaths {
  char szBaseDir[kUnpackMaxPath] = {};  // the base the rest belongs to; "" before the first use
  char szCanonicalBase[kUnpackMaxPath] = {};  // its canonical form, no trailing separator
  bool bBaseReady = false;                    // the base exists as a directory
  // The last directory below the base, relative and canonical, that exists
  // and was reached through no link; so does every directory above it.
  char szDirectory[kUnpackMaxPath] = {};
};

// Checks a relative target below base and creates the directories it needs:
// every directory of a directory target, the directory part of a file
// target. full receives the full path (kUnpackMaxPath bytes). False when the
// target is refused or a directory cannot be created.
bool UnpackPrepareRelative(UnpackKnownPaths* known, const char* base, const char* target,
                           bool isDirectory, char* full);

// Forgets the directories known to exist below the base (not the base).
void UnpackForgetDirectories(UnpackKnownPaths* known);

// Creates every missing directory of an absolute path, outermost first.
// False when path is not a directory afterwards.
bool UnpackCreateDirectories(const char* path);

#endif  // UNZIP_EXTRACT_PATHS_H_
