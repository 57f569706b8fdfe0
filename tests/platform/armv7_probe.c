/* A program for a newer ARM core than the board's: it executes movw, an
 * instruction of ARMv6T2 and later that the board's ARMv5TE core lacks. */
int main(void) {
    unsigned value;
    __asm__ volatile("movw %0, #0x1234" : "=r"(value));
    return value == 0x1234u ? 0 : 1;
}
