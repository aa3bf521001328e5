/* Interface of a Velantro port library (libportio.so).
 *
 * The console loads the library by name at run time from its own directory and
 * never links it, so every function here has C linkage and a plain C signature.
 * Registers are the parallel port's (PortioRegister below), with raw register
 * values (a control value 7 means register bits 0 to 2 set; a status value is
 * the raw byte, Busy as the hardware shows it). */
#ifndef VELANTRO_PORTIO_H
#define VELANTRO_PORTIO_H

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define PORTIO_EXPORT __attribute__((visibility("default")))
#else
#define PORTIO_EXPORT
#endif

/* The I/O addresses of the three registers of the standard parallel port, the
 * port argument of PortOut and PortIn. The data register is at the port's base
 * address, 0x378. */
enum PortioRegister {
    PortioDataRegister = 888,
    PortioStatusRegister = 889,
    PortioControlRegister = 890
};

/* Writes the low 8 bits of value to the register at I/O address port, at once
 * and in call order. Returns 0, or -1 on failure (see PortError). */
PORTIO_EXPORT int PortOut(int port, int value);

/* Returns the register's current contents, 0 to 255, or -1 on failure. */
PORTIO_EXPORT int PortIn(int port);

/* A Spanish sentence saying why the last failed call failed: which register or
 * device, and what the operator can do about it. Never NULL. */
PORTIO_EXPORT const char* PortError(void);

#ifdef __cplusplus
}
#endif

#endif
