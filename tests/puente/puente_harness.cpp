// The USB bridge without hardware: the bridge's firmware on a simulated
// ATmega328P at 16 MHz (simavr), its UART served as a pseudo-terminal that a
// program opens like the bridge's serial device, and the traffic light's
// interface board modelled on the chip's pins (the simulated library's board,
// driven by the pin levels, in simulated time).
//
//   puente_harness [--firmware=ELF] [--no-board] [--report-pins]
//                  [--unplug-after=MS] [--link=PATH]
//
// The first line on standard output is the pseudo-terminal's path
// (/dev/pts/N); --link=PATH also makes PATH a symbolic link to it (removed at
// the end). The harness runs until it gets SIGTERM or SIGINT, or until its
// standard input, when that is a pipe, a socket or a terminal, reaches its end.
//   --firmware=ELF     the firmware to run (default: the one this build made)
//   --no-board         nothing on the connector: the status lines float, so
//                      they read high only through the chip's pull-ups
//   --report-pins      a line on standard output each time a connector line
//                      changes level:
//                        pins 2-9=HH 1=b 14=b 16=b 17=b 15=b 13=b 12=b 10=b 11=b
//                      (HH the data lines, pin 2 as bit 0; b 0 or 1). A line
//                      the chip neither drives nor pulls up reads 0.
//   --unplug-after=MS  the cable is pulled after MS milliseconds of simulated
//                      time: the pseudo-terminal closes and the harness ends;
//                      SIGUSR1 does the same at any time.
// The simulation is held to the wall clock (simavr alone runs faster), so the
// board's cycle and the serial line's timing are as on real hardware, give or
// take a loaded machine.
#include "SimulatedBoard.h"

#include <avr_extint.h>
#include <avr_ioport.h>
#include <avr_uart.h>
#include <sim_avr.h>
#include <sim_elf.h>
#include <sim_io.h>
#include <sim_irq.h>

#include <chrono>
#include <csignal>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr std::uint64_t Frequency = 16000000;
constexpr std::uint64_t CyclesPerMs = Frequency / 1000;

volatile std::sig_atomic_t stopSignal = 0;
volatile std::sig_atomic_t unplugSignal = 0;

void OnStop(int /*signal*/) {
    stopSignal = 1;
}

void OnUnplug(int /*signal*/) {
    unplugSignal = 1;
}

// simavr's messages go to standard error, which keeps standard output for the
// path and the pin reports; its chatter below warnings is dropped.
void Logger(avr_t* /*avr*/, const int level, const char* format, va_list arguments) {
    if (level <= LOG_WARNING) {
        std::vfprintf(stderr, format, arguments);
    }
}

struct Options {
    std::string firmware = PUENTE_FIRMWARE_ELF;
    bool board = true;
    bool reportPins = false;
    std::int64_t unplugAfterMs = -1;
    std::string link;
};

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        auto valueOf = [&argument](const char* name, std::string& value) {
            const std::string prefix = std::string(name) + "=";
            if (argument.compare(0, prefix.size(), prefix) != 0) {
                return false;
            }
            value = argument.substr(prefix.size());
            return true;
        };
        std::string value;
        if (argument == "--no-board") {
            options.board = false;
        } else if (argument == "--report-pins") {
            options.reportPins = true;
        } else if (valueOf("--firmware", value)) {
            options.firmware = value;
        } else if (valueOf("--link", value)) {
            options.link = value;
        } else if (valueOf("--unplug-after", value)) {
            char* end = nullptr;
            options.unplugAfterMs = std::strtoll(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || options.unplugAfterMs < 0) {
                std::fprintf(stderr, "puente_harness: bad --unplug-after: %s\n", value.c_str());
                return false;
            }
        } else {
            std::fprintf(stderr, "puente_harness: unknown argument %s\n", argument.c_str());
            return false;
        }
    }
    return true;
}

// The connector's lines as levels.
struct Lines {
    std::uint8_t data = 0;    // pins 2-9
    std::uint8_t control = 0; // pins 1, 14, 16, 17 as bits 0-3
    std::uint8_t status = 0;  // pins 15, 13, 12, 10, 11 as bits 0-4 (PC0-PC4)
    bool operator==(const Lines& other) const {
        return data == other.data && control == other.control && status == other.status;
    }
};

class Harness {
public:
    Harness(avr_t* avr, const Options& options) : avr_(avr), options_(options) {}

    bool Start();
    void Run();
    void Unplug();

private:
    // A port's register as its IRQs last gave it (simavr raises them before
    // it stores the register).
    struct Register {
        Harness* harness;
        std::uint8_t value;
    };
    static void OnPortChange(avr_irq_t* irq, std::uint32_t value, void* reg);
    static void OnOutput(avr_irq_t* irq, std::uint32_t value, void* self);
    static void OnXon(avr_irq_t* irq, std::uint32_t value, void* self);
    static void OnXoff(avr_irq_t* irq, std::uint32_t value, void* self);
    static avr_cycle_count_t OnMillisecond(avr_t* avr, avr_cycle_count_t when, void* self);
    static void NoSleep(avr_t* /*avr*/, avr_cycle_count_t /*howLong*/) {}

    std::int64_t NowMs() const { return static_cast<std::int64_t>(avr_->cycle / CyclesPerMs); }
    void UpdateBoard();
    void Report(const Lines& lines);
    void FeedChip();
    void FlushToHost();
    bool ReadFromHost();

    avr_t* avr_;
    Options options_;
    int master_ = -1;
    int slave_ = -1;
    bool watchStdin_ = false;
    simulated::SimulatedBoard board_;
    Lines reported_;
    bool reportedOnce_ = false;
    std::uint8_t modelData_ = 0;
    std::uint8_t modelControl_ = 0;
    // PORT and DDR of ports B, C and D.
    Register registers_[3][2] = {};
    bool updating_ = false;
    bool dirty_ = true;
    bool chipFull_ = false;
    std::deque<std::uint8_t> toChip_;
    std::string toHost_;
    avr_irq_t* uartInput_ = nullptr;
};

// The board follows every write at once, so that it sees each level the
// chip puts on the lines, however briefly (simavr may run many instructions
// in one avr_run). It is looked at again after the instruction, since simavr
// sets input pins of its own when PORTC or DDRC is written.
void Harness::OnPortChange(avr_irq_t* /*irq*/, std::uint32_t value, void* reg) {
    auto* changed = static_cast<Register*>(reg);
    changed->value = static_cast<std::uint8_t>(value);
    changed->harness->dirty_ = true;
    changed->harness->UpdateBoard();
}

void Harness::OnOutput(avr_irq_t* /*irq*/, std::uint32_t value, void* self) {
    static_cast<Harness*>(self)->toHost_.push_back(static_cast<char>(value & 0xFF));
}

void Harness::OnXon(avr_irq_t* /*irq*/, std::uint32_t /*value*/, void* self) {
    static_cast<Harness*>(self)->chipFull_ = false;
}

void Harness::OnXoff(avr_irq_t* /*irq*/, std::uint32_t /*value*/, void* self) {
    static_cast<Harness*>(self)->chipFull_ = true;
}

// The autonomous cycle moves on its own: the board's outputs are looked at
// again every simulated millisecond.
avr_cycle_count_t Harness::OnMillisecond(avr_t* /*avr*/, avr_cycle_count_t when, void* self) {
    static_cast<Harness*>(self)->UpdateBoard();
    return when + CyclesPerMs;
}

// Levels: an output line is as the chip drives it; an input line is low when
// the board pulls it low, else high if its pull-up is on, else (floating) 0.
void Harness::UpdateBoard() {
    if (updating_) {
        return;
    }
    updating_ = true;
    const unsigned portB = registers_[0][0].value;
    const unsigned ddrB = registers_[0][1].value;
    const unsigned portC = registers_[1][0].value;
    const unsigned ddrC = registers_[1][1].value;
    const unsigned driveB = portB & ddrB;
    const unsigned driveD = registers_[2][0].value & registers_[2][1].value;

    Lines lines;
    lines.data = static_cast<std::uint8_t>(((driveD >> 2) & 0x3F) | ((driveB & 0x03) << 6));
    lines.control = static_cast<std::uint8_t>((driveB >> 2) & 0x0F);

    // The board sees the register values a PC would have written.
    const auto control = static_cast<std::uint8_t>(lines.control ^ 0x0B);
    const std::int64_t now = NowMs();
    if (options_.board && lines.data != modelData_) {
        board_.Write(simulated::SimulatedBoard::DataPort, lines.data, now);
    }
    if (options_.board && control != modelControl_) {
        board_.Write(simulated::SimulatedBoard::ControlPort, control, now);
    }
    modelData_ = lines.data;
    modelControl_ = control;

    // Bits 3-6 of the board's status are pins 15, 13, 12, 10 on PC0-PC3; the
    // board leaves pin 11 (PC4) alone.
    unsigned pulledLow = 0;
    if (options_.board) {
        pulledLow =
            ~static_cast<unsigned>(board_.Read(simulated::SimulatedBoard::StatusPort, now) >> 3) &
            0x0F;
    }
    const unsigned pullUp = portC & ~ddrC;
    const unsigned levels = ((portC & ddrC) | (pullUp & ~pulledLow)) & 0x1F;
    for (int pin = 0; pin < 5; ++pin) {
        avr_irq_t* irq = avr_io_getirq(avr_, AVR_IOCTL_IOPORT_GETIRQ('C'), pin);
        const unsigned level = (levels >> pin) & 1;
        if (irq->value != level) {
            avr_raise_irq(irq, level);
        }
    }
    lines.status = static_cast<std::uint8_t>(levels);
    Report(lines);
    updating_ = false;
}

void Harness::Report(const Lines& lines) {
    if (!options_.reportPins || (reportedOnce_ && lines == reported_)) {
        return;
    }
    reported_ = lines;
    reportedOnce_ = true;
    auto bit = [](unsigned value, int n) { return static_cast<int>((value >> n) & 1); };
    std::printf("pins 2-9=%02X 1=%d 14=%d 16=%d 17=%d 15=%d 13=%d 12=%d 10=%d 11=%d\n", lines.data,
                bit(lines.control, 0), bit(lines.control, 1), bit(lines.control, 2),
                bit(lines.control, 3), bit(lines.status, 0), bit(lines.status, 1),
                bit(lines.status, 2), bit(lines.status, 3), bit(lines.status, 4));
    std::fflush(stdout);
}

// Bytes wait until the firmware has turned its receiver on: a program may
// write as soon as the terminal exists, while the simulated chip is still in
// its first microseconds (a chip that has been running for a while, as a
// Nano whose reset the port's opening does not pulse).
void Harness::FeedChip() {
    constexpr unsigned Ucsr0b = 0xC1; // data address of UCSR0B
    constexpr unsigned Rxen0 = 0x10;
    if ((avr_->data[Ucsr0b] & Rxen0) == 0) {
        return;
    }
    while (!chipFull_ && !toChip_.empty()) {
        const std::uint8_t byte = toChip_.front();
        toChip_.pop_front();
        avr_raise_irq(uartInput_, byte);
    }
}

// What the chip sends goes to the pseudo-terminal; when nobody reads it and
// the terminal's buffer is full, it is lost, as on a serial line.
void Harness::FlushToHost() {
    while (!toHost_.empty()) {
        const ssize_t written = write(master_, toHost_.data(), toHost_.size());
        if (written <= 0) {
            toHost_.clear();
            return;
        }
        toHost_.erase(0, static_cast<std::size_t>(written));
    }
}

// Returns false when the harness should end.
bool Harness::ReadFromHost() {
    pollfd fds[2] = {{master_, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    const nfds_t count = watchStdin_ ? 2 : 1;
    if (poll(fds, count, 0) <= 0) {
        return true;
    }
    if ((fds[0].revents & POLLIN) != 0) {
        std::uint8_t buffer[256];
        const ssize_t got = read(master_, buffer, sizeof buffer);
        for (ssize_t i = 0; i < got; ++i) {
            toChip_.push_back(buffer[i]);
        }
    }
    if (watchStdin_ && (fds[1].revents & (POLLIN | POLLHUP)) != 0) {
        char buffer[256];
        if (read(STDIN_FILENO, buffer, sizeof buffer) <= 0) {
            return false;
        }
    }
    return true;
}

bool Harness::Start() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        std::perror("puente_harness: posix_openpt");
        return false;
    }
    const char* path = ptsname(master_);
    // The harness keeps the terminal's other side open too, so that the
    // terminal stays up while no program has it open, and sets it raw, as the
    // bridge's serial line is.
    slave_ = open(path, O_RDWR | O_NOCTTY);
    termios settings{};
    if (slave_ < 0 || tcgetattr(slave_, &settings) != 0) {
        std::perror("puente_harness: the pseudo-terminal");
        return false;
    }
    cfmakeraw(&settings);
    cfsetspeed(&settings, B115200);
    tcsetattr(slave_, TCSANOW, &settings);
    if (!options_.link.empty()) {
        unlink(options_.link.c_str());
        if (symlink(path, options_.link.c_str()) != 0) {
            std::perror("puente_harness: --link");
            return false;
        }
    }
    struct stat input {};
    watchStdin_ = fstat(STDIN_FILENO, &input) == 0 &&
                  (S_ISFIFO(input.st_mode) || S_ISSOCK(input.st_mode) || isatty(STDIN_FILENO));

    avr_->sleep = NoSleep; // the loop below keeps the time, asleep or not
    // simavr polls a low INT0/INT1 pin (data bits 0 and 1 here) every cycle
    // for its level-triggered interrupt, which the firmware does not use;
    // without that, and with a longer stride, a sleeping chip costs little.
    avr_extint_set_strict_lvl_trig(avr_, 0, 0);
    avr_extint_set_strict_lvl_trig(avr_, 1, 0);
    avr_->run_cycle_limit = CyclesPerMs;
    // No copy of the chip's lines on standard error, and no sleeping inside
    // simavr when the firmware polls its UART.
    std::uint32_t uartFlags = 0;
    avr_ioctl(avr_, AVR_IOCTL_UART_GET_FLAGS('0'), &uartFlags);
    uartFlags &= ~static_cast<std::uint32_t>(AVR_UART_FLAG_STDIO | AVR_UART_FLAG_POLL_SLEEP);
    avr_ioctl(avr_, AVR_IOCTL_UART_SET_FLAGS('0'), &uartFlags);
    uartInput_ = avr_io_getirq(avr_, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_INPUT);
    avr_irq_register_notify(avr_io_getirq(avr_, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_OUTPUT),
                            OnOutput, this);
    avr_irq_register_notify(avr_io_getirq(avr_, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_OUT_XON),
                            OnXon, this);
    avr_irq_register_notify(avr_io_getirq(avr_, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_OUT_XOFF),
                            OnXoff, this);
    const char ports[] = {'B', 'C', 'D'};
    const int irqs[] = {IOPORT_IRQ_REG_PORT, IOPORT_IRQ_DIRECTION_ALL};
    for (int port = 0; port < 3; ++port) {
        for (int kind = 0; kind < 2; ++kind) {
            registers_[port][kind].harness = this;
            avr_irq_register_notify(
                avr_io_getirq(avr_, AVR_IOCTL_IOPORT_GETIRQ(ports[port]), irqs[kind]), OnPortChange,
                &registers_[port][kind]);
        }
    }
    avr_cycle_timer_register(avr_, CyclesPerMs, OnMillisecond, this);

    std::printf("%s\n", path);
    std::fflush(stdout);
    return true;
}

void Harness::Run() {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    const auto unplugAt = static_cast<avr_cycle_count_t>(options_.unplugAfterMs) * CyclesPerMs;
    while (stopSignal == 0 && unplugSignal == 0) {
        if (options_.unplugAfterMs >= 0 && avr_->cycle >= unplugAt) {
            break;
        }
        // Up to the wall clock, a simulated millisecond at most between
        // looks at the terminal.
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
        const auto target = static_cast<avr_cycle_count_t>(elapsed.count()) * (Frequency / 1000000);
        const avr_cycle_count_t until = std::min(target, avr_->cycle + CyclesPerMs);
        while (avr_->cycle < until) {
            const int state = avr_run(avr_);
            if (state == cpu_Done || state == cpu_Crashed) {
                std::fprintf(stderr, "puente_harness: the firmware stopped (state %d)\n", state);
                std::exit(3);
            }
            if (dirty_) {
                dirty_ = false;
                UpdateBoard();
            }
            FeedChip();
        }
        FlushToHost();
        if (!ReadFromHost()) {
            break;
        }
        FeedChip();
        if (avr_->cycle >= target) {
            pollfd fds[2] = {{master_, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
            poll(fds, watchStdin_ ? 2 : 1, 1);
        }
    }
    if (unplugSignal != 0 || (options_.unplugAfterMs >= 0 && avr_->cycle >= unplugAt)) {
        Unplug();
    }
    if (!options_.link.empty()) {
        unlink(options_.link.c_str());
    }
}

void Harness::Unplug() {
    close(master_);
    close(slave_);
    master_ = -1;
    slave_ = -1;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        return 2;
    }
    avr_global_logger_set(Logger);
    elf_firmware_t firmware{};
    if (elf_read_firmware(options.firmware.c_str(), &firmware) != 0) {
        std::fprintf(stderr, "puente_harness: cannot read the firmware %s\n",
                     options.firmware.c_str());
        return 2;
    }
    avr_t* avr = avr_make_mcu_by_name("atmega328p");
    if (avr == nullptr || avr_init(avr) != 0) {
        std::fprintf(stderr, "puente_harness: simavr has no atmega328p\n");
        return 2;
    }
    avr_load_firmware(avr, &firmware);
    avr->frequency = Frequency;

    struct sigaction stop {};
    stop.sa_handler = OnStop;
    sigaction(SIGTERM, &stop, nullptr);
    sigaction(SIGINT, &stop, nullptr);
    struct sigaction unplug {};
    unplug.sa_handler = OnUnplug;
    sigaction(SIGUSR1, &unplug, nullptr);
    signal(SIGPIPE, SIG_IGN);

    Harness harness(avr, options);
    if (!harness.Start()) {
        return 2;
    }
    harness.Run();
    avr_terminate(avr);
    return 0;
}
