// Persistent configuration record: the three flash regions, the start-up
// load with factory fallback, the save, the factory restore and the
// write-once serial-number record.
#include "config/persist.h"

#include "config/data_dict.h"
#include "config/sys_cfg_image.h"
#include "platform/platform.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

namespace {

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
int m_SerNumMtdFd = -1;

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
    char path[PATH_MAX];
    if (platformPath(desc.device, path, sizeof(path)) == nullptr) {
        printf("ERROR: path of %s too long\n", desc.device);
        return -1;
    }
    int fd = open(path, desc.flags);
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

// Reads exactly `length` bytes from byte 0 of the region.
ReadResult readRegion(void *dest, PersistRegionId region, size_t length) {
    int *fd = regionFd(region);
    if (fd == nullptr || *fd < 0 || lseek(*fd, 0, SEEK_SET) != 0) {
        return READ_FAILED;
    }
    auto *out = static_cast<uint8_t *>(dest);
    size_t done = 0;
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

int writeAll(int fd, const void *src, size_t length) {
    if (fd < 0 || lseek(fd, 0, SEEK_SET) != 0) {
        return -1;
    }
    const auto *in = static_cast<const uint8_t *>(src);
    size_t done = 0;
    while (done < length) {
        ssize_t n = write(fd, in + done, length - done);
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

// A save cut short by a power loss: the flash block is erased before it is
// written again from its start, so a cut write leaves the identity in place
// and the rest of the record erased (0xFF). A whole record ends with
// comfortRecoveryModeState, "Off" or "On" (0 or 1), whose last byte is 0.
bool tornWrite(const TstatSysCfgPersistMem_t &record) {
    return reinterpret_cast<const uint8_t *>(&record)[sizeof(record) - 1] == 0xFF;
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
    int *fd = regionFd(region);
    int result = writeAll(*fd, src, length);
    if (region == PERSIST_REGION_USER) {
        // Closing the block device commits its cached flash block.
        closeFd(fd);
        *fd = openRegion(*regionDesc(region));
    }
    return result;
}

int initThermostatSysCfg() {
    TstatSysCfgPersistMem_t loaded;
    if (loadRecord(&loaded, PERSIST_REGION_USER, TSTAT_SYS_CFG_USER_ID) == 0 &&
        !tornWrite(loaded)) {
        m_TstatSysCfg = loaded;
        return 0;
    }
    puts("No valid user configuration: loading the factory defaults");
    if (loadRecord(&loaded, PERSIST_REGION_FACTORY, TSTAT_SYS_CFG_FACTORY_ID) == 0) {
        m_TstatSysCfg = loaded;
        return 0;
    }
    return -1;
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
    if (loadRecord(&factory, PERSIST_REGION_FACTORY, TSTAT_SYS_CFG_FACTORY_ID) != 0) {
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
}
