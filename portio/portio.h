/* portio.h: the interface of a Velantro port library (libportio.so).
 *
 * A port library gives a program the three registers of a PC's parallel port,
 * the port the traffic light's interface board hangs on. The Velantro console
 * and its probe load libportio.so from their own directory at run time and
 * never link it; a program of your own may link it (pkg-config velantro-portio
 * for the real port, velantro-portio-simulado for the simulated board) or load
 * it with dlopen. Every function has C linkage and a plain C signature.
 *
 * Registers and values are the hardware's raw ones: a control value 7 means
 * control register bits 0 to 2 set, and a status value is the raw byte, with
 * Busy (bit 7) as the hardware shows it.
 *
 * Threads: call the three functions from one thread. The libraries shipped
 * with Velantro serialise their calls and keep PortError's text per thread,
 * but a port library need not; the console makes every call from its one
 * user-interface thread.
 *
 * Every port library keeps this contract; the Velantro build checks it for
 * each library it makes. */
#ifndef VELANTRO_PORTIO_H
#define VELANTRO_PORTIO_H

/* The version of this interface. It changes only when a function, a register
 * or the meaning of a value changes; a library built against version 1 works
 * with every program written against version 1. */
#define PORTIO_INTERFACE_VERSION 1

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
 * address, 0x378. No other address is a register. */
enum PortioRegister {
    PortioDataRegister = 888,
    PortioStatusRegister = 889,
    PortioControlRegister = 890
};

/* PortOut: writes value to the register at I/O address port, at once and in
 * call order.
 *   port  PortioDataRegister: any value; the register takes its low 8 bits
 *                             (the data lines D0 to D7, pins 2 to 9).
 *         PortioControlRegister: 0 to 15 (bits 0 to 3: pins 1, 14, 16 and
 *                             17). Other values are refused: bits 4 to 7
 *                             are not output lines (bit 5 would turn the data
 *                             lines into inputs).
 *         PortioStatusRegister: refused; the status register is read-only.
 *         any other number: refused.
 * Returns 0, or -1 when the value is refused or the port cannot be reached;
 * PortError then says why. A refused call writes nothing.
 *
 * The port: the first call of PortOut or PortIn opens the port and takes it
 * for this process alone; it stays taken until the process ends or the
 * library is unloaded (dlclose). When opening fails, the call returns -1 and
 * the next call tries again, so a port made ready in the meantime (a kernel
 * module loaded, another program closed) is found without restarting. The
 * simulated board opens nothing: each process starts with a dark board. */
PORTIO_EXPORT int PortOut(int port, int value);

/* PortIn: reads the register at I/O address port.
 *   port  PortioDataRegister: the data lines as last written.
 *         PortioStatusRegister: the status lines (pins 15, 13, 12, 10 on bits
 *                             3 to 6, Busy on bit 7).
 *         PortioControlRegister: the control bits as last written, 0 to 15.
 *         any other number: refused.
 * Returns the register's current contents, 0 to 255, or -1 when the register
 * is refused or the port cannot be reached (see PortError). Opens the port as
 * PortOut does. */
PORTIO_EXPORT int PortIn(int port);

/* PortError: why the last PortOut or PortIn of this thread that returned -1
 * failed, as text for a person, in Spanish (UTF-8, one line): what failed
 * (which register, value or device) and what to do about it. The shipped
 * libraries say it in one sentence, or in a few when the remedy needs them.
 * The console shows it after its own words, e.g. «No se puede escribir el
 * valor 0 en el registro 888 (datos) del puerto paralelo: <text>».
 * Never NULL; empty before the first failure. The pointer stays valid while
 * the library is loaded and the thread runs; a later failure replaces the
 * text it points to.
 *
 * Optional: a library may leave PortError out. Programs look it up by name
 * (dlsym) or link it only when they need it; the console then says that the
 * library gives no reason. */
PORTIO_EXPORT const char* PortError(void);

#ifdef __cplusplus
}
#endif

#endif
