/* The USB bridge's firmware: an ATmega328P (Arduino Uno or Nano, 16 MHz) that
 * behaves as a PC's parallel port seen from its DB-25 connector, driven over
 * its serial line with the protocol in protocol.h.
 *
 * Pins (levels, high = 1):
 *   data bits 0-7        pins 2-9      PD2-PD7, PB0, PB1
 *   control bit 0 (inv.) pin 1         PB2
 *   control bit 1 (inv.) pin 14        PB3
 *   control bit 2        pin 16        PB4
 *   control bit 3 (inv.) pin 17        PB5
 *   status bit 3         pin 15        PC0
 *   status bit 4         pin 13        PC1
 *   status bit 5         pin 12        PC2
 *   status bit 6         pin 10        PC3
 *   status bit 7 (inv.)  pin 11        PC4
 * The status inputs have their pull-ups on, so a line nothing drives reads
 * high, as on a PC.
 *
 * Received bytes go from the UART's interrupt into a ring buffer; the main
 * loop takes them a line at a time and answers each line before reading the
 * next, sending its reply byte by byte; it sleeps (idle mode) while nothing
 * has come. No watchdog: nothing here waits on anything but the UART, and the
 * bootloader of older Nanos restarts for ever after a watchdog reset. */
#include "protocol.h"

#include <avr/interrupt.h>
#include <avr/io.h>
#include <avr/sleep.h>
#include <avr/wdt.h>
#include <stdint.h>

#ifndef PUENTE_FIRMWARE_VERSION
#error "PUENTE_FIRMWARE_VERSION (e.g. \"1.0.0\") comes from the build"
#endif

/* 115200 baud at 16 MHz with the double-speed UART: 16e6 / (8 * (16 + 1)). */
#define UART_DIVISOR 16

#define DATA_PORTD_MASK 0xFC    /* data bits 0-5 on PD2-PD7 */
#define DATA_PORTB_MASK 0x03    /* data bits 6-7 on PB0-PB1 */
#define CONTROL_PORTB_MASK 0x3C /* pins 1, 14, 16, 17 on PB2-PB5 */
#define CONTROL_INVERTED 0x0B   /* bits 0, 1, 3 are inverted at the pins */
#define STATUS_PORTC_MASK 0x1F  /* PC0-PC4 */

/* Twice what the protocol lets the PC keep unanswered (a ring holds one byte
 * less than its size), and a power of two. */
#define RING_SIZE (2 * PUENTE_RECEIVE_BUFFER)

static volatile uint8_t received[RING_SIZE];
static volatile uint8_t receivedHead; /* written by the interrupt only */
static volatile uint8_t receivedTail; /* written by the main loop only */

static uint8_t dataRegister;
static uint8_t controlRegister;

ISR(USART_RX_vect) {
    const uint8_t byte = UDR0;
    const uint8_t next = (uint8_t)((receivedHead + 1) % RING_SIZE);
    if (next != receivedTail) {
        received[receivedHead] = byte;
        receivedHead = next;
    }
}

/* Waits for a byte asleep: the UART's interrupt wakes the chip. Interrupts
 * are off between the test and the sleep, and sei() lets the next instruction
 * (the sleep) run before any interrupt, so a byte arriving in between is not
 * slept through. */
static uint8_t ReceiveByte(void) {
    cli();
    while (receivedTail == receivedHead) {
        sleep_enable();
        sei();
        sleep_cpu();
        sleep_disable();
        cli();
    }
    sei();
    const uint8_t byte = received[receivedTail];
    receivedTail = (uint8_t)((receivedTail + 1) % RING_SIZE);
    return byte;
}

static void SendByte(uint8_t byte) {
    while ((UCSR0A & _BV(UDRE0)) == 0) {
    }
    UDR0 = byte;
}

static void SendText(const char* text) {
    while (*text != '\0') {
        SendByte((uint8_t)*text++);
    }
}

static void SendValue(char letter, uint8_t value) {
    static const char digits[] = "0123456789ABCDEF";
    SendByte((uint8_t)letter);
    SendByte((uint8_t)digits[value >> 4]);
    SendByte((uint8_t)digits[value & 0x0F]);
    SendByte('\n');
}

/* Bits 0-5, all that the traffic light's board uses, change in one write. */
static void WriteData(uint8_t value) {
    dataRegister = value;
    PORTD = (uint8_t)((PORTD & ~DATA_PORTD_MASK) | ((uint8_t)(value << 2) & DATA_PORTD_MASK));
    PORTB = (uint8_t)((PORTB & ~DATA_PORTB_MASK) | ((value >> 6) & DATA_PORTB_MASK));
}

static void WriteControl(uint8_t value) {
    controlRegister = value & PUENTE_CONTROL_LINES;
    const uint8_t levels = controlRegister ^ CONTROL_INVERTED;
    PORTB =
        (uint8_t)((PORTB & ~CONTROL_PORTB_MASK) | ((uint8_t)(levels << 2) & CONTROL_PORTB_MASK));
}

static uint8_t ReadStatus(void) {
    const uint8_t lines = PINC;
    uint8_t status = (uint8_t)((lines & 0x0F) << 3);
    if ((lines & 0x10) == 0) {
        status |= 0x80;
    }
    return status;
}

/* A hex digit's value, or -1. */
static int8_t HexDigit(uint8_t c) {
    if (c >= '0' && c <= '9') {
        return (int8_t)(c - '0');
    }
    c |= 0x20; /* lower case */
    if (c >= 'a' && c <= 'f') {
        return (int8_t)(c - 'a' + 10);
    }
    return -1;
}

/* Answers one request line of length characters. */
static void Answer(const uint8_t* line, uint8_t length) {
    if (length == 1) {
        switch (line[0]) {
        case PUENTE_ASK_GREETING:
            SendText(PUENTE_GREETING_PREFIX PUENTE_FIRMWARE_VERSION "\n");
            return;
        case PUENTE_READ_DATA:
            SendValue(PUENTE_REPLY_DATA, dataRegister);
            return;
        case PUENTE_READ_CONTROL:
            SendValue(PUENTE_REPLY_CONTROL, controlRegister);
            return;
        case PUENTE_READ_STATUS:
            SendValue(PUENTE_REPLY_STATUS, ReadStatus());
            return;
        default:
            break;
        }
    } else if (length == 3) {
        const int8_t high = HexDigit(line[1]);
        const int8_t low = HexDigit(line[2]);
        if (high >= 0 && low >= 0) {
            const uint8_t value = (uint8_t)((high << 4) | low);
            if (line[0] == PUENTE_WRITE_DATA) {
                WriteData(value);
                SendText("K\n");
                return;
            }
            if (line[0] == PUENTE_WRITE_CONTROL) {
                WriteControl(value);
                SendText("K\n");
                return;
            }
        }
    }
    SendText("E\n");
}

static void Start(void) {
    MCUSR = 0;
    wdt_disable();

    /* The safe state, levels first, then the directions. */
    WriteData(PUENTE_DATA_AT_RESET);
    WriteControl(PUENTE_CONTROL_AT_RESET);
    PORTC |= STATUS_PORTC_MASK;
    DDRC &= (uint8_t)~STATUS_PORTC_MASK;
    DDRD |= DATA_PORTD_MASK;
    DDRB |= DATA_PORTB_MASK | CONTROL_PORTB_MASK;

    UBRR0 = UART_DIVISOR;
    UCSR0A = _BV(U2X0);
    UCSR0C = _BV(UCSZ01) | _BV(UCSZ00); /* 8N1 */
    UCSR0B = _BV(RXEN0) | _BV(TXEN0) | _BV(RXCIE0);
    set_sleep_mode(SLEEP_MODE_IDLE);
    sei();
}

int main(void) {
    Start();
    uint8_t line[PUENTE_MAX_LINE];
    uint8_t length = 0;
    uint8_t tooLong = 0;
    for (;;) {
        const uint8_t byte = ReceiveByte();
        if (byte == '\r') {
            continue;
        }
        if (byte != '\n') {
            if (length < PUENTE_MAX_LINE) {
                line[length++] = byte;
            } else {
                tooLong = 1;
            }
            continue;
        }
        if (tooLong) {
            SendText("E\n");
        } else if (length > 0) {
            Answer(line, length);
        }
        length = 0;
        tooLong = 0;
    }
}
