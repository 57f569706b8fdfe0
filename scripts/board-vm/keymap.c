/*
 * Rewrites the key map of an input device through the kernel's
 * EVIOCSKEYCODE_V2: each SCANCODE=KEYCODE pair makes the key the device
 * reports as SCANCODE (for a USB keyboard the HID usage, page << 16 | usage)
 * produce KEYCODE from then on. Every pair is read back; any failure is
 * reported and makes the exit status 1.
 *
 * Usage: keymap DEVICE SCANCODE=KEYCODE...   (numbers in C notation: 0x102)
 *
 * The emulated board's keys: a USB keyboard whose arrow up, arrow down,
 * Return and Escape become the board's touch-key codes 0x102, 0x100, 0x101
 * and 0x103.
 */
#include <errno.h>
#include <fcntl.h>
#include <linux/input.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

static int parse_number(const char *text, unsigned long *value) {
    char *end = NULL;
    errno = 0;
    *value = strtoul(text, &end, 0);
    return errno == 0 && end != text && *end == '\0' && *value <= 0xFFFFFFFFul ? 0 : -1;
}

static int remap(int fd, const char *device, const char *pair) {
    const char *equals = strchr(pair, '=');
    char scan_text[32];
    unsigned long scancode = 0;
    unsigned long keycode = 0;
    if (equals == NULL || (size_t)(equals - pair) >= sizeof(scan_text)) {
        fprintf(stderr, "keymap: %s is not SCANCODE=KEYCODE\n", pair);
        return -1;
    }
    memcpy(scan_text, pair, (size_t)(equals - pair));
    scan_text[equals - pair] = '\0';
    if (parse_number(scan_text, &scancode) != 0 || parse_number(equals + 1, &keycode) != 0 ||
        keycode > KEY_MAX) {
        fprintf(stderr, "keymap: %s is not SCANCODE=KEYCODE\n", pair);
        return -1;
    }

    uint32_t scan = (uint32_t)scancode;
    struct input_keymap_entry entry;
    memset(&entry, 0, sizeof(entry));
    entry.len = sizeof(scan);
    entry.keycode = (unsigned int)keycode;
    memcpy(entry.scancode, &scan, sizeof(scan));
    if (ioctl(fd, EVIOCSKEYCODE_V2, &entry) != 0) {
        fprintf(stderr, "keymap: %s: setting 0x%lx to 0x%lx: %s\n", device, scancode, keycode,
                strerror(errno));
        return -1;
    }

    memset(&entry, 0, sizeof(entry));
    entry.len = sizeof(scan);
    memcpy(entry.scancode, &scan, sizeof(scan));
    if (ioctl(fd, EVIOCGKEYCODE_V2, &entry) != 0 || entry.keycode != keycode) {
        fprintf(stderr, "keymap: %s: 0x%lx did not become 0x%lx\n", device, scancode, keycode);
        return -1;
    }
    return 0;
}

int main(int argc, char **argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: keymap DEVICE SCANCODE=KEYCODE...\n");
        return 2;
    }
    int fd = open(argv[1], O_RDONLY);
    if (fd < 0) {
        fprintf(stderr, "keymap: cannot open %s: %s\n", argv[1], strerror(errno));
        return 1;
    }
    int status = 0;
    for (int i = 2; i < argc; i++) {
        if (remap(fd, argv[1], argv[i]) != 0) {
            status = 1;
        }
    }
    close(fd);
    return status;
}
