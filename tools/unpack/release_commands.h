// unpack's commands that make update archives with a release record, and
// the one that applies them to a folder the way the updater will:
//
//   unpack make FOLDER OUT.zip --version B
//   unpack delta OLD_FOLDER NEW_FOLDER OUT.zip --from A --to B
//   unpack apply ARCHIVE FOLDER
//
// make stores every file of FOLDER whole. delta stores the files new in
// NEW_FOLDER whole, the changed ones as patches against OLD_FOLDER's copy
// (or whole, when that is not larger than the patch or the file is above
// kMaxPatchedFileSize), and lists the deleted and the unchanged ones. apply
// checks every base file of a delta before it changes anything, then
// deletes, patches and writes; it is for checking archives on a copy of a
// product, not all-or-nothing like the updater.
//
// Each takes the arguments after the command name and answers 0 on success,
// 1 when the work failed (apply: a base file does not match, nothing was
// changed; or the archive is unusable), 2 for a bad command line.
#ifndef TOOLS_UNPACK_RELEASE_COMMANDS_H_
#define TOOLS_UNPACK_RELEASE_COMMANDS_H_

int MakeCommand(int argc, char** argv);
int DeltaCommand(int argc, char** argv);
int ApplyCommand(int argc, char** argv);

#endif  // TOOLS_UNPACK_RELEASE_COMMANDS_H_
