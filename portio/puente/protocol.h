/* protocol.h: the line protocol between the USB bridge's firmware and the
 * puente port library. Plain C, included by the firmware (avr-gcc) and by the
 * library and tests (g++).
 *
 * The line: 115200 baud, 8 data bits, no parity, 1 stop bit, no flow control,
 * raw (the firmware runs its UART with U2X=1, UBRR=16 at 16 MHz: 117647 baud,
 * 2.1 % fast, well within what a UART accepts).
 *
 * Messages: every message either way is one line of printable ASCII ended by
 * '\n'. A '\r' is ignored wherever it appears. Hex values are exactly two
 * digits: the firmware writes them in upper case and accepts either case.
 *
 * Requests (PC -> bridge) and their replies:
 *   "?"    -> the greeting "VELANTRO PUENTE 1 <firmware version>", e.g.
 *             "VELANTRO PUENTE 1 1.0.0"; accept any line that starts with
 *             PUENTE_GREETING_PREFIX (the 1 is the protocol's version).
 *   "Dhh"  write the data register (pins 2-9)           -> "K"
 *   "Chh"  write the control register                   -> "K"
 *          only bits 0-3 are lines (pins 1, 14, 16, 17); bits 4-7 are
 *          accepted and ignored, as on a PC port without IRQ/direction bits.
 *   "d"    read the data register    -> "Dhh" (the value last written)
 *   "c"    read the control register -> "Chh" (the bits 0-3 last written;
 *                                            bits 4-7 always read 0)
 *   "s"    read the status register  -> "Shh" (bits 3-6 pins 15, 13, 12, 10
 *          as levels, bit 7 the inverse of pin 11, bits 0-2 always 0)
 *   anything else, or a line longer than PUENTE_MAX_LINE characters (the
 *   firmware discards it up to its '\n') -> "E"
 *   an empty line (nothing but '\r' before the '\n') gets no reply at all: the
 *   PC may send "\n" before its first request to end whatever partial line
 *   noise or an earlier program left in the firmware's buffer (a reply "E" to
 *   that leftover may then still come first: skip lines until the greeting).
 *
 * Order: the firmware handles one line at a time and replies in request
 * order, so the PC may send several requests before reading their replies; it
 * should keep no more than PUENTE_RECEIVE_BUFFER bytes of requests unanswered
 * (the firmware's receive buffer; bytes beyond it are lost, which shows as a
 * missing or "E" reply).
 *
 * Safe state: at power-up and after every reset, before any byte is received,
 * the data register is PUENTE_DATA_AT_RESET and the control register
 * PUENTE_CONTROL_AT_RESET, and the status inputs have their pull-ups on, so an
 * unconnected status line reads high as on a PC. 0x0C is what Linux's
 * parport_pc leaves in a port's control register when it takes the port at
 * boot (pin 1 high, pin 14 high, pin 16 high, pin 17 low: no strobe, no auto
 * feed, printer not held in reset, printer selected); with data 0 and pin 16
 * high the traffic light's board latches 0, all lamps dark.
 *
 * The line from a board that resets when its port opens (an Uno) is silent
 * for up to about 2 s while its bootloader waits; the firmware never speaks
 * unasked, so ask for the greeting ("?") and repeat the question meanwhile.
 * On opening, discard whatever input is already waiting (tcflush): replies to
 * an earlier program may still be there (the test harness's pseudo-terminal
 * keeps them, as a USB serial chip's buffer may).
 *
 * Tests: build/tests/puente/puente_harness runs this firmware on a simulated
 * chip with the board on its pins; its first line on standard output is the
 * pseudo-terminal to open (options in tests/puente/puente_harness.cpp, and
 * puente::HarnessProcess in tests/puente/HarnessProcess.h starts it). */
#ifndef VELANTRO_PUENTE_PROTOCOL_H
#define VELANTRO_PUENTE_PROTOCOL_H

#define PUENTE_BAUD 115200
#define PUENTE_PROTOCOL_VERSION 1
#define PUENTE_GREETING_PREFIX "VELANTRO PUENTE 1 "

/* The longest request line, in characters before its '\n' ('\r' not counted). */
#define PUENTE_MAX_LINE 15
/* The longest reply line, '\n' included (the greeting, with a version of up to
 * 13 characters). */
#define PUENTE_MAX_REPLY 32
/* Bytes of requests the firmware holds while it is still answering earlier
 * ones. */
#define PUENTE_RECEIVE_BUFFER 64

/* Request letters. */
#define PUENTE_ASK_GREETING '?'
#define PUENTE_WRITE_DATA 'D'
#define PUENTE_WRITE_CONTROL 'C'
#define PUENTE_READ_DATA 'd'
#define PUENTE_READ_CONTROL 'c'
#define PUENTE_READ_STATUS 's'

/* Reply letters ('D' and 'C' are also the replies to 'd' and 'c'). */
#define PUENTE_REPLY_DATA 'D'
#define PUENTE_REPLY_CONTROL 'C'
#define PUENTE_REPLY_STATUS 'S'
#define PUENTE_REPLY_DONE 'K'
#define PUENTE_REPLY_ERROR 'E'

/* Register bits that are lines. */
#define PUENTE_CONTROL_LINES 0x0F
#define PUENTE_STATUS_LINES 0xF8

/* The safe state. */
#define PUENTE_DATA_AT_RESET 0x00
#define PUENTE_CONTROL_AT_RESET 0x0C

#endif
