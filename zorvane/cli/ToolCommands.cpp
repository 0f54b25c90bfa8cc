// The table of sub-commands: names, usage and help texts.
#include "zorvane/cli/Commands.h"

#include <cstdarg>
#include <cstdio>

const std::vector<ToolCommand>& ToolCommands()
{
    static const std::vector<ToolCommand> COMMANDS = {
        {"list",
         "list the USB boards",
         "[--long]",
         "Prints the name (device ID) of every USB board, one per line, in the library's table\n"
         "order; warns on stderr of boards that are attached but cannot be opened.\n"
         "\n"
         "  -l, --long   every attached board, also those in their bootloader, one line each:\n"
         "               instance, device ID (- in the bootloader), serial number (- for none),\n"
         "               firmware version, mode (app or boot) and location (USB bus and port\n"
         "               path, e.g. 1-2.3; sim:N on the simulated bus). A board that cannot\n"
         "               be opened shows ? and the reason.\n"
         "  --json       the same as one JSON object per board and line: instance, location,\n"
         "               device_id (-1 in the bootloader), serial, version, mode; or error.\n",
         {{"long", false, 'l'}, {"json", false}},
         RunList},
        {"info",
         "show a board's identity and configuration",
         "TARGET [--json]",
         "Prints what the board tells about itself and the configuration it holds, one labelled\n"
         "line each: kind (usb, com or tcp), device ID, serial number, firmware, mode and\n"
         "location (USB boards), directions of ports A to E (bit set = input), polarity of A\n"
         "to D (bit set = inverted input) and the number of analog inputs (E0 upwards).\n"
         "\n"
         "TARGET is a device ID (7), serial=TEXT, path=LOCATION, a COM port (COM3: it cannot\n"
         "tell its configuration) or tcp:HOST[:PORT] (a board behind 'zorvane serve' or a\n"
         "network board; port 9764 by default: no identity).\n"
         "\n"
         "  --json   one JSON object: name, kind, device_id, serial, version, mode, location,\n"
         "           directions, polarity, analog_count\n",
         {{"json", false}},
         RunInfo},
        {"analog",
         "read the analog inputs",
         "TARGET [--json]",
         "Reads the analog inputs that the board's configuration enables (E0 upwards, 0 to 1023\n"
         "each) and prints them in decimal on one line, e.g. \"E0=967 E1=744\"; an empty line\n"
         "when none is enabled (zorvane config TARGET --analog N enables them). Only USB boards\n"
         "have analog inputs. TARGET as for info.\n"
         "\n"
         "  --json   one JSON object, e.g. {\"E0\":967,\"E1\":744}\n",
         {{"json", false}},
         RunAnalog},
        {"get",
         "read ports",
         "NAME PORT...",
         "Reads the ports (A to E) of board NAME and prints one line, e.g. \"A=0x5a B=0x00\".\n"
         "NAME is a device ID, a COM port or tcp:HOST[:PORT], a board on the network.\n"
         "\n"
         "  --numeric    print the values in decimal only, separated by spaces\n"
         "  --json       print one JSON object, e.g. {\"A\":90,\"B\":0}\n",
         {{"numeric", false}, {"json", false}},
         RunGet},
        {"set",
         "write ports",
         "NAME PORT=VALUE...",
         "Writes each VALUE (0 to 255, decimal or 0x hex) to its port, in order; the ports not\n"
         "named keep the values the board reports for them (NAME as for get). Fails unless\n"
         "every write succeeds (a board on TCP confirms none: a write succeeds once sent);\n"
         "on a COM-port board (ports A to C) the writes succeed when the board answered the\n"
         "read made first, since its write results tell nothing about the line itself.\n",
         {},
         RunSet},
        {"config",
         "set pin directions, input polarity, analog inputs",
         "NAME [DIRA DIRB DIRC DIRD DIRE] [--invert PORT=MASK]... [--analog N]",
         "Sets the pin directions of ports A to E (0 to 255 each, bit set = input) as the\n"
         "library's ConfigurePortsEx does: input inversion and analog inputs are switched off.\n"
         "On failure prints the library's error text.\n"
         "\n"
         "With --invert or --analog, or for a board on TCP (tcp:HOST[:PORT]), the board's\n"
         "configuration is read and only what is given changes: the directions when given,\n"
         "each --invert, the analog input count; the rest keeps what the board holds. NAME is\n"
         "then a TARGET as for info.\n"
         "\n"
         "  --invert PORT=MASK   invert the inputs of port A to D where MASK has a bit set\n"
         "                       (repeatable)\n"
         "  --analog N           make E0 up to E(N-1) analog inputs (N from 0 to 4)\n",
         {{"invert", true}, {"analog", true}},
         RunConfig},
        {"monitor",
         "watch ports for changes",
         "NAME [--interval MS] [--count N]",
         "Reads the ports of board NAME (as for get) every interval and prints a line at the\n"
         "start and whenever a value changed: the seconds since the start (3 decimals), then\n"
         "\"A=0x..\" up to \"E=0x..\" (up to C for a COM-port board). Stops after N lines or\n"
         "on Ctrl-C; fails when the board stops answering.\n"
         "\n"
         "  --interval MS   milliseconds between reads (default 100)\n"
         "  --count N       stop after N lines\n",
         {{"interval", true}, {"count", true}},
         RunMonitor},
        {"vport",
         "write fields of pins",
         "DEVICE START:WIDTH=VALUE...",
         "For each argument, defines an output field of WIDTH pins from pin START on USB board\n"
         "DEVICE and writes VALUE to it, so one value can span port boundaries. Pin n is bit\n"
         "n % 8 of port A, B, C or D for n / 8 = 0, 1, 2, 3 (pins 0 to 26). Fields last only\n"
         "as long as this command; one that cannot be defined (overlap, beyond pin 26) is\n"
         "reported and the command fails.\n",
         {},
         RunVport},
        {"update",
         "update the firmware",
         "TARGET FILE | --all FILE",
         "Writes the firmware image FILE (Intel HEX) into the board, as the dialog's update does:\n"
         "FILE is checked first (at most 1 MiB; a bad file, or one that fits no board, changes\n"
         "no board); a board in its application is sent into its bootloader and followed there;\n"
         "the image is checked against the chip (an unknown chip, or an image that does not fit\n"
         "it, is refused with nothing erased, and the board goes back to its application); its\n"
         "application area is erased, written and verified; the board is restarted, followed\n"
         "back into its application, and its new firmware version is printed. On a terminal a\n"
         "progress bar per board shows the stage, percent and bytes; otherwise a line per stage.\n"
         "A failure names the board, the stage and the address, leaves the board in its\n"
         "bootloader and prints the command that resumes; Ctrl-C lets the block in flight\n"
         "complete, sends nothing more, and exits 130.\n"
         "\n"
         "TARGET is a device ID (7), serial=TEXT or path=LOCATION as 'list --long' prints it;\n"
         "a board in its bootloader has no device ID.\n"
         "\n"
         "  --all     every attached board at once; a summary line per board\n"
         "  --quiet   errors only\n",
         {{"all", false}, {"quiet", false, 'q'}},
         RunUpdate},
        {"verify",
         "compare the firmware with a file",
         "TARGET FILE",
         "Reads back what an update of FILE (Intel HEX) writes, through the board's bootloader:\n"
         "the program from the application start to the image's end, the data EEPROM and ID\n"
         "locations it has, and compares them with FILE. Exits 0 when they are equal, 1 with\n"
         "the first differing address otherwise. Nothing is erased or written; the board ends\n"
         "in the mode it was found in.\n"
         "\n"
         "  --quiet   errors only\n",
         {{"quiet", false, 'q'}},
         RunVerify},
        {"backup",
         "save the firmware to a file",
         "TARGET FILE",
         "Reads the board's application area, data EEPROM and ID locations through its\n"
         "bootloader and writes them to FILE as Intel HEX, which 'zorvane update' writes back;\n"
         "- writes to standard output. FILE is checked before the board is touched: its folder\n"
         "must be writable, and an existing FILE must be a regular file, which is replaced only\n"
         "once the backup is whole. The board ends in the mode it was found in.\n"
         "\n"
         "  --quiet   errors only\n",
         {{"quiet", false, 'q'}},
         RunBackup},
        {"serial",
         "show or set the serial number",
         "TARGET [TEXT]",
         "Prints the board's serial number (an empty line when it has none). With TEXT (exactly\n"
         "8 characters from blank to 'z', what reads back as a valid serial number) writes it\n"
         "into the boot block through the bootloader, checks the block, reads the number back\n"
         "and prints it; the board ends in the mode it was found in.\n",
         {},
         RunSerial},
        {"serve",
         "share a board with the dialog over TCP",
         "TARGET [--listen ADDR:PORT] [--allow ADDR[/PREFIX]]...",
         "Puts the board on TCP for the dialog's network link (address and Connect in Kelvard\n"
         "IO): each frame received goes to the board as the USB request it carries, and each\n"
         "reply goes back as a frame. Serves read-ports, write-ports, read-configuration and\n"
         "write-configuration; frames with other codes are ignored and logged. One client at a\n"
         "time: a new connection takes over and the old one is closed. While the board is\n"
         "unplugged frames get no reply; when it comes back (same path or serial number) it is\n"
         "opened again by itself. Prints the address it listens on; logs clients and the\n"
         "board's comings and goings on stderr. Ctrl-C or SIGTERM closes everything and exits 0.\n"
         "\n"
         "The link has no authentication: anyone who can reach the port can drive the board.\n"
         "So it listens on loopback unless told otherwise. To use the board from another\n"
         "machine, tunnel to it with SSH from there, and the bridge stays on loopback:\n"
         "  ssh -N -L 9764:127.0.0.1:9764 HOST    then Connect to 127.0.0.1 in the dialog\n"
         "or open the port to the machines that may use it, and to no others:\n"
         "  zorvane serve 7 --listen 0.0.0.0:9764 --allow 192.168.1.0/24\n"
         "\n"
         "TARGET is a device ID (7), serial=TEXT or path=LOCATION as 'list --long' prints it.\n"
         "\n"
         "  --listen ADDR:PORT      IPv4 address and port to listen on (default\n"
         "                          127.0.0.1:9764; port 0 picks a free one)\n"
         "  --allow ADDR[/PREFIX]   only peers in this range may connect (repeatable); any\n"
         "                          other is closed at once and logged\n",
         {{"listen", true}, {"allow", true}},
         RunServe},
        {"mqtt",
         "put the boards on an MQTT broker",
         "[OPTIONS] [TARGET...]",
         "Publishes every USB board (or the TARGETs: device ID, serial=TEXT, path=LOCATION, a\n"
         "COM port such as COM3, tcp:HOST[:PORT]) on an MQTT broker and takes commands from\n"
         "it, until Ctrl-C or SIGTERM. Under BASE (kelvard/HOSTNAME), with BOARD the board's\n"
         "serial number, else id<N> with its device ID, else its name:\n"
         "  BASE/status                online / offline (retained; offline is also the will)\n"
         "  BASE/BOARD/status          online / offline as the board comes and goes\n"
         "  BASE/BOARD/A .. E          port levels 0 to 255; BASE/BOARD/A0 .. E7 pins 0 or 1\n"
         "  BASE/BOARD/A/direction     direction masks (bit set = input)\n"
         "  BASE/BOARD/analog/E0 ..    the enabled analog inputs, 0 to 1023\n"
         "  BASE/BOARD/A/set           write a port (0 to 255, decimal or 0x hex)\n"
         "  BASE/BOARD/A3/set          write an output pin (0, 1, ON, OFF)\n"
         "  BASE/BOARD/A/direction/set set a port's directions\n"
         "  BASE/BOARD/error           why a command was refused (not retained)\n"
         "States are retained, polled every interval and published when they change; commands\n"
         "apply in arrival order and publish the new state. Home Assistant discovers a switch\n"
         "per output pin, a binary_sensor per input pin and a sensor per analog input. The\n"
         "gateway never gives up on the broker: it reconnects with backoff and publishes every\n"
         "retained message again.\n"
         "\n"
         "  --broker HOST[:PORT]      the broker (default localhost:1883)\n"
         "  --username NAME           log in as NAME\n"
         "  --password-file FILE      the password: FILE's first line (others may not read FILE)\n"
         "  --tls-ca FILE             TLS, trusting the CAs in FILE\n"
         "  --tls-cert FILE, --tls-key FILE   a client certificate and its key\n"
         "  --client-id ID            the MQTT client ID (default: one of the library's)\n"
         "  --keepalive S             seconds between keepalives (default 60)\n"
         "  --topic BASE              the topics' base (default kelvard/HOSTNAME)\n"
         "  --discovery-prefix P      Home Assistant's discovery prefix (default homeassistant)\n"
         "  --no-discovery            publish no discovery messages\n"
         "  --interval MS             milliseconds between polls (default 100)\n",
         {{"broker", true}, {"username", true}, {"password-file", true}, {"tls-ca", true},
          {"tls-cert", true}, {"tls-key", true}, {"client-id", true}, {"keepalive", true},
          {"topic", true}, {"discovery-prefix", true}, {"no-discovery", false},
          {"interval", true}},
         RunMqtt},
    };
    return COMMANDS;
}

int Fail(const char* pszFormat, ...)
{
    std::fputs("zorvane: ", stderr);
    va_list args;
    va_start(args, pszFormat);
    std::vfprintf(stderr, pszFormat, args);
    va_end(args);
    std::fputc('\n', stderr);
    return 1;
}
