// Update bundles: reading and checking the archive, unpacking it, writing
// and signing it. The tar headers are read here, record by record, from the
// bzip2 stream (libbz2); hashes and signatures are libsodium's.
#include "bundle.h"

#include "host/file_descriptor.h"

#include <bzlib.h>
#include <sodium.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr size_t c_Record = 512;
// Bytes past the data that the stream may unpack to: the headers, the
// padding of each file and the archive's closing zero records.
constexpr uint64_t c_StreamSlack = UPDATE_ENTRIES_MAX * 2 * c_Record + 64 * 1024;

// Fields of a ustar header: offset and size.
struct Field {
    size_t at;
    size_t size;
};
constexpr Field c_Name{0, 100};
constexpr Field c_Mode{100, 8};
constexpr Field c_Size{124, 12};
constexpr Field c_Mtime{136, 12};
constexpr Field c_Checksum{148, 8};
constexpr size_t c_Type = 156;
constexpr Field c_Link{157, 100};
constexpr Field c_Magic{257, 8};
constexpr Field c_Prefix{345, 155};

std::string field(const uint8_t *h, Field f) {
    const char *p = reinterpret_cast<const char *>(h + f.at);
    return std::string(p, strnlen(p, f.size));
}

// An octal number field: blanks, digits, then a blank or NUL. False for
// anything else, base-256 numbers among them.
bool octal(const uint8_t *h, Field f, uint64_t *out) {
    size_t i = f.at;
    size_t end = f.at + f.size;
    while (i < end && h[i] == ' ') {
        i++;
    }
    uint64_t v = 0;
    size_t digits = 0;
    for (; i < end && h[i] >= '0' && h[i] <= '7'; i++, digits++) {
        v = v * 8 + (h[i] - '0');
    }
    if (digits == 0 || (i < end && h[i] != ' ' && h[i] != '\0')) {
        return false;
    }
    *out = v;
    return true;
}

// The bzip2 stream of an archive in memory, read as exact counts of bytes.
class Bunzip {
  public:
    explicit Bunzip(const std::string &in) {
        m_ok = BZ2_bzDecompressInit(&m_s, 0, 0) == BZ_OK;
        m_s.next_in = const_cast<char *>(in.data());
        m_s.avail_in = static_cast<unsigned>(in.size());
    }
    ~Bunzip() { BZ2_bzDecompressEnd(&m_s); }
    Bunzip(const Bunzip &) = delete;
    Bunzip &operator=(const Bunzip &) = delete;

    // Exactly n bytes into out (nullptr: passed over). "" or why not.
    std::string read(uint8_t *out, size_t n) {
        while (n > 0) {
            if (m_pos == m_len) {
                std::string why = fill();
                if (!why.empty()) {
                    return why;
                }
                if (m_len == 0) {
                    return "the archive is truncated";
                }
            }
            size_t take = std::min(n, m_len - m_pos);
            if (out != nullptr) {
                memcpy(out, m_buf + m_pos, take);
                out += take;
            }
            m_pos += take;
            n -= take;
        }
        return "";
    }

    // After the archive's closing record: only zeros to the stream's end,
    // then at most the download's padding.
    std::string finish() {
        for (;;) {
            if (std::any_of(m_buf + m_pos, m_buf + m_len, [](char c) { return c != 0; })) {
                return "data after the archive's end";
            }
            m_pos = m_len;
            if (m_end) {
                break;
            }
            std::string why = fill();
            if (!why.empty()) {
                return why;
            }
        }
        const char *rest = m_s.next_in;
        if (m_s.avail_in > 127 ||
            std::any_of(rest, rest + m_s.avail_in, [](char c) { return c != 0x1A; })) {
            return "data after the archive's end";
        }
        return "";
    }

  private:
    // The next piece of the stream into m_buf (none at its end).
    std::string fill() {
        m_pos = 0;
        m_len = 0;
        if (!m_ok) {
            return "out of memory";
        }
        while (m_len == 0 && !m_end) {
            if (m_s.avail_in == 0) {
                return "the archive is truncated";
            }
            m_s.next_out = m_buf;
            m_s.avail_out = sizeof(m_buf);
            int rc = BZ2_bzDecompress(&m_s);
            m_len = sizeof(m_buf) - m_s.avail_out;
            if (rc == BZ_STREAM_END) {
                m_end = true;
            } else if (rc == BZ_DATA_ERROR_MAGIC) {
                return "not a bzip2 archive";
            } else if (rc != BZ_OK) {
                return rc == BZ_MEM_ERROR ? "out of memory"
                                          : "the archive is damaged (bzip2 data error)";
            }
            m_total += m_len;
            if (m_total > UPDATE_TOTAL_MAX + c_StreamSlack) {
                return "more than " + std::to_string(UPDATE_TOTAL_MAX) + " bytes unpacked";
            }
        }
        return "";
    }

    bz_stream m_s{};
    bool m_ok = false;
    bool m_end = false;
    char m_buf[64 * 1024];
    size_t m_pos = 0;
    size_t m_len = 0;
    uint64_t m_total = 0;
};

struct Entry {
    std::string name; // without a directory's closing slash
    bool directory = false;
    uint64_t size = 0;
    uint32_t mode = 0;
};

std::string typeRule(const std::string &name, char type) {
    switch (type) {
    case '0':
    case '\0':
    case '5':
        return "";
    case '1':
        return name + ": a hard link";
    case '2':
        return name + ": a symbolic link";
    case '3':
    case '4':
        return name + ": a device node";
    case '6':
        return name + ": a FIFO";
    default:
        return name + ": an entry of type '" + std::string(1, type) +
               "' (only files and directories are installed)";
    }
}

std::string parseHeader(const uint8_t *h, Entry *e) {
    uint64_t stored = 0;
    unsigned sum = 0;
    for (size_t i = 0; i < c_Record; i++) {
        sum += i >= c_Checksum.at && i < c_Checksum.at + c_Checksum.size ? ' ' : h[i];
    }
    std::string magic = field(h, c_Magic);
    if (magic.rfind("ustar", 0) != 0 || !octal(h, c_Checksum, &stored) || stored != sum) {
        return "the archive is damaged (not a tar header)";
    }
    std::string name = field(h, c_Name);
    std::string prefix = magic == "ustar" ? field(h, c_Prefix) : "";
    if (!prefix.empty()) {
        name = prefix + "/" + name;
    }
    char type = static_cast<char>(h[c_Type]);
    e->directory = type == '5';
    if (e->directory && name.size() > 1 && name.back() == '/') {
        name.pop_back();
    }
    e->name = name;
    std::string why = nameRule(name, e->directory);
    if (why.empty()) {
        why = typeRule(name, type);
    }
    if (!why.empty()) {
        return why;
    }
    uint64_t mode = 0;
    if (!octal(h, c_Size, &e->size) || !octal(h, c_Mode, &mode)) {
        return name + ": larger than " + std::to_string(UPDATE_FILE_MAX) + " bytes";
    }
    e->mode = static_cast<uint32_t>(mode);
    if (e->directory && e->size != 0) {
        return "the archive is damaged (" + name + ": a directory with data)";
    }
    return "";
}

using Visit = std::function<std::string(const Entry &, Bunzip &)>;

// Every entry of the archive through the rules, then to visit, which reads
// exactly the entry's data. "" or the first reason to refuse.
std::string walk(const std::string &archive, const Visit &visit) {
    if (archive.empty()) {
        return "the file is empty";
    }
    if (archive.size() > UPDATE_ARCHIVE_MAX) {
        return "the archive is larger than " + std::to_string(UPDATE_ARCHIVE_MAX) + " bytes";
    }
    if (archive.compare(0, 3, "BZh") != 0) {
        return "not a bzip2 archive";
    }
    Bunzip in(archive);
    std::set<std::string> names;
    uint64_t total = 0;
    uint8_t h[c_Record];
    for (;;) {
        std::string why = in.read(h, sizeof(h));
        if (!why.empty()) {
            return why;
        }
        if (std::all_of(h, h + sizeof(h), [](uint8_t b) { return b == 0; })) {
            return in.finish();
        }
        Entry e;
        why = parseHeader(h, &e);
        if (!why.empty()) {
            return why;
        }
        if (names.size() >= UPDATE_ENTRIES_MAX) {
            return "more than " + std::to_string(UPDATE_ENTRIES_MAX) + " entries";
        }
        if (!names.insert(e.name).second) {
            return e.name + ": twice in the archive";
        }
        if (e.size > UPDATE_FILE_MAX) {
            return e.name + ": larger than " + std::to_string(UPDATE_FILE_MAX) + " bytes";
        }
        total += e.size;
        if (total > UPDATE_TOTAL_MAX) {
            return "more than " + std::to_string(UPDATE_TOTAL_MAX) + " bytes unpacked";
        }
        why = visit(e, in);
        if (why.empty()) {
            why = in.read(nullptr, (c_Record - e.size % c_Record) % c_Record);
        }
        if (!why.empty()) {
            return why;
        }
    }
}

// The data of a file entry in pieces, each to take.
std::string eachPiece(const Entry &e, Bunzip &in,
                      const std::function<std::string(const uint8_t *, size_t)> &take) {
    uint8_t piece[16 * 1024];
    for (uint64_t left = e.size; left > 0;) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(left, sizeof(piece)));
        std::string why = in.read(piece, n);
        if (why.empty()) {
            why = take(piece, n);
        }
        if (!why.empty()) {
            return why;
        }
        left -= n;
    }
    return "";
}

} // namespace

bool readWhole(const std::string &path, size_t max, std::string *out) {
    FileDescriptor fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (fd.get() < 0 || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return false;
    }
    // To its end: the sizes /proc and /sys give are no measure.
    out->clear();
    char buf[16 * 1024];
    for (;;) {
        ssize_t got = ::read(fd.get(), buf, sizeof(buf));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0 || out->size() + static_cast<size_t>(got) > max) {
            return false;
        }
        if (got == 0) {
            return true;
        }
        out->append(buf, static_cast<size_t>(got));
    }
}

namespace {

bool writeAll(int fd, const uint8_t *data, size_t n) {
    while (n > 0) {
        ssize_t put = write(fd, data, n);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return false;
        }
        data += put;
        n -= static_cast<size_t>(put);
    }
    return true;
}

const std::vector<std::string> c_Required = {"opt/tstat/tstat", "opt/tstat/tstat-start",
                                             "opt/tstat/tstat-update", "opt/tstat/update-key.pub"};

} // namespace

Sha256 sha256(const std::string &data) {
    Sha256 out;
    crypto_hash_sha256(out.data(), reinterpret_cast<const unsigned char *>(data.data()),
                       data.size());
    return out;
}

std::string hex(const uint8_t *data, size_t size) {
    std::string out(size * 2 + 1, '\0');
    sodium_bin2hex(out.data(), out.size(), data, size);
    out.pop_back();
    return out;
}

bool fromHex(const std::string &text, uint8_t *out, size_t size) {
    std::string t = text;
    if (!t.empty() && t.back() == '\n') {
        t.pop_back();
    }
    size_t got = 0;
    return t.size() == size * 2 &&
           sodium_hex2bin(out, size, t.data(), t.size(), nullptr, &got, nullptr) == 0 &&
           got == size;
}

namespace {

// One entry of the archive into b: its hash, and the MANIFEST, its
// signature and the public key kept whole.
std::string collect(const Entry &e, Bunzip &in, Bundle *b, std::string *signature,
                    std::string *key) {
    if (e.directory) {
        b->directories.push_back(e.name);
        return "";
    }
    std::string *kept = e.name == UPDATE_MANIFEST    ? &b->manifest
                        : e.name == UPDATE_SIGNATURE ? signature
                        : e.name == UPDATE_KEY       ? key
                                                     : nullptr;
    if (kept != nullptr && e.size > UPDATE_MANIFEST_MAX) {
        return e.name + ": larger than " + std::to_string(UPDATE_MANIFEST_MAX) + " bytes";
    }
    crypto_hash_sha256_state st;
    crypto_hash_sha256_init(&st);
    std::string r = eachPiece(e, in, [&](const uint8_t *p, size_t n) {
        crypto_hash_sha256_update(&st, p, n);
        if (kept != nullptr) {
            kept->append(reinterpret_cast<const char *>(p), n);
        }
        return std::string();
    });
    BundleFile f{e.name, e.size, e.mode & 07777, {}};
    crypto_hash_sha256_final(&st, f.sha.data());
    b->files.push_back(f);
    return r;
}

bool has(const Bundle &b, const std::string &name) {
    return std::any_of(b.files.begin(), b.files.end(),
                       [&](const BundleFile &f) { return f.name == name; });
}

// The signature, then the MANIFEST it covers read into b.
std::string checkSignature(Bundle *b, const std::string &signature, const PublicKey &key) {
    if (!has(*b, UPDATE_MANIFEST) || !has(*b, UPDATE_SIGNATURE)) {
        return std::string("no ") + (has(*b, UPDATE_MANIFEST) ? UPDATE_SIGNATURE : UPDATE_MANIFEST);
    }
    uint8_t sig[crypto_sign_BYTES];
    if (!fromHex(signature, sig, sizeof(sig)) ||
        crypto_sign_verify_detached(sig,
                                    reinterpret_cast<const unsigned char *>(b->manifest.data()),
                                    b->manifest.size(), key.data()) != 0) {
        return "signature does not match";
    }
    std::string why;
    if (!parseManifest(b->manifest, &b->listed, &why)) {
        return why;
    }
    b->version = b->listed.version;
    if (b->version.empty() || b->version.size() > 64 ||
        !std::all_of(b->version.begin(), b->version.end(),
                     [](char c) { return c > ' ' && c < 127; })) {
        return "the MANIFEST names no version";
    }
    if (!b->listed.hasSecurity) {
        return "the MANIFEST names no security version";
    }
    return machineOf(b->listed.target).empty() ? "the MANIFEST names no target" : "";
}

// Every file and directory of the archive as the MANIFEST lists it: its
// SHA-256, its mode, its directory; and every file it lists there.
std::string matchManifest(const Bundle &b) {
    const Manifest &m = b.listed;
    for (const std::string &dir : b.directories) {
        if (dir != "opt/tstat" && m.directories.count(dir) == 0) {
            return dir + ": a directory not in the MANIFEST";
        }
    }
    std::map<std::string, Sha256> listed = m.files;
    for (const BundleFile &f : b.files) {
        if (f.name == UPDATE_MANIFEST || f.name == UPDATE_SIGNATURE) {
            continue;
        }
        auto it = listed.find(f.name);
        if (it == listed.end()) {
            return f.name + ": not in the MANIFEST";
        }
        if (it->second != f.sha) {
            return f.name + ": SHA-256 does not match the MANIFEST";
        }
        if (f.mode != m.modeOf(f.name)) {
            char modes[64];
            snprintf(modes, sizeof(modes), ": mode %04o in the archive, %04o in the MANIFEST",
                     f.mode, m.modeOf(f.name));
            return f.name + modes;
        }
        std::string dir = fs::path(f.name).parent_path().string();
        if (dir != "opt/tstat" && m.directories.count(dir) == 0) {
            return f.name + ": its directory is not in the MANIFEST";
        }
        listed.erase(it);
    }
    if (!listed.empty()) {
        return listed.begin()->first + ": in the MANIFEST but not in the archive";
    }
    return "";
}

} // namespace

bool readPublicKey(const std::string &text, PublicKey *out) {
    PublicKey k;
    if (!fromHex(text, k.data(), k.size()) || crypto_core_ed25519_is_valid_point(k.data()) != 1) {
        return false;
    }
    *out = k;
    return true;
}

std::string checkBundle(const std::string &archive, const PublicKey &key, Bundle *out) {
    Bundle b;
    std::string signature;
    std::string keyText;
    std::string why = walk(archive, [&](const Entry &e, Bunzip &in) {
        return collect(e, in, &b, &signature, &keyText);
    });
    if (why.empty()) {
        why = checkSignature(&b, signature, key);
    }
    if (why.empty()) {
        why = matchManifest(b);
    }
    for (const std::string &name : c_Required) {
        if (why.empty() && !has(b, name)) {
            why = "no " + name + ": the version could not run or be updated";
        }
    }
    if (why.empty() && !readPublicKey(keyText, &b.key)) {
        why = std::string(UPDATE_KEY) + ": not a public key (no later bundle could be checked)";
    }
    if (why.empty()) {
        *out = b;
    }
    return why;
}

std::string unpackBundle(const std::string &archive, const Bundle &checked,
                         const std::string &dir) {
    std::map<std::string, const BundleFile *> files;
    for (const BundleFile &f : checked.files) {
        files[f.name] = &f;
    }
    const size_t skip = strlen(UPDATE_PREFIX);
    std::error_code ec;
    if (fs::exists(dir, ec) || mkdir(dir.c_str(), 0755) != 0) {
        return "cannot make " + dir;
    }
    // The MANIFEST's directories, parents first, each 0755 whatever the umask.
    std::set<std::string> dirs = checked.listed.directories;
    for (const std::string &d : dirs) {
        std::string path = dir + "/" + d.substr(skip);
        if (mkdir(path.c_str(), 0755) != 0 || chmod(path.c_str(), 0755) != 0) {
            return "cannot make " + path + ": " + strerror(errno);
        }
    }
    std::string why = walk(archive, [&](const Entry &e, Bunzip &in) -> std::string {
        auto it = files.find(e.name);
        if (e.directory || it == files.end()) {
            return e.directory ? "" : e.name + ": not checked";
        }
        std::string path = dir + "/" + e.name.substr(skip);
        FileDescriptor fd(
            open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (fd.get() < 0) {
            return "cannot write " + path + ": " + strerror(errno);
        }
        crypto_hash_sha256_state st;
        crypto_hash_sha256_init(&st);
        std::string r = eachPiece(e, in, [&](const uint8_t *p, size_t n) {
            crypto_hash_sha256_update(&st, p, n);
            return writeAll(fd.get(), p, n) ? "" : "cannot write " + path + ": " + strerror(errno);
        });
        Sha256 sha;
        crypto_hash_sha256_final(&st, sha.data());
        if (r.empty() && sha != it->second->sha) {
            r = e.name + ": changed since it was checked";
        }
        if (r.empty() && (fchmod(fd.get(), checked.listed.modeOf(e.name)) != 0 || !fd.closeNow())) {
            r = "cannot write " + path + ": " + strerror(errno);
        }
        return r;
    });
    // Everything on the flash before anyone may choose this slot.
    FileDescriptor d(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (why.empty() && (d.get() < 0 || syncfs(d.get()) != 0)) {
        why = "cannot synchronise " + dir;
    }
    return why;
}

std::string writeArchive(const std::vector<TarItem> &items) {
    std::string tar;
    for (const TarItem &item : items) {
        uint8_t h[c_Record] = {};
        std::string name = item.name;
        std::string prefix;
        if (name.size() > c_Name.size) {
            size_t cut = name.rfind('/', c_Prefix.size);
            prefix = name.substr(0, cut);
            name = name.substr(cut + 1);
        }
        auto put = [&h](Field f, const std::string &text) {
            memcpy(h + f.at, text.data(), std::min(text.size(), f.size));
        };
        auto number = [&h](Field f, uint64_t v) {
            char text[24];
            snprintf(text, sizeof(text), "%0*llo", static_cast<int>(f.size - 1),
                     static_cast<unsigned long long>(v));
            memcpy(h + f.at, text, f.size - 1);
        };
        put(c_Name, name);
        put(c_Prefix, prefix);
        number(c_Mode, item.mode);
        number({108, 8}, 0);
        number({116, 8}, 0);
        number(c_Size, item.type == '0' ? item.data.size() : 0);
        number(c_Mtime, 0);
        h[c_Type] = static_cast<uint8_t>(item.type);
        put(c_Link, item.link);
        memcpy(h + c_Magic.at, "ustar\00000", 8);
        put({265, 32}, "root");
        put({297, 32}, "root");
        number({329, 8}, 0);
        number({337, 8}, 0);
        memset(h + c_Checksum.at, ' ', c_Checksum.size);
        unsigned sum = 0;
        for (uint8_t b : h) {
            sum += b;
        }
        snprintf(reinterpret_cast<char *>(h + c_Checksum.at), c_Checksum.size, "%06o", sum);
        tar.append(reinterpret_cast<const char *>(h), sizeof(h));
        if (item.type == '0') {
            tar += item.data;
            tar.append((c_Record - item.data.size() % c_Record) % c_Record, '\0');
        }
    }
    tar.append(2 * c_Record, '\0');
    std::string out(tar.size() + tar.size() / 100 + 600, '\0');
    auto size = static_cast<unsigned>(out.size());
    if (BZ2_bzBuffToBuffCompress(out.data(), &size, tar.data(), static_cast<unsigned>(tar.size()),
                                 9, 0, 0) != BZ_OK) {
        return "";
    }
    out.resize(size);
    return out;
}

std::string signManifest(const std::string &manifest, const SecretKey &key) {
    uint8_t sig[crypto_sign_BYTES];
    crypto_sign_detached(sig, nullptr, reinterpret_cast<const unsigned char *>(manifest.data()),
                         manifest.size(), key.data());
    return hex(sig, sizeof(sig)) + "\n";
}

bool keyPair(PublicKey *pub, SecretKey *secret) {
    return sodium_init() >= 0 && crypto_sign_keypair(pub->data(), secret->data()) == 0;
}

PublicKey publicOf(const SecretKey &secret) {
    PublicKey pub;
    crypto_sign_ed25519_sk_to_pk(pub.data(), secret.data());
    return pub;
}

namespace {

// The stage's files and directories as tar items, each as the MANIFEST
// lists it (its SHA-256, its mode, its directory). "" or why not.
std::string stageItems(const std::string &base, const Manifest &m, std::vector<TarItem> *items) {
    std::vector<fs::path> paths;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(base, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        paths.push_back(it->path());
    }
    std::sort(paths.begin(), paths.end());
    std::map<std::string, Sha256> listed = m.files;
    for (const fs::path &p : paths) {
        std::string name = "opt/tstat/" + p.lexically_relative(base).string();
        if (name == UPDATE_MANIFEST || name == UPDATE_SIGNATURE) {
            continue;
        }
        fs::file_status st = fs::symlink_status(p);
        if (fs::is_directory(st)) {
            if (m.directories.count(name) == 0) {
                return p.string() + ": a directory not in the MANIFEST";
            }
            items->push_back({name + "/", '5', "", 0755, ""});
            continue;
        }
        std::string data;
        if (!fs::is_regular_file(st) || !readWhole(p.string(), UPDATE_FILE_MAX, &data)) {
            return p.string() + ": not a regular file of at most " +
                   std::to_string(UPDATE_FILE_MAX) + " bytes";
        }
        auto it = listed.find(name);
        bool exec = (st.permissions() & fs::perms::owner_exec) != fs::perms::none;
        if (it == listed.end() || it->second != sha256(data) || exec != (m.modeOf(name) == 0755)) {
            return p.string() + ": does not match the MANIFEST";
        }
        listed.erase(it);
        items->push_back({name, '0', data, m.modeOf(name), ""});
    }
    if (ec || !listed.empty()) {
        return ec ? base + ": " + ec.message() : listed.begin()->first + ": missing";
    }
    return "";
}

} // namespace

std::string packBundle(const std::string &stageDir, const SecretKey &key,
                       const std::string &version, const std::string &out,
                       const std::string &security) {
    std::string base = stageDir + "/opt/tstat";
    std::string manifest;
    if (!readWhole(base + "/MANIFEST", UPDATE_MANIFEST_MAX, &manifest)) {
        return "no " + base + "/MANIFEST";
    }
    if (!version.empty()) {
        if (manifestVersion(manifest).empty()) {
            return base + "/MANIFEST has no version line";
        }
        manifest = withField(manifest, "version", version);
    }
    if (!security.empty()) {
        manifest = withField(manifest, "security", security);
    }
    Manifest m;
    std::string why;
    if (!parseManifest(manifest, &m, &why)) {
        return why;
    }
    std::vector<TarItem> items = {{"opt/tstat/", '5', "", 0755, ""}};
    why = stageItems(base, m, &items);
    if (!why.empty()) {
        return why;
    }
    items.push_back({UPDATE_MANIFEST, '0', manifest, 0644, ""});
    items.push_back({UPDATE_SIGNATURE, '0', signManifest(manifest, key), 0644, ""});
    std::string archive = writeArchive(items);
    std::string tmp = out + ".new";
    FileDescriptor fd(open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (archive.empty() || fd.get() < 0 ||
        !writeAll(fd.get(), reinterpret_cast<const uint8_t *>(archive.data()), archive.size()) ||
        !fd.closeNow() || rename(tmp.c_str(), out.c_str()) != 0) {
        return "cannot write " + out;
    }
    return "";
}
