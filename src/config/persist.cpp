// Persistent configuration record: the three flash regions, the start-up
// load with its range checks, its factory fallback and the built-in defaults
// behind it, the save with its copy and the start-up's write-back of either,
// the factory restore and the write-once serial-number record.
#include "config/persist.h"

#include "config/data_dict.h"
#include "config/factory_image.h"
#include "config/sys_cfg_image.h"
#include "core/util.h"
#include "platform/platform.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

namespace {

// The user region holds the record at its start and, in an erase block of
// its own, a copy of it. Each is followed by a seal: a generation number, one
// more at every save, and the CRC-32 of the record and the generation (both
// little-endian). Flash is written by erasing whole blocks and programming
// them again, so a power cut can leave any block the write touched erased;
// with the copy in other blocks than the record, a save that writes the copy
// first and the record after it, committing each, always leaves either a
// whole copy of the new record or the old record untouched at the start. Of
// the two, and of copies left where an earlier erase size put them, the
// highest generation wins; a start-up writes back whichever of record and
// copy it found damaged or behind, so that one more damage cannot take both.
constexpr size_t CHECK_WORD_SIZE = 4;
constexpr size_t GENERATION_SIZE = 4;
constexpr size_t SEAL_SIZE = GENERATION_SIZE + CHECK_WORD_SIZE;
constexpr size_t SEALED_SIZE = TSTAT_SYS_CFG_SIZE + SEAL_SIZE;
// A copy written before generations were kept: the record and its CRC-32,
// generation 0.
constexpr size_t UNNUMBERED_COPY_SIZE = TSTAT_SYS_CFG_SIZE + CHECK_WORD_SIZE;
// The copy's place on flash whose erase blocks are this small or smaller.
constexpr size_t USER_COPY_LEAST_OFFSET = 4096;
// The erase block assumed when the kernel does not tell it: the largest of
// NOR and NAND flash as boards carry them, so that the copy lies beyond the
// record's block whatever the flash.
constexpr size_t DEFAULT_ERASE_SIZE = 256 * 1024;
// The largest erase block taken from the kernel; the copy lies at a power of
// two from USER_COPY_LEAST_OFFSET to this.
constexpr size_t MAX_ERASE_SIZE = 16 * 1024 * 1024;
constexpr int USER_COPY_PLACES = 13;
static_assert(USER_COPY_LEAST_OFFSET << (USER_COPY_PLACES - 1) == MAX_ERASE_SIZE);

// ---- Ranges of the record's fields -------------------------------------------------

// A field of the record (or of a setpoint record) and the values it may hold.
struct FieldRange {
    const char *name;
    size_t offset;
    uint8_t size; // bytes, little-endian: 1, 2 or 4
    bool isSigned;
    int64_t min;
    int64_t max;
};

#define U(field, lo, hi)                                                                           \
    {                                                                                              \
#field, offsetof(TstatSysCfgPersistMem_t, field), sizeof(TstatSysCfgPersistMem_t::field),  \
            false, lo, hi                                                                          \
    }
#define S(field, lo, hi)                                                                           \
    { #field, offsetof(TstatSysCfgPersistMem_t, field), 4, true, lo, hi }

constexpr int64_t c_SetPointMin = CFG_LOWEST_SETPOINT;
constexpr int64_t c_SetPointMax = CFG_HIGHEST_SETPOINT;
constexpr int64_t c_PercentMax = fprConst(100, 0);

// The ranges the pages, the bus and the control give each field. Fields not
// listed take any value: the bus address, the heat-pump switch-over time, the
// backlight time-out (the bus sets any 16-bit value), the times, the clock's
// year and the reserved bytes.
// clang-format off
constexpr FieldRange c_FieldRanges[] = {
    U(lockoutCfg.buttonLockout, 0, 1),
    U(lockoutCfg.modeLock, 0, 1),
    U(lockoutCfg.modeLockTime, 0, 60),
    U(lockoutCfg.fanLock, 0, 1),
    U(lockoutCfg.fanLockTime, 0, 60),
    U(lockoutCfg.tempLock, 0, 1),
    U(lockoutCfg.tempLockTimeLimit, 0, 60),
    U(lockoutCfg.tempLockRangeLimit, 0, 10),
    U(securityCode, 0, 9999),
    U(tstatCfg.systemType, 0, SYSTEM_TYPE_COUNT - 1),
    S(tstatCfg.setpointMargin, 0, fprConst(5, 0)),
    S(tstatCfg.firstStageDiff, fprConst(0, 25000000), fprConst(1, 0)),
    S(tstatCfg.secondStageDiff, fprConst(0, 50000000), fprConst(3, 0)),
    S(tstatCfg.deadband, fprConst(1, 0), fprConst(2, 50000000)),
    S(tstatCfg.tempOffset, fprConst(-10, 0), fprConst(10, 0)),
    U(tstatCfg.externalTempSensor, 0, EXT_TEMP_SENSOR_OFF),
    U(tstatCfg.internalTempSensor, 0, 1),
    U(tstatCfg.humiditySensor, 0, 1),
    U(tstatCfg.cycleRate, 3, 6),
    U(bkLightCtl.activeBrightness, 0, BACKLIGHT_ACTIVE_HIGH),
    U(bkLightCtl.inactiveBrightness, 0, 1),
    U(hvacSettings.fanState, 0, 1),
    U(hvacSettings.fanSpeed, 0, FAN_SPEED_LOW),
    U(hvacSettings.hvacState, 0, HVAC_STATE_EMERGENCY_HEAT),
    S(hvacSettings.balancePoint, fprConst(-10, 0), fprConst(10, 0)),
    U(hvacSettings.fossilFuelType, 0, 1),
    S(hvacSettings.humidityBandOffset, -c_PercentMax, c_PercentMax),
    S(hvacSettings.humidityHysteresis, 0, c_PercentMax),
    U(tstatFmtSettings.tempScale, 0, 1),
    U(tstatFmtSettings.dateFormat, 0, DATE_FORMAT_YY_MM_DD),
    U(tstatFmtSettings.timeFormat, 0, 1),
    U(featureCtl.currentForecastState, 0, 1),
    U(featureCtl.fiveDayForecastState, 0, 1),
    U(featureCtl.weatherAlertFeature, 0, 1),
    U(featureCtl.filterChangeState, 0, 1),
    U(featureCtl.scrSaverState, 0, 1),
    U(tstatMode.mode, 0, TSTAT_MODE_PERMANENT_HOLD),
    U(humidifyState, 0, HUMIDIFY_STATE_OFF),
    // 180 days.
    U(filterChangeMaxHourTime, 0, 4320),
    // Computed from the indoor temperature (-50 to 110 C, less the offset)
    // and a setpoint.
    S(recoveryTemp[0], fprConst(-60, 0), fprConst(120, 0)),
    S(recoveryTemp[1], fprConst(-60, 0), fprConst(120, 0)),
    U(humidityOffset, 0, 50),
    U(helpModeState, 0, 1),
    U(comfortRecoveryModeState, 0, 1),
};
#undef U
#undef S

#define SP(field, size, isSigned, lo, hi)                                                          \
    { #field, offsetof(TstatSetPoint_t, field), size, isSigned, lo, hi }
// Every setpoint record; a vacation's start hour and minute carry its days
// and hours, any byte.
constexpr FieldRange c_SetPointRanges[] = {
    SP(heatSetPoint, 4, true, c_SetPointMin, c_SetPointMax),
    SP(coolSetPoint, 4, true, c_SetPointMin, c_SetPointMax),
    SP(humidifySetPoint, 4, true, 0, c_PercentMax),
    SP(dehumidifySetPoint, 4, true, 0, c_PercentMax),
    SP(startHour, 1, false, 0, 23),
    SP(startMinute, 1, false, 0, 59),
};
#undef SP
// clang-format on
constexpr size_t c_SetPointTemperatureRanges = 4;

// An unsigned little-endian value of 1 to 4 bytes.
uint32_t getLE(const uint8_t *p, size_t size) {
    uint32_t v = 0;
    for (size_t i = size; i > 0; i--) {
        v = v << 8 | p[i - 1];
    }
    return v;
}

int64_t fieldValue(const uint8_t *record, const FieldRange &f) {
    uint32_t v = getLE(record + f.offset, f.size);
    return f.isSigned ? static_cast<int64_t>(static_cast<int32_t>(v)) : static_cast<int64_t>(v);
}

bool inRange(const uint8_t *record, const FieldRange &f) {
    int64_t v = fieldValue(record, f);
    return v >= f.min && v <= f.max;
}

// Checks every field of a record against its range. Returns true, or false
// with the first field out of range named in name.
bool recordInRange(const TstatSysCfgPersistMem_t &record, char *name, size_t len) {
    const auto *bytes = reinterpret_cast<const uint8_t *>(&record);
    for (const FieldRange &f : c_FieldRanges) {
        if (!inRange(bytes, f)) {
            snprintf(name, len, "%s", f.name);
            return false;
        }
    }
    struct Checked {
        const TstatSetPoint_t *record;
        size_t ranges;
    };
    constexpr size_t all = sizeof(c_SetPointRanges) / sizeof(c_SetPointRanges[0]);
    for (int i = 0; i < 2 + TSTAT_DAYS_PER_WEEK * TSTAT_PERIODS_PER_DAY; i++) {
        const int period = i - 2;
        const Checked c =
            i == 0   ? Checked{&record.tstatMode.holdSetPoint, all}
            : i == 1 ? Checked{&record.tstatMode.vacationSetPoint, c_SetPointTemperatureRanges}
                     : Checked{&record.prgSetPnt[period / TSTAT_PERIODS_PER_DAY]
                                    .period[period % TSTAT_PERIODS_PER_DAY],
                               all};
        for (size_t r = 0; r < c.ranges; r++) {
            if (inRange(reinterpret_cast<const uint8_t *>(c.record), c_SetPointRanges[r])) {
                continue;
            }
            if (i < 2) {
                snprintf(name, len, "tstatMode.%s.%s", i == 0 ? "holdSetPoint" : "vacationSetPoint",
                         c_SetPointRanges[r].name);
            } else {
                snprintf(name, len, "prgSetPnt[%d].period[%d].%s", period / TSTAT_PERIODS_PER_DAY,
                         period % TSTAT_PERIODS_PER_DAY, c_SetPointRanges[r].name);
            }
            return false;
        }
    }
    return true;
}

// CRC-32 (IEEE 802.3, reflected) of the copy's record.
uint32_t checkWord(const uint8_t *data, size_t len) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < len; i++) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; bit++) {
            crc = (crc >> 1) ^ ((crc & 1u) != 0 ? 0xEDB88320u : 0u);
        }
    }
    return ~crc;
}

struct RegionDesc {
    PersistRegionId id;
    const char *device;
    int flags;
};

// Each region's device and how it is opened.
constexpr std::array<RegionDesc, 3> c_Regions = {{
    {PERSIST_REGION_FACTORY, "/dev/mtdblock4", O_RDONLY | O_NOCTTY},
    {PERSIST_REGION_USER, "/dev/mtdblock5", O_RDWR | O_SYNC | O_NOCTTY},
    {PERSIST_REGION_SERIAL, "/dev/mtdblock8", O_RDWR | O_SYNC | O_NOCTTY},
}};

int m_FactDefMtdFd = -1;
int m_UserDefMtdFd = -1;
// Erase-block size of the user region's flash, and where the copy lies.
size_t m_UserEraseSize = DEFAULT_ERASE_SIZE;
off_t m_UserCopyOffset = DEFAULT_ERASE_SIZE;
int m_SerNumMtdFd = -1;
// The highest generation sealed in the user region (the last save's).
uint32_t m_Generation = 0;
// What the start-up load found behind in the user region, for
// repairThermostatSysCfg: the record loaded, its generation, and whether the
// record at the start and the copy at its place need writing.
struct Repair {
    bool record;
    bool copy;
    uint32_t generation;
    TstatSysCfgPersistMem_t loaded;
};
Repair m_Repair;

TstatSysCfgPersistMem_t m_TstatSysCfg;
TstatSerialNumberCfg_t m_SerialNumberCfg;

// How a region read ended.
enum ReadResult { READ_OK, READ_EMPTY, READ_SHORT, READ_FAILED };

int *regionFd(PersistRegionId region) {
    switch (region) {
    case PERSIST_REGION_FACTORY:
        return &m_FactDefMtdFd;
    case PERSIST_REGION_USER:
        return &m_UserDefMtdFd;
    case PERSIST_REGION_SERIAL:
        return &m_SerNumMtdFd;
    }
    return nullptr;
}

const RegionDesc *regionDesc(PersistRegionId region) {
    for (const RegionDesc &desc : c_Regions) {
        if (desc.id == region) {
            return &desc;
        }
    }
    return nullptr;
}

// Opens a region's device; -1 (reported) when it cannot be opened.
int openRegion(const RegionDesc &desc) {
    int fd = platformOpenDevice(desc.device, desc.flags);
    if (fd < 0) {
        printf("ERROR: cannot open %s: %s\n", desc.device, strerror(errno));
    }
    return fd;
}

void closeFd(int *fd) {
    if (*fd >= 0) {
        close(*fd);
    }
    *fd = -1;
}

// The erase-block size of an MTD block device's flash as the kernel tells
// it (/dev/mtdblockN: /sys/class/mtd/mtdN/erasesize); 0 when it cannot be read.
size_t eraseSizeOf(const char *device) {
    const char *number = strpbrk(device, "0123456789");
    char sysfs[64];
    char path[PATH_MAX];
    if (number == nullptr ||
        snprintf(sysfs, sizeof(sysfs), "/sys/class/mtd/mtd%s/erasesize", number) >=
            static_cast<int>(sizeof(sysfs)) ||
        platformPath(sysfs, path, sizeof(path)) == nullptr) {
        return 0;
    }
    FILE *file = fopen(path, "re");
    if (file == nullptr) {
        return 0;
    }
    unsigned long size = 0;
    bool read = fscanf(file, "%lu", &size) == 1;
    fclose(file);
    // A power of two of at least a sector, as flash erase blocks are.
    return read && size >= 512 && size <= MAX_ERASE_SIZE && (size & (size - 1)) == 0 ? size : 0;
}

// The erase block of the user region's flash, and the copy's place: the
// first erase block after the record's, at byte 4096 at the least.
void findUserCopyPlace() {
    size_t erase = eraseSizeOf(regionDesc(PERSIST_REGION_USER)->device);
    if (erase == 0) {
        printf("The flash's erase block of %s is not known: taking %zu bytes\n",
               regionDesc(PERSIST_REGION_USER)->device, DEFAULT_ERASE_SIZE);
        erase = DEFAULT_ERASE_SIZE;
    }
    size_t recordBlocks = (TSTAT_SYS_CFG_SIZE + erase - 1) / erase * erase;
    m_UserEraseSize = erase;
    m_UserCopyOffset = static_cast<off_t>(std::max(recordBlocks, USER_COPY_LEAST_OFFSET));
}

// Reads exactly `length` bytes from byte `at` of the region; `got`, when
// given, tells how many it read.
ReadResult readRegion(void *dest, PersistRegionId region, size_t length, off_t at = 0,
                      size_t *got = nullptr) {
    size_t ignored = 0;
    size_t &done = got != nullptr ? *got : ignored;
    done = 0;
    int *fd = regionFd(region);
    if (fd == nullptr || *fd < 0 || lseek(*fd, at, SEEK_SET) != at) {
        return READ_FAILED;
    }
    auto *out = static_cast<uint8_t *>(dest);
    while (done < length) {
        ssize_t n = read(*fd, out + done, length - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return READ_FAILED;
        }
        if (n == 0) {
            return done == 0 ? READ_EMPTY : READ_SHORT;
        }
        done += static_cast<size_t>(n);
    }
    return READ_OK;
}

// Writes `length` bytes at byte `at` of a region on flash whose erase blocks
// are `eraseSize` bytes (0: not known).
int writeAll(int fd, const void *src, size_t length, off_t at, size_t eraseSize) {
    if (fd < 0 || lseek(fd, at, SEEK_SET) != at) {
        return -1;
    }
    const auto *in = static_cast<const uint8_t *>(src);
    size_t done = 0;
    while (done < length) {
        ssize_t n = platformFlashWrite(fd, in + done, length - done, eraseSize);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return -1;
        }
        done += static_cast<size_t>(n);
    }
    return 0;
}

// Reads a whole record from a region; 0 only when it is complete and carries `identity`.
int loadRecord(TstatSysCfgPersistMem_t *record, PersistRegionId region, uint32_t identity) {
    if (PersistUtil_RetrieveData(record, region, sizeof(*record)) != 0) {
        return -1;
    }
    return record->tstatSysCfgId == identity ? 0 : -1;
}

// A record read from the user region, with its seal.
struct Found {
    bool complete; // all its bytes were read (and, for a copy, its check word matched)
    bool whole;    // complete, with the user identity and every field in range
    bool sealed;   // its seal matched
    uint32_t generation;
    TstatSysCfgPersistMem_t record;
};

// The record at byte `at` of the user region: the record at the start, or a
// copy, which must carry a seal or (written before seals) its check word.
Found readUserRecord(off_t at, bool isCopy) {
    uint8_t bytes[SEALED_SIZE];
    size_t got = 0;
    readRegion(bytes, PERSIST_REGION_USER, sizeof(bytes), at, &got);
    Found found{};
    found.sealed = got == SEALED_SIZE && getLE(bytes + UNNUMBERED_COPY_SIZE, CHECK_WORD_SIZE) ==
                                             checkWord(bytes, UNNUMBERED_COPY_SIZE);
    found.complete =
        found.sealed || (isCopy ? got >= UNNUMBERED_COPY_SIZE &&
                                      getLE(bytes + TSTAT_SYS_CFG_SIZE, CHECK_WORD_SIZE) ==
                                          checkWord(bytes, TSTAT_SYS_CFG_SIZE)
                                : got >= TSTAT_SYS_CFG_SIZE);
    if (!found.complete) {
        return found;
    }
    found.generation = found.sealed ? getLE(bytes + TSTAT_SYS_CFG_SIZE, GENERATION_SIZE) : 0;
    memcpy(&found.record, bytes, TSTAT_SYS_CFG_SIZE);
    char field[64];
    found.whole = found.record.tstatSysCfgId == TSTAT_SYS_CFG_USER_ID &&
                  recordInRange(found.record, field, sizeof(field));
    return found;
}

// Closing the block device commits its cached flash block.
void commitUserRegion() {
    closeFd(&m_UserDefMtdFd);
    m_UserDefMtdFd = openRegion(*regionDesc(PERSIST_REGION_USER));
}

// Writes a record with its seal at byte `at` of the user region and commits it.
int writeSealed(const void *record, uint32_t generation, off_t at) {
    uint8_t sealed[SEALED_SIZE];
    memcpy(sealed, record, TSTAT_SYS_CFG_SIZE);
    for (size_t i = 0; i < GENERATION_SIZE; i++) {
        sealed[TSTAT_SYS_CFG_SIZE + i] = static_cast<uint8_t>(generation >> (8 * i));
    }
    const uint32_t check = checkWord(sealed, UNNUMBERED_COPY_SIZE);
    for (size_t i = 0; i < CHECK_WORD_SIZE; i++) {
        sealed[UNNUMBERED_COPY_SIZE + i] = static_cast<uint8_t>(check >> (8 * i));
    }
    int result = writeAll(m_UserDefMtdFd, sealed, sizeof(sealed), at, m_UserEraseSize);
    commitUserRegion();
    return result;
}

// Writes the copy, then the record at the start of the region, both of the
// next generation. A copy that cannot be written still leaves the record the
// newest.
int storeUserRecord(const void *src) {
    m_Generation++;
    if (writeSealed(src, m_Generation, m_UserCopyOffset) != 0) {
        puts("ERROR: cannot write the copy of the user configuration");
    }
    return writeSealed(src, m_Generation, 0);
}

} // namespace

TstatSysCfgPersistMem_t &tstatSysCfgImage() {
    return m_TstatSysCfg;
}

int PersistUtil_Init() {
    for (const RegionDesc &desc : c_Regions) {
        int *fd = regionFd(desc.id);
        closeFd(fd);
        *fd = openRegion(desc);
    }
    if (m_UserDefMtdFd >= 0) {
        findUserCopyPlace();
    }
    // Start-up can still load a configuration when either record region is
    // there; the serial region plays no part in it.
    return (m_FactDefMtdFd < 0 && m_UserDefMtdFd < 0) ? -1 : 0;
}

int PersistUtil_RetrieveData(void *dest, PersistRegionId region, size_t length) {
    return readRegion(dest, region, length) == READ_OK ? 0 : -1;
}

int PersistUtil_StoreData(PersistRegionId region, const void *src, size_t length) {
    if (region != PERSIST_REGION_USER && region != PERSIST_REGION_SERIAL) {
        return -1;
    }
    if (region == PERSIST_REGION_SERIAL) {
        return writeAll(m_SerNumMtdFd, src, length, 0, 0);
    }
    if (length == TSTAT_SYS_CFG_SIZE) {
        return storeUserRecord(src);
    }
    int result = writeAll(m_UserDefMtdFd, src, length, 0, m_UserEraseSize);
    commitUserRegion();
    return result;
}

namespace {

// The factory record when it is whole, a factory record, and every field in
// range: 0. A factory record out of range is replaced by the defaults built
// into the program, with a message: 1. No factory record: -1.
int loadFactoryRecord(TstatSysCfgPersistMem_t *record) {
    if (loadRecord(record, PERSIST_REGION_FACTORY, TSTAT_SYS_CFG_FACTORY_ID) != 0) {
        return -1;
    }
    char field[64];
    if (recordInRange(*record, field, sizeof(field))) {
        return 0;
    }
    printf("ERROR: factory configuration: %s out of range: using the built-in defaults\n", field);
    buildFactoryImage(FactoryOptions{.madeAt = util_time(nullptr)}, record);
    return 1;
}

} // namespace

int initThermostatSysCfg() {
    m_Repair = Repair{};
    const Found atStart = readUserRecord(0, false);
    m_Generation = atStart.sealed ? atStart.generation : 0;
    // The newest whole record; of equal generations a copy, as a copy
    // written before seals is newer than its record when they differ.
    const Found *newest = atStart.whole ? &atStart : nullptr;
    std::array<Found, USER_COPY_PLACES> copies;
    const Found *here = nullptr;
    for (int i = 0; i < USER_COPY_PLACES; i++) {
        const auto at = static_cast<off_t>(USER_COPY_LEAST_OFFSET << i);
        copies[i] = readUserRecord(at, true);
        const Found &copy = copies[i];
        m_Generation = copy.sealed ? std::max(m_Generation, copy.generation) : m_Generation;
        here = at == m_UserCopyOffset ? &copy : here;
        if (copy.whole && (newest == nullptr || copy.generation >= newest->generation)) {
            newest = &copy;
        }
    }
    if (newest != nullptr) {
        const bool recordBehind =
            !atStart.whole || memcmp(&atStart.record, &newest->record, sizeof(newest->record)) != 0;
        if (newest != &atStart && recordBehind) {
            puts("The user configuration was cut short while it was saved: loading its copy");
        }
        m_Repair = Repair{recordBehind,
                          here == nullptr || !here->whole ||
                              memcmp(&here->record, &newest->record, sizeof(newest->record)) != 0,
                          newest->generation, newest->record};
        m_TstatSysCfg = newest->record;
        return 0;
    }
    TstatSysCfgPersistMem_t loaded;
    char field[64];
    if (atStart.complete && atStart.record.tstatSysCfgId == TSTAT_SYS_CFG_USER_ID &&
        !recordInRange(atStart.record, field, sizeof(field))) {
        printf("ERROR: user configuration: %s out of range\n", field);
    }
    puts("No valid user configuration: loading the factory defaults");
    if (loadFactoryRecord(&loaded) >= 0) {
        m_TstatSysCfg = loaded;
        return 0;
    }
    // The thermostat still runs on a configuration it can control with.
    puts("ERROR: no factory configuration: using the built-in defaults");
    buildFactoryImage(FactoryOptions{.madeAt = util_time(nullptr)}, &m_TstatSysCfg);
    return -1;
}

int repairThermostatSysCfg() {
    const Repair repair = m_Repair;
    m_Repair = Repair{};
    int result = 0;
    // Only what is behind is written, never what the record was loaded
    // from, which so stays whole meanwhile.
    if (repair.record && writeSealed(&repair.loaded, repair.generation, 0) != 0) {
        puts("ERROR: cannot write back the user configuration");
        result = -1;
    }
    if (repair.copy && writeSealed(&repair.loaded, repair.generation, m_UserCopyOffset) != 0) {
        puts("ERROR: cannot write the copy of the user configuration");
        result = -1;
    }
    return result;
}

int saveThermostatSysCfg() {
    if (takeModeChangeFlag() != 0) {
        reportModeSaved();
    }
    m_TstatSysCfg.tstatSysCfgId = TSTAT_SYS_CFG_USER_ID;
    return PersistUtil_StoreData(PERSIST_REGION_USER, &m_TstatSysCfg, sizeof(m_TstatSysCfg));
}

int restoreTstatSysCfgFactoryDefault() {
    TstatSysCfgPersistMem_t factory;
    if (loadFactoryRecord(&factory) < 0) {
        return -1;
    }
    factory.tstatSysCfgId = TSTAT_SYS_CFG_USER_ID;
    m_TstatSysCfg = factory;
    return PersistUtil_StoreData(PERSIST_REGION_USER, &m_TstatSysCfg, sizeof(m_TstatSysCfg));
}

void copyThermostatSysCfg(TstatSysCfgPersistMem_t *out) {
    *out = m_TstatSysCfg;
}

uint16_t serialNumberChecksum(const uint8_t serial[TSTAT_SERIAL_NUMBER_LEN]) {
    uint16_t sum = 0;
    for (size_t i = 0; i < TSTAT_SERIAL_NUMBER_LEN; i++) {
        sum = static_cast<uint16_t>(sum + serial[i]);
    }
    return sum;
}

int serialNumberRecordValid(const TstatSerialNumberCfg_t *record) {
    uint16_t sum = serialNumberChecksum(record->serialNumber);
    return record->checksum == sum && record->checksumComplement == static_cast<uint16_t>(~sum) ? 1
                                                                                                : 0;
}

int getSerialNumber(uint8_t dest[TSTAT_SERIAL_NUMBER_LEN]) {
    TstatSerialNumberCfg_t record;
    switch (readRegion(&record, PERSIST_REGION_SERIAL, sizeof(record))) {
    case READ_OK:
        break;
    case READ_EMPTY:
        // An empty region is blank flash, which reads as erased bytes.
        memset(&record, 0xFF, sizeof(record));
        break;
    case READ_SHORT:
    case READ_FAILED:
        return -1;
    }
    m_SerialNumberCfg = record;
    memcpy(dest, record.serialNumber, TSTAT_SERIAL_NUMBER_LEN);
    return serialNumberRecordValid(&record) ? 0 : -2;
}

int setSerialNumber(const uint8_t serial[TSTAT_SERIAL_NUMBER_LEN]) {
    uint8_t stored[TSTAT_SERIAL_NUMBER_LEN];
    int status = getSerialNumber(stored);
    if (status != -2) {
        // 0: a valid serial is kept (write-once); -1: the region cannot be read.
        return status;
    }
    TstatSerialNumberCfg_t record;
    memcpy(record.serialNumber, serial, TSTAT_SERIAL_NUMBER_LEN);
    record.checksum = serialNumberChecksum(serial);
    record.checksumComplement = static_cast<uint16_t>(~record.checksum);
    int result = PersistUtil_StoreData(PERSIST_REGION_SERIAL, &record, sizeof(record));
    if (result == 0) {
        m_SerialNumberCfg = record;
    }
    return result;
}

namespace {

struct FieldOffset {
    const char *name;
    size_t offset;
};

#define TSC_FIELD(field)                                                                           \
    { #field, offsetof(TstatSysCfgPersistMem_t, field) }
constexpr std::array<FieldOffset, 20> c_DumpedFields = {{
    TSC_FIELD(tstatSysCfgId),
    TSC_FIELD(lockoutCfg),
    TSC_FIELD(securityCode),
    TSC_FIELD(korabusAddress),
    TSC_FIELD(tstatCfg),
    TSC_FIELD(bkLightCtl),
    TSC_FIELD(hvacSettings),
    TSC_FIELD(tstatFmtSettings),
    TSC_FIELD(featureCtl),
    TSC_FIELD(tstatMode),
    TSC_FIELD(prgSetPnt),
    TSC_FIELD(humidifyState),
    TSC_FIELD(filterChangeMaxHourTime),
    TSC_FIELD(prgSetPnt[0]),
    TSC_FIELD(prgSetPnt[1]),
    TSC_FIELD(prgSetPnt[2]),
    TSC_FIELD(prgSetPnt[3]),
    TSC_FIELD(prgSetPnt[4]),
    TSC_FIELD(prgSetPnt[5]),
    TSC_FIELD(prgSetPnt[6]),
}};
#undef TSC_FIELD

} // namespace

void tscDumpStructOffsets() {
    for (const FieldOffset &field : c_DumpedFields) {
        printf("%s->%s: 0x%04x (%d)\n", "TstatSysCfgPersistMem_t", field.name,
               static_cast<unsigned>(field.offset), static_cast<int>(field.offset));
    }
}

void PersistUtil_Reset() {
    closeFd(&m_FactDefMtdFd);
    closeFd(&m_UserDefMtdFd);
    closeFd(&m_SerNumMtdFd);
    m_TstatSysCfg = TstatSysCfgPersistMem_t{};
    m_SerialNumberCfg = TstatSerialNumberCfg_t{};
    m_UserEraseSize = DEFAULT_ERASE_SIZE;
    m_UserCopyOffset = DEFAULT_ERASE_SIZE;
    m_Generation = 0;
    m_Repair = Repair{};
}
