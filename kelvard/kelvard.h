/* kelvard.h - every capability of a Kelvard I/O board, from C.
 *
 * libkelvard.so.1 reaches USB boards (in their application or their bootloader), COM-port boards
 * and boards on TCP (the network frames of the dialog's link: `zorvane serve`, a network board)
 * through the same core as libzorvane.so.1, so a process holds one driver layer whichever of the
 * two it uses. Every function names its results; every result is a value of enum kelvard_result,
 * and kelvard_result_text gives its text.
 *
 * Objects are opaque and carry the prefix of the function that made them. Each object is used by
 * any number of threads (calls on one board are serialised inside it), unless a function says
 * otherwise. Nothing here writes to stdout or stderr; KELVARD_DEBUG=1 writes diagnostic lines to
 * stderr, any other value is a file to append them to.
 *
 *     struct kelvard_board *board;
 *     if (kelvard_board_open("7", &board) == KELVARD_OK) {
 *         uint16_t readings[KELVARD_ANALOG_CHANNELS];
 *         unsigned count;
 *         if (kelvard_board_read_analog(board, readings, &count) == KELVARD_OK && count > 0)
 *             printf("E0=%u\n", readings[0]);
 *         kelvard_board_close(board);
 *     }
 */
#ifndef KELVARD_H
#define KELVARD_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(KELVARD_BUILDING)
#define KELVARD_API __attribute__((visibility("default")))
#else
#define KELVARD_API
#endif

/* --- Results ----------------------------------------------------------------------------- */

enum kelvard_result {
    KELVARD_OK = 0,
    KELVARD_ERR_ARGUMENT = -1,      /* an argument out of range, null, or a malformed name */
    KELVARD_ERR_NOT_FOUND = -2,     /* no attached board answers to the name */
    KELVARD_ERR_AMBIGUOUS = -3,     /* the name fits several boards (name one by path=) */
    KELVARD_ERR_ACCESS = -4,        /* the board's device node or COM port may not be opened */
    KELVARD_ERR_BUSY = -5,          /* another program holds the board */
    KELVARD_ERR_IO = -6,            /* the board did not answer, or a transfer failed */
    KELVARD_ERR_GONE = -7,          /* the board was unplugged, or the connection closed */
    KELVARD_ERR_NOT_SUPPORTED = -8, /* this kind of board cannot do that (see each function) */
    KELVARD_ERR_BOOTLOADER = -9,    /* the board waits in its bootloader: it has no ports */
    KELVARD_ERR_NO_MEMORY = -10,
    KELVARD_ERR_SYSTEM = -11,       /* the system refused (errno says why) */
    KELVARD_ERR_AGAIN = -12,        /* nothing to take now (kelvard_watch_read) */
    KELVARD_ERR_EXISTS = -13,       /* a field of that name exists on the board */
    KELVARD_ERR_OVERLAP = -14,      /* the pins belong to another field of the board */
};

/* The result's text, e.g. "not supported by this kind of board"; never null, also for a value
 * outside the enum. Threads: any. */
KELVARD_API const char *kelvard_result_text(int result);

/* --- Ports, pins and the configuration ---------------------------------------------------- */

enum kelvard_port {
    KELVARD_PORT_A = 0,
    KELVARD_PORT_B,
    KELVARD_PORT_C,
    KELVARD_PORT_D,
    KELVARD_PORT_E,
};
#define KELVARD_PORTS 5          /* a USB or TCP board: A to E; a COM-port board: A to C */
#define KELVARD_POLARITY_PORTS 4 /* inputs of A to D can be inverted */
#define KELVARD_ANALOG_CHANNELS 4 /* E0 to E3; each reading 0 to 1023 */

/* A board's configuration: bit n of a mask is pin n. direction: set bit = input. polarity: set
 * bit = inverted input. analog_count: 0 to 4, channels E0 up to E(count - 1) are analog. */
struct kelvard_config {
    uint8_t direction[KELVARD_PORTS];
    uint8_t polarity[KELVARD_POLARITY_PORTS];
    uint8_t analog_count;
};

/* The parts of a configuration a change names (kelvard_board_change_config). */
#define KELVARD_CONFIG_DIRECTION(port) (1u << (port))      /* port 0 (A) to 4 (E) */
#define KELVARD_CONFIG_POLARITY(port) (1u << (5 + (port))) /* port 0 (A) to 3 (D) */
#define KELVARD_CONFIG_ANALOG_COUNT (1u << 9)
#define KELVARD_CONFIG_ALL_DIRECTIONS 0x1Fu
#define KELVARD_CONFIG_ALL_POLARITY 0x1E0u

/* --- Attached boards and their identity --------------------------------------------------- */

enum kelvard_kind {
    KELVARD_KIND_USB = 0,
    KELVARD_KIND_COM = 1,
    KELVARD_KIND_TCP = 2,
};

enum kelvard_mode {
    KELVARD_MODE_APPLICATION = 0,
    KELVARD_MODE_BOOTLOADER = 1,
};

/* What a USB board says about itself. Valid as long as the list or board it came from. */
struct kelvard_identity;

/* The device ID (0 to 255); -1 for a board in its bootloader or one that did not tell it. */
KELVARD_API int kelvard_identity_device_id(const struct kelvard_identity *identity);
/* The serial number (8 characters); "" when the board has no valid one. Never null. */
KELVARD_API const char *kelvard_identity_serial(const struct kelvard_identity *identity);
/* The firmware version, high byte major, low byte minor (0x0103 is 1.03); 0 in the
 * bootloader. */
KELVARD_API unsigned kelvard_identity_version(const struct kelvard_identity *identity);
KELVARD_API enum kelvard_mode kelvard_identity_mode(const struct kelvard_identity *identity);
/* Where the board sits: "1-2.3" (USB bus and port path), "sim:0" on the simulated bus. */
KELVARD_API const char *kelvard_identity_location(const struct kelvard_identity *identity);
/* KELVARD_OK for a board that opens; KELVARD_ERR_ACCESS or KELVARD_ERR_BUSY for one that does
 * not (its other fields then tell nothing but the location). */
KELVARD_API int kelvard_identity_open_result(const struct kelvard_identity *identity);

/* Every attached USB board, in instance order, with its identity (boards in their bootloader
 * too): a board this process has open through kelvard_board_open gives the identity it told
 * then; every other one is opened briefly and asked. *list receives a list to free with
 * kelvard_list_free. KELVARD_OK (also for an empty list), KELVARD_ERR_ARGUMENT,
 * KELVARD_ERR_NO_MEMORY. Threads: any. */
struct kelvard_list;
KELVARD_API int kelvard_list_boards(struct kelvard_list **list);
KELVARD_API size_t kelvard_list_count(const struct kelvard_list *list);
/* The index-th board; null past the end. */
KELVARD_API const struct kelvard_identity *kelvard_list_get(const struct kelvard_list *list,
                                                            size_t index);
KELVARD_API void kelvard_list_free(struct kelvard_list *list);

/* --- One board ------------------------------------------------------------------------------ */

struct kelvard_board;

/* Opens the board a name stands for:
 *   "7"                 the USB board with device ID 7 (in its application)
 *   "serial=AB12CD34"   the USB board with this serial number
 *   "path=1-2.3"        the USB board at this location (kelvard_identity_location)
 *   "COM3"              the COM-port board on COM3 (KELVARD_COM_PATTERN maps it to a device,
 *                       default /dev/ttyS2); any name that is not one of the others
 *   "tcp:HOST[:PORT]"   a board reached through the network frames of the dialog's link,
 *                       served by `zorvane serve` or a network board (port 9764 by default)
 * *board receives the open board, to close with kelvard_board_close. KELVARD_OK;
 * KELVARD_ERR_ARGUMENT; KELVARD_ERR_NOT_FOUND (no such USB board; for a COM name, no such
 * device; for tcp:, nobody listens); KELVARD_ERR_AMBIGUOUS; KELVARD_ERR_ACCESS;
 * KELVARD_ERR_BUSY; KELVARD_ERR_BOOTLOADER (a USB board in its bootloader); KELVARD_ERR_IO (a USB
 * board that does not answer, a tcp: connection that fails); KELVARD_ERR_NO_MEMORY. A COM-port
 * board opens when its port opens; it is asked nothing. Threads: any. */
KELVARD_API int kelvard_board_open(const char *name, struct kelvard_board **board);
/* Closes the board and frees it; null is ignored. No other thread may use the board then. */
KELVARD_API void kelvard_board_close(struct kelvard_board *board);

KELVARD_API enum kelvard_kind kelvard_board_kind(const struct kelvard_board *board);
/* KELVARD_PORTS for USB and TCP boards, 3 for COM-port boards. */
KELVARD_API unsigned kelvard_board_port_count(const struct kelvard_board *board);
/* The identity the board told when it was opened (USB boards). KELVARD_OK;
 * KELVARD_ERR_NOT_SUPPORTED for COM-port and TCP boards, which tell none. */
KELVARD_API int kelvard_board_identity(const struct kelvard_board *board,
                                       const struct kelvard_identity **identity);

/* Reads the levels of ports A up to A + count - 1 in one exchange (an input reads its pin,
 * inverted where its polarity says so; an output reads back its latch) into values[0..count-1].
 * KELVARD_OK; KELVARD_ERR_ARGUMENT (count 0, or null); KELVARD_ERR_NOT_SUPPORTED for count
 * beyond kelvard_board_port_count; KELVARD_ERR_IO or KELVARD_ERR_GONE, with values untouched. */
KELVARD_API int kelvard_board_read_ports(struct kelvard_board *board, uint8_t *values,
                                         size_t count);
/* Writes one port's latches; the other ports keep their latches (as last read or written
 * through this board object; a USB or TCP board reads them first if it has not yet).
 * KELVARD_OK once the board took the write: a USB board's transfer completed; a TCP board
 * answers no write, so a read follows it on the connection and its reply shows the write was
 * handled; a COM-port board confirms nothing, and the write is done once its line went out.
 * KELVARD_ERR_ARGUMENT; KELVARD_ERR_NOT_SUPPORTED (port D or E of a COM-port board);
 * KELVARD_ERR_IO; KELVARD_ERR_GONE. */
KELVARD_API int kelvard_board_write_port(struct kelvard_board *board, enum kelvard_port port,
                                         uint8_t value);
/* Writes one pin's latch (bit 0 to 7, value 0 or not 0); the other pins keep theirs. Results as
 * kelvard_board_write_port. */
KELVARD_API int kelvard_board_write_bit(struct kelvard_board *board, enum kelvard_port port,
                                        unsigned bit, int value);

/* The configuration the board holds. KELVARD_OK; KELVARD_ERR_NOT_SUPPORTED for COM-port boards
 * (they cannot tell it); KELVARD_ERR_IO; KELVARD_ERR_GONE. */
KELVARD_API int kelvard_board_read_config(struct kelvard_board *board,
                                          struct kelvard_config *config);
/* Changes the parts of the configuration that mask names (KELVARD_CONFIG_*) to their values in
 * config, by reading the configuration, replacing those parts and writing it back: a part not
 * named keeps what the board holds (a TCP board's frames carry the whole block, the analog
 * count included, and the block is read back after the write: KELVARD_ERR_IO when the board
 * holds something else). KELVARD_OK; KELVARD_ERR_ARGUMENT (mask 0 or beyond the parts, analog_count
 * above 4 where named); KELVARD_ERR_NOT_SUPPORTED, with nothing written, on a COM-port board for
 * anything but the directions of A, B and C named together (it cannot tell the rest, so a change
 * of a part would lose the others); KELVARD_ERR_IO; KELVARD_ERR_GONE. */
KELVARD_API int kelvard_board_change_config(struct kelvard_board *board,
                                            const struct kelvard_config *config, unsigned mask);

/* Reads the enabled analog channels: readings[0..*count-1] receive E0 upwards (0 to 1023),
 * *count the number enabled (the configuration's analog count, 0 to 4). KELVARD_OK;
 * KELVARD_ERR_NOT_SUPPORTED for COM-port and TCP boards; KELVARD_ERR_IO; KELVARD_ERR_GONE. */
KELVARD_API int kelvard_board_read_analog(struct kelvard_board *board,
                                          uint16_t readings[KELVARD_ANALOG_CHANNELS],
                                          unsigned *count);

/* --- Fields ------------------------------------------------------------------------------------ */

/* A field (virtual port) is a named run of width adjacent pins from pin start of a USB board,
 * written as one number: pin n is bit n % 8 of port A, B, C or D for n / 8 = 0 to 3 (pins 0 to
 * 26). They are the library's own (libzorvane's AddVirtualPort), kept by the board object.
 *
 * kelvard_board_add_field writes the field's pins 0, then makes them inputs (input not 0) or
 * outputs, keeping the other pins' directions, polarity and analog inputs as the board holds
 * them. KELVARD_OK; KELVARD_ERR_ARGUMENT (null or empty name, a field beyond pin 26);
 * KELVARD_ERR_EXISTS; KELVARD_ERR_OVERLAP; KELVARD_ERR_NOT_SUPPORTED for COM-port and TCP
 * boards; KELVARD_ERR_IO; KELVARD_ERR_GONE. The writes of a field are not confirmed by the board.
 * kelvard_board_write_field sets the field to value (its low bits; lowest pin = bit 0), the
 * other pins keeping their latches; kelvard_board_remove_field writes it 0 and forgets it
 * (KELVARD_ERR_NOT_FOUND for a name the board has no field of). */
KELVARD_API int kelvard_board_add_field(struct kelvard_board *board, const char *name,
                                        unsigned start, unsigned width, int input);
KELVARD_API int kelvard_board_write_field(struct kelvard_board *board, const char *name,
                                          uint32_t value);
KELVARD_API int kelvard_board_remove_field(struct kelvard_board *board, const char *name);

/* --- Plugging and unplugging ---------------------------------------------------------------- */

enum kelvard_event {
    KELVARD_EVENT_ARRIVAL = 1, /* a USB board was plugged in (or came back from a reset) */
    KELVARD_EVENT_REMOVAL = 2, /* a USB board was unplugged (or left for a reset) */
};

struct kelvard_watch;

/* Starts following the attached USB boards. *watch receives the watch, to free with
 * kelvard_watch_free. KELVARD_OK; KELVARD_ERR_ARGUMENT; KELVARD_ERR_NO_MEMORY;
 * KELVARD_ERR_SYSTEM. Threads: any. */
KELVARD_API int kelvard_watch_new(struct kelvard_watch **watch);
/* A file descriptor that is readable while events wait: for poll, select or an event loop.
 * Owned by the watch; do not read or close it. */
KELVARD_API int kelvard_watch_fd(const struct kelvard_watch *watch);
/* Takes the oldest waiting event into *event. KELVARD_OK; KELVARD_ERR_AGAIN when none waits
 * (never blocks). */
KELVARD_API int kelvard_watch_read(struct kelvard_watch *watch, enum kelvard_event *event);
/* Calls callback(event, user) for each event from now on, on a thread of the library's own,
 * one event at a time, instead of queueing it for kelvard_watch_read; null goes back to
 * queueing. Once it returns, a callback set before is not running and never runs again, unless
 * it is called from inside that callback. */
KELVARD_API int kelvard_watch_set_callback(struct kelvard_watch *watch,
                                           void (*callback)(enum kelvard_event event, void *user),
                                           void *user);
/* Stops the watch and frees it; null is ignored. Not from inside its own callback. */
KELVARD_API void kelvard_watch_free(struct kelvard_watch *watch);

/* --- Which boards ---------------------------------------------------------------------------- */

/* Chooses what reaches USB boards for this process: "libusb" (real boards) or "sim" (the
 * simulated bus of KELVARD_SIM_BOARDS, from libkelvard-sim.so.1). Without this call the
 * environment decides at first use (KELVARD_USB=sim: the simulated bus; otherwise libusb).
 * KELVARD_OK; KELVARD_ERR_ARGUMENT for another name; KELVARD_ERR_BUSY once boards have been
 * reached (the choice is made); KELVARD_ERR_NOT_FOUND when the simulated bus is not installed.
 * Threads: any. */
KELVARD_API int kelvard_use_backend(const char *name);

#ifdef __cplusplus
}
#endif

#endif /* KELVARD_H */
