// Update bundles: a bzip2-compressed ustar archive of the application's
// files under opt/tstat/, its MANIFEST (manifest.h: the version, its security
// version and target, the directories, the files' modes and the SHA-256 of
// every other file) and MANIFEST.sig, an Ed25519 signature of the MANIFEST
// (libsodium).
//
// checkBundle reads the tar headers itself and refuses, before anything is
// written, an archive that is not one whole bzip2 stream (at most the
// download's 0x1A padding may follow it), any entry but a regular file or a
// directory, a name outside opt/tstat/ or with "..", an absolute name or
// other characters than printable ASCII but the backslash, a file past
// UPDATE_FILE_MAX, more than UPDATE_TOTAL_MAX unpacked, a signature that
// does not match the key, any file not listed with its SHA-256 in the
// MANIFEST or listed and missing, a directory or a file's mode the MANIFEST
// does not name, and a public key that is not one. unpackBundle then writes
// what was checked, with the MANIFEST's modes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "manifest.h"

// The hand-over file of a download carries up to 127 bytes of padding.
constexpr size_t UPDATE_ARCHIVE_MAX = 8u * 1024u * 1024u + 127u;
// One file, and all files together, unpacked: what a slot holds with room
// to spare (the image is 1.9 MB).
constexpr uint64_t UPDATE_FILE_MAX = 4u * 1024u * 1024u;
constexpr uint64_t UPDATE_TOTAL_MAX = 6u * 1024u * 1024u;
constexpr size_t UPDATE_ENTRIES_MAX = 1000;
// The MANIFEST and its signature are read into memory (the image's
// MANIFEST lists 438 files in 56 KB).
constexpr size_t UPDATE_MANIFEST_MAX = 256u * 1024u;

constexpr const char *UPDATE_KEY = "opt/tstat/update-key.pub";

using PublicKey = std::array<uint8_t, 32>;
using SecretKey = std::array<uint8_t, 64>;

struct BundleFile {
    std::string name; // opt/tstat/...
    uint64_t size = 0;
    uint32_t mode = 0; // as its tar header gives it
    Sha256 sha{};
};

// What a checked bundle holds.
struct Bundle {
    std::vector<std::string> directories; // opt/tstat/ and below, as named
    std::vector<BundleFile> files;        // the MANIFEST and its signature among them
    std::string manifest;
    Manifest listed;     // the MANIFEST read
    std::string version; // the MANIFEST's "# version:" line
    PublicKey key{};     // the version's update-key.pub
};

// An entry to write: type '0' a file, '5' a directory, anything else as
// given (links, devices: for tests of the checks).
struct TarItem {
    std::string name;
    char type = '0';
    std::string data;
    uint32_t mode = 0644;
    std::string link;
};

// "" when the archive (the hand-over file's bytes) may be installed, else
// why not, e.g. "signature does not match". Fills *out when it may.
std::string checkBundle(const std::string &archive, const PublicKey &key, Bundle *out);

// Writes the checked archive's files into dir (made; it must not exist), each
// synchronised, named without its opt/tstat/ prefix. "" or why it failed.
std::string unpackBundle(const std::string &archive, const Bundle &checked, const std::string &dir);

// A bzip2-compressed ustar archive of the items, in their order.
std::string writeArchive(const std::vector<TarItem> &items);

// A regular file of at most max bytes, whole.
bool readWhole(const std::string &path, size_t max, std::string *out);

Sha256 sha256(const std::string &data);
std::string hex(const uint8_t *data, size_t size);
// One line of hex (the key and signature files); false when it is not
// exactly size bytes of it.
bool fromHex(const std::string &text, uint8_t *out, size_t size);

// Ed25519 over the MANIFEST: the signature file's text (hex and a line end).
std::string signManifest(const std::string &manifest, const SecretKey &key);
bool keyPair(PublicKey *pub, SecretKey *secret);
// A public key file's text read as a key: false when it is not one line of
// 64 hex digits naming a point of the curve.
bool readPublicKey(const std::string &text, PublicKey *out);
PublicKey publicOf(const SecretKey &secret);

// Packs a board image unpacked in stageDir (stageDir/opt/tstat/...) as a
// bundle at out, its MANIFEST's version and security version set to those
// given unless they are empty, signed with key. Every file and directory
// must match the MANIFEST, modes too. "" or why not.
std::string packBundle(const std::string &stageDir, const SecretKey &key,
                       const std::string &version, const std::string &out,
                       const std::string &security = "");
