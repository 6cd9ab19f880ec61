// unpack's signature commands, for a publisher checking an update archive
// before publishing it:
//
//   unpack sign --key PRIVATE.pem ARCHIVE [SIGNATURE]
//   unpack verify --key PUBLIC.pem ARCHIVE [SIGNATURE]
//
// SIGNATURE defaults to ARCHIVE.sig. Both take the arguments after the
// command name. sign answers 0 when the signature was written, 2 otherwise;
// verify answers 0 for a good signature, 1 for a bad or missing one and 2
// for a usage or file error. Each says which on its output.
#ifndef UNZIP_SIGNATURE_COMMANDS_H_
#define UNZIP_SIGNATURE_COMMANDS_H_

int SignCommand(int argc, char** argv);
int VerifyCommand(int argc, char** argv);

#endif  // UNZIP_SIGNATURE_COMMANDS_H_
