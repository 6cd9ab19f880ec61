// The publisher's public key built into the program (the UPDATER_PUBLIC_KEY
// setting of the build): PEM text of a P-256 key, or the empty string when
// the program was built without one and installs archives unchecked.
// Each program defines it in a source file that the build generates.
#ifndef UPDATER_DOWNLOAD_PUBLISHER_KEY_H_
#define UPDATER_DOWNLOAD_PUBLISHER_KEY_H_

extern const char kPublisherKeyPem[];

#endif  // UPDATER_DOWNLOAD_PUBLISHER_KEY_H_
