#!/usr/bin/env python3
"""The fault kill count: how many deliberate one-line faults the tests notice.

Each fault of the list below is put into the code alone, the test programs that should notice it
are rebuilt (incrementally, in the default build) and run, and the file is put back, whatever
happens (a failed build, Ctrl-C, a test that hangs). A fault is caught when one of its tests
fails; it survives when they all pass; a fault whose build fails is not applicable (every fault
here is one that compiles). Prints one line per fault and "N of M faults caught"; exit status 0
when every fault was caught.

    scripts/fault-kill-count.py            # every fault (make kill-count)
    scripts/fault-kill-count.py 3 17-20    # faults 3 and 17 to 20
    scripts/fault-kill-count.py --list     # the faults, without running anything
"""

import argparse
import re
import signal
import subprocess
import sys
import time
from pathlib import Path
from typing import Dict, List, NamedTuple, Optional, Set

ROOT = Path(__file__).resolve().parent.parent


class Fault(NamedTuple):
    path: str  # from the repository root
    original: str  # the exact text, found exactly once in the file
    replacement: str
    tests: str  # ctest -R alternatives, e.g. "test_command_set|test_board_link"
    what: str


FAULTS = [
    # protocol/: command bytes, lengths, parse positions, the driver operations
    Fault("protocol/CommandSet.cpp",
          "{CMD_WRITE_PORTS, 6, 0, \"write-ports\"},",
          "{CMD_WRITE_PORTS, 5, 0, \"write-ports\"},",
          "test_command_set|test_board_link", "write-ports request one byte short (no port E)"),
    Fault("protocol/CommandSet.cpp",
          "return static_cast<std::uint16_t>(packet[2] | (packet[3] << 8));",
          "return static_cast<std::uint16_t>(packet[3] | (packet[2] << 8));",
          "test_command_set|test_board_link", "version word read big-endian"),
    Fault("protocol/CommandSet.cpp",
          "std::min<std::size_t>(packet[1] / 2, SERIAL_TEXT_MAX);",
          "std::min<std::size_t>(packet[1] / 2 + 1, SERIAL_TEXT_MAX);",
          "test_command_set|test_board_link", "serial number one character too long"),
    Fault("protocol/CommandSet.cpp",
          "pBytes10[9] = config.byAnalogCount;",
          "pBytes10[9] = 0;",
          "test_command_set|test_board_link|test_tarvel_dialog",
          "configuration write drops the analog input count"),
    Fault("protocol/BoardLink.cpp",
          "return result.eWrite != EStatus::Ok ? result.eWrite : result.eRead;",
          "return result.eWrite;",
          "test_board_link", "a failed read passes for a reply"),
    Fault("protocol/Enumeration.cpp",
          "if (--nRemaining == 0)",
          "if (--nRemaining < 0)",
          "test_driver", "the enumeration walk goes one board too far"),
    Fault("protocol/Mpusb.cpp",
          "(dwDir == MP_READ ? 0x80 : 0x00)",
          "(dwDir == MP_WRITE ? 0x80 : 0x00)",
          "test_driver|test_board_link", "read and write pipes swap endpoints"),
    Fault("protocol/net/Frames.cpp",
          "constexpr std::size_t READ_PORTS_MIN = 2 + PORT_COUNT;",
          "constexpr std::size_t READ_PORTS_MIN = 1 + PORT_COUNT;",
          "test_tarvel_network", "a read-ports reply without port E is drawn"),
    Fault("protocol/net/Frames.cpp",
          "packet[i] = pFrame[i + 1];",
          "packet[i] = pFrame[i];",
          "test_net_bridge", "frame payload goes to the board one place off"),
    Fault("protocol/net/Frames.cpp",
          "constexpr std::size_t INVERSION_AT = 3;",
          "constexpr std::size_t INVERSION_AT = 2;",
          "test_tarvel_network", "inversion frame carries the masks as directions"),
    Fault("protocol/net/FrameReceiver.cpp",
          "if (nFrameLength == m_nReceived)",
          "if (nFrameLength == m_nReceived + 1)",
          "test_tarvel_network|test_net_bridge", "a 2-byte frame waits for a byte more"),
    Fault("protocol/BoardLink.cpp",
          "return eStatus == EStatus::Ok && nMoved != nLength ? EStatus::Usb : eStatus;",
          "return eStatus;",
          "test_board_link", "a pipe write that moves fewer bytes than asked passes"),
    Fault("protocol/DriverContext.cpp",
          "const EStatus eWrite =\n        m_pBackend->OpenPipe(nInstance, MPUSB_VENDOR, MPUSB_PRODUCT,"
          " ENDPOINT_WRITE, pipeWrite);\n"
          "    const EStatus eStatus = eRead != EStatus::Ok ? eRead : eWrite;",
          "m_pBackend->OpenPipe(nInstance, MPUSB_VENDOR, MPUSB_PRODUCT, ENDPOINT_WRITE, pipeWrite);\n"
          "    const EStatus eStatus = eRead;",
          "test_driver", "a board whose write pipe does not open is taken as open"),
    Fault("protocol/DeviceWatch.cpp",
          "    std::call_once(m_onceConnect, m_fnConnect);\n",
          "\n",
          "test_driver", "the watch never asks its backend for reports"),
    # protocol/backends
    Fault("sim/SimBackend.cpp",
          "return IsBoardIdentity(wVendor, wProduct) ? m_pBus->Count() : 0;",
          "return wVendor == MPUSB_VENDOR || wProduct == MPUSB_PRODUCT ? m_pBus->Count() : 0;",
          "test_driver", "boards counted for half their identity"),
    Fault("protocol/backends/LibusbBackend.cpp",
          "                         libusb_get_bus_number(m_ppList[i]),",
          "                         std::uint8_t{1},",
          "test_libusb_backend", "libusb instances ignore the bus number"),
    Fault("sim/SimBackend.cpp",
          "        return EStatus::Ok;\n"
          "    return m_pBus->IsPipeAttached(pipe) ? EStatus::Usb : EStatus::Gone;\n}\n\n"
          "EStatus CSimBackend::ReadPipe",
          "        return EStatus::Ok;\n"
          "    return EStatus::Usb;\n}\n\n"
          "EStatus CSimBackend::ReadPipe",
          "test_board_link|test_driver", "a write to a board that left reads as a plain failure"),
    # sim/
    Fault("sim/SimFirmware.cpp",
          "levels[p] = static_cast<std::uint8_t>((byDir[p] & byIn) | (~byDir[p] & byLatch[p]));",
          "levels[p] = static_cast<std::uint8_t>((byDir[p] & byIn) | (byDir[p] & byLatch[p]));",
          "test_sim_bus|test_board_link", "simulated outputs do not read back their latch"),
    Fault("sim/SimMemory.cpp",
          "m_vecFlash[nAddress] &= byValue;",
          "m_vecFlash[nAddress] = byValue;",
          "test_sim_bus", "simulated flash sets bits without an erase"),
    Fault("sim/SimMemory.cpp",
          "std::fill_n(m_vecFlash.begin() + nBlock, SIM_ERASE_BLOCK, 0xFF);",
          "std::fill_n(m_vecFlash.begin() + nBlock, SIM_ERASE_BLOCK / 2, 0xFF);",
          "test_sim_bus|test_bootloader", "simulated erase clears half a block"),
    Fault("sim/SimBus.cpp",
          "if (!slot.bAttached || slot.nGeneration != it->second.nGeneration)",
          "if (!slot.bAttached)",
          "test_sim_bus", "pipes survive a board's reset"),
    Fault("sim/SimSerialBoard.cpp",
          "strReply += \",\" + std::to_string(LevelLocked(i));",
          "strReply += \",\" + std::to_string(LevelLocked(0));",
          "test_zorvane_com_exports|test_zorvane_golden", "COM-port board answers port A thrice"),
    # firmware/: HEX reader, bootloader requests, erase/write loops, verify, progress and stop
    Fault("firmware/HexImage.cpp",
          "if ((nFlags & NOT_HEX) != 0 || ((0U - nSum) & 0xFF)",
          "if (((0U - nSum) & 0xFF)",
          "test_hex_loader", "non-hex characters pass as 0"),
    Fault("firmware/HexImage.cpp",
          "{0x0020, 0x0020, EHexArea::Id},",
          "{0x0020, 0x0021, EHexArea::Id},",
          "test_hex_loader", "upper word 0x0021 taken for ID data"),
    Fault("firmware/HexImage.cpp",
          "bProgramData = bProgramData || nCount > 0;",
          "bProgramData = true;",
          "test_hex_loader", "empty program records pass for program data"),
    Fault("firmware/BootLoader.cpp",
          "buffer[3] = static_cast<std::uint8_t>(nAddress >> 8);",
          "buffer[3] = static_cast<std::uint8_t>(nAddress >> 9);",
          "test_bootloader", "request address bits 8-15 wrong"),
    Fault("firmware/BootLoader.cpp",
          "for (std::int64_t nAddress = nFirst; nAddress <= nLast; nAddress += m_nEraseBlock)",
          "for (std::int64_t nAddress = nFirst + m_nEraseBlock; nAddress <= nLast;"
          " nAddress += m_nEraseBlock)",
          "test_bootloader", "erase loop skips the first block"),
    Fault("firmware/BootLoader.cpp",
          "PutHeader(buffer, static_cast<std::uint8_t>(nCommand), nBlock, nAt);\n"
          "        std::memcpy",
          "PutHeader(buffer, static_cast<std::uint8_t>(nCommand), nCount, nAt);\n"
          "        std::memcpy",
          "test_bootloader", "write request counts the bytes sent, not the block"),
    Fault("firmware/BootLoader.cpp",
          "std::memset(buffer.data() + BL_REQUEST_HEADER, 0, static_cast<std::size_t>(nCount));\n"
          "        if (SendGetPacket(buffer.data(), BL_REQUEST_HEADER, REPLY_LENGTH) < 0)\n"
          "        {\n"
          "            DebugOutput(\"Failed SendGetPacket while verifying",
          "if (SendGetPacket(buffer.data(), BL_REQUEST_HEADER, REPLY_LENGTH) < 0)\n"
          "        {\n"
          "            DebugOutput(\"Failed SendGetPacket while verifying",
          "test_bootloader", "a short read-back passes for the data written"),
    Fault("firmware/BootLoader.cpp",
          "static_cast<std::size_t>(nCount)) != 0)",
          "static_cast<std::size_t>(nCount - 1)) != 0)",
          "test_bootloader", "verify skips the last byte of a block"),
    Fault("firmware/BootLoader.cpp",
          "std::int64_t(m_nProgramEnd) + 1 - m_nAppStart +",
          "std::int64_t(m_nProgramEnd) - m_nAppStart +",
          "test_zorvane_golden", "erase stage announces a byte too few"),
    Fault("firmware/BootLoader.cpp",
          "2 * Blocks(m_nAppStart, m_nProgramExtent, m_nWriteBlock) +",
          "Blocks(m_nAppStart, m_nProgramExtent, m_nWriteBlock) +",
          "test_bootloader|test_tarvel_update",
          "progress reaches 100 % half way through the program"),
    Fault("firmware/BootLoader.cpp",
          "        if (m_bStop)\n"
          "        {\n"
          "            return Failed(EStatus::Stopped, nAddress);",
          "        if (false)\n"
          "        {\n"
          "            return Failed(EStatus::Stopped, nAddress);",
          "test_zorvane_firmware", "erase ignores Ctrl-C"),
    Fault("firmware/BootLoader.cpp",
          "const std::uint8_t byChar = buffer[BL_REQUEST_HEADER + 2 * i];",
          "const std::uint8_t byChar = buffer[BL_REQUEST_HEADER + 2 * i + 1];",
          "test_serial_number", "serial number read from the odd bytes"),
    Fault("firmware/BootLoader.cpp",
          "if (strSerial.empty() || strSerial.size() > SERIAL_LENGTH)",
          "if (strSerial.size() > SERIAL_LENGTH)",
          "test_serial_number", "an empty serial number rewrites the boot block"),
    Fault("firmware/BootLoadThread.cpp",
          "if (eStatus != EStatus::Ok && fnOnFailure)",
          "if (fnOnFailure)",
          "test_boot_load_worker|test_bootloader", "a successful update reports a failure"),
    Fault("firmware/BootLoadThread.cpp",
          "    if (IsUpdatingLocked(tagLink))\n",
          "    if (false)\n",
          "test_boot_load_worker", "two workers update one board"),
    # zorvane/: exports, caches, virtual ports, COM text protocol, stale replies, quiet rule,
    # whole-line writes, the library lock
    Fault("zorvane/exports/ZorvaneApp.cpp",
          "static_cast<std::size_t>(nSize) - 1);",
          "static_cast<std::size_t>(nSize));",
          "test_zorvane_golden", "error text fills the buffer without room for its end"),
    Fault("zorvane/exports/ZorvaneApp.cpp",
          "    m_strLastError.clear();\n",
          "\n",
          "test_zorvane_golden", "error text not taken by reading it"),
    Fault("zorvane/exports/ZorvaneApp.cpp",
          "if (pDevice->IsInBootloader() || !pDevice->m_bIdentified)",
          "if (pDevice->IsInBootloader())",
          "test_zorvane_golden", "a board that never told its ID is listed as 0"),
    Fault("zorvane/exports/ExportCall.h",
          "std::lock_guard lock(app.Mutex());",
          "(void)app.Mutex();",
          "test_zorvane_linked", "exports without the library lock"),
    Fault("zorvane/devices/UsbDev.cpp",
          "m_byPortE = ports[PORT_E];",
          "m_byPortE = ports[PORT_D];",
          "test_zorvane_golden", "a read caches port D as port E"),
    Fault("zorvane/devices/UsbDevVirtualPorts.cpp",
          "if (other.dwMask & info.dwMask)",
          "if (other.dwMask == info.dwMask)",
          "test_zorvane_golden", "overlapping virtual ports accepted"),
    Fault("zorvane/devices/UsbDevVirtualPorts.cpp",
          "if (static_cast<std::uint8_t>(nInput))",
          "if (nInput)",
          "test_zorvane_golden", "virtual-port direction from all bits of nInput"),
    Fault("zorvane/devices/HiddenWnd.cpp",
          "if (m_bArmed && nEventType == DBT_DEVNODES_CHANGED)",
          "if (nEventType == DBT_DEVNODES_CHANGED)",
          "test_zorvane_linked", "device changes followed before Initialize"),
    Fault("zorvane/serial/SerialText.cpp",
          "return Format(\"C,%d,%d,%d,%d\\n\", byDirA, byDirB, byDirC, 0);",
          "return Format(\"C,%d,%d,%d\\n\", byDirA, byDirB, byDirC, 0);",
          "test_zorvane_golden", "configure line without its fourth field"),
    Fault("zorvane/serial/SerialText.cpp",
          "return Format(strFormat.c_str(), nBit & 0xFF, nValue);",
          "return Format(strFormat.c_str(), nBit, nValue);",
          "test_zorvane_golden", "bit number sent unmasked"),
    Fault("zorvane/serial/SerialText.cpp",
          "std::strtol(pszText, nullptr, 10)",
          "std::strtol(pszText, nullptr, 16)",
          "test_serial_port", "reply fields read as hex"),
    Fault("zorvane/serial/SerialText.cpp",
          "    for (int i = 0; i < 3; ++i)\n"
          "    {\n"
          "        nAt",
          "    for (int i = 0; i < 2; ++i)\n"
          "    {\n"
          "        nAt",
          "test_serial_port|test_zorvane_com_exports", "a reply of two fields counts as whole"),
    Fault("zorvane/serial/ComPortName.cpp",
          "strOut += std::to_string(nPort - 1);",
          "strOut += std::to_string(nPort);",
          "test_serial_port|test_zorvane_golden", "COMn opens device n, not n - 1"),
    Fault("zorvane/devices/BitIO.cpp",
          "    m_pSerial->DiscardInput();\n",
          "\n",
          "test_zorvane_com_exports", "a stale reply is taken for the pins"),
    Fault("zorvane/devices/BitIO.cpp",
          "HasAllReplyFields(strPending) ? std::min(remaining, REPLY_QUIET) : remaining;",
          "remaining;",
          "test_zorvane_com_exports|test_kelvard_sim_serial",
          "a reply without line end waits for the whole bound"),
    Fault("zorvane/serial/Serial.cpp",
          "    m_vecUnsent.assign(pData + nDone, pData + nLength);\n",
          "\n",
          "test_serial_port", "the end of a line cut short is never sent"),
    Fault("zorvane/serial/Serial.cpp",
          "if (!IsOpen() || !pData || nLength <= 0 || !FitsTransmitQueue(nLength, 0))",
          "if (!IsOpen() || !pData || nLength <= 0)",
          "test_serial_port", "a line longer than the transmit queue goes out"),
    # zorvane/cli: targets, update, backup, serial, serve
    Fault("zorvane/cli/BoardTarget.cpp",
          "if (vecMatches.size() > 1)",
          "if (vecMatches.size() > 2)",
          "test_zorvane_golden", "a target matching two boards takes the first"),
    Fault("zorvane/cli/UpdateCommand.cpp",
          "return eStatus == EStatus::NoFit || eStatus == EStatus::UnknownChip;",
          "return eStatus != EStatus::Ok;",
          "test_zorvane_golden", "a failed update restarts a board without firmware"),
    Fault("zorvane/cli/FirmwareJob.cpp",
          "!m_infoBoard.bBoot && (eStatus == EStatus::Ok || RestartAfterFailure(eStatus));",
          "(eStatus == EStatus::Ok || RestartAfterFailure(eStatus));",
          "test_zorvane_golden", "a board found in its bootloader is restarted"),
    Fault("zorvane/cli/BackupCommand.cpp",
          "constexpr std::uint32_t HEX_EEPROM_ADDRESS = 0xF00000;",
          "constexpr std::uint32_t HEX_EEPROM_ADDRESS = 0xF00100;",
          "test_zorvane_firmware", "backup puts the EEPROM at the wrong address"),
    Fault("zorvane/cli/SerialCommand.cpp",
          "m_strReadBack = loader.ReadSerNo();",
          "m_strReadBack = m_strSerial;",
          "test_zorvane_golden", "serial prints what it wrote, not what it read back"),
    Fault("zorvane/cli/JobRunner.cpp",
          "return 128 + nSignal;",
          "return 1;",
          "test_zorvane_firmware", "Ctrl-C exits with 1, not 130"),
    Fault("zorvane/cli/NetBridge.cpp",
          "    if (!IsLinkCommand(byCode))\n",
          "    if (false)\n",
          "test_net_bridge", "serve passes enter-bootloader to the board"),
    Fault("zorvane/cli/NetBridge.cpp",
          "return ((nPeer ^ nAddress) & nMask) == 0;",
          "return ((nPeer ^ nAddress) & nMask) != 0;",
          "test_net_bridge|test_tarvel_network", "--allow turned inside out"),
    Fault("zorvane/devices/UsbDev.cpp",
          "    m_byPortD = ports[PORT_D];\n",
          "\n",
          "test_zorvane_golden", "a read leaves port D out of the cached values"),
    Fault("zorvane/cli/NetBridge.cpp",
          "~std::uint32_t(0) << (32 - nPrefix)",
          "static_cast<std::uint32_t>(~std::uint64_t(0) << (33 - nPrefix))",
          "test_net_bridge", "--allow ranges one bit too wide"),
    Fault("firmware/BoardScan.cpp",
          "board.strSerial == strValue",
          "board.strSerial.compare(0, 4, strValue, 0, 4) == 0",
          "test_zorvane_golden", "serial= matches by the first four characters"),
    Fault("zorvane/cli/ToolMain.cpp",
          "    CDriverContext::SetDefault(pContext);\n",
          "\n",
          "test_zorvane_tool", "--simulate leaves the exports on real boards"),
    # tarvel/: grid, polling rule, exchanges, network frames, discovery, the simulated boards' drift
    Fault("tarvel/dialog/TarvelDlgGrid.cpp",
          "return nPort == PORT_D ? 4 : 7;",
          "return nPort == PORT_D ? 5 : 7;",
          "test_tarvel_dialog", "Set and Clear reach D5"),
    Fault("tarvel/dialog/TarvelDlgGrid.cpp",
          "constexpr std::uint8_t ANALOG_MASKS[] = {0x00, 0x01, 0x03, 0x07, 0x0F};",
          "constexpr std::uint8_t ANALOG_MASKS[] = {0x00, 0x01, 0x03, 0x07, 0x1F};",
          "test_tarvel_dialog", "four analog channels mark E4 too"),
    Fault("tarvel/dialog/TarvelDlgExchanges.cpp",
          "        byPorts = config.byDir;\n"
          "        ApplyPollingRule(byPorts);\n",
          "        byPorts = config.byDir;\n",
          "test_tarvel_dialog", "directions read do not stop or start the polling"),
    Fault("tarvel/dialog/TarvelDlgExchanges.cpp",
          "                config.byDir[PORT_E] = 0;\n",
          "\n",
          "test_tarvel_dialog", "analog inputs keep port E's direction"),
    Fault("tarvel/dialog/TarvelDlgDiscovery.cpp",
          "    if (nCount == m_nDeviceCount)\n"
          "        return;\n",
          "\n",
          "test_tarvel_dialog", "every device change reopens every board"),
    Fault("tarvel/dialog/TarvelDlgDiscovery.cpp",
          "m_pDevice->m_wVersion >= UPDATABLE_VERSION",
          "m_pDevice->m_wVersion > UPDATABLE_VERSION",
          "test_tarvel_dialog", "firmware 1.03 cannot be updated"),
    Fault("tarvel/net/ClientSocket.cpp",
          "    if (!m_sendQueue.empty())\n"
          "        return Enqueue()",
          "    if (false)\n"
          "        return Enqueue()",
          "test_tarvel_network", "a new frame overtakes the refused ones"),
    Fault("tarvel/dialog/TarvelDlgExchanges.cpp",
          "for (int nPort = PORT_A; nPort <= PORT_D; ++nPort)",
          "for (int nPort = PORT_A; nPort < PORT_D; ++nPort)",
          "test_tarvel_dialog", "a polarity change drops port D's inversion"),
    Fault("sim/SimModule.cpp",
          "(nFlags & SIM_MODULE_DRIFT) != 0",
          "(nFlags & SIM_MODULE_DRIFT) != 0 && false",  # nFlags stays used: warnings are errors
          "test_tarvel_dialog", "tarvel --simulate's boards do not drift"),
    # the safety checks: an image that does not fit, identification, ID placement, backup
    # files, COM-port replies, the serial number's rewrite, endpoint types, the served board
    Fault("firmware/BootLoader.cpp",
          "    if (!m_strRefusal.empty())\n    {\n        DebugOutputFormat(\"Image does not fit",
          "    if (false)\n    {\n        DebugOutputFormat(\"Image does not fit",
          "test_bootloader|test_zorvane_golden", "the fit check skipped"),
    Fault("firmware/HexImage.cpp",
          "else if (m_nProgramExtent <= chip.nAppStart)",
          "else if (m_nProgramExtent <= 0)",
          "test_bootloader|test_zorvane_golden|test_tarvel_update",
          "an image without application data is written"),
    Fault("firmware/HexImage.cpp",
          "else if (m_nProgramExtent > chip.nProgramEnd + 1)",
          "else if (m_nProgramExtent > chip.nProgramEnd + 2)",
          "test_bootloader|test_zorvane_golden", "a byte beyond the chip's end fits"),
    Fault("firmware/HexImage.cpp",
          "if (m_nProgramHighWord != 0)",
          "if (m_nProgramHighWord > 1)",
          "test_bootloader", "program data above 64 KB fold onto the chip"),
    Fault("firmware/HexImage.cpp",
          "else if (m_nEepromExtent > chip.nEepromSize)",
          "else if (m_nEepromExtent > chip.nEepromSize + 1)",
          "test_bootloader", "EEPROM data one byte beyond the chip fit"),
    Fault("firmware/HexImage.cpp",
          "else if (m_nIdExtent > static_cast<int>(m_idImage.size()))",
          "else if (m_nIdExtent > static_cast<int>(m_idImage.size()) + 1)",
          "test_bootloader", "ID data beyond the 16 locations fit"),
    Fault("firmware/HexImage.cpp",
          "std::memcpy(m_idImage.data() + nAddress, pData,",
          "std::memcpy(m_idImage.data(), pData,",
          "test_hex_loader", "ID records placed by their first byte"),
    Fault("firmware/BootLoader.cpp",
          "ID_REPLY_LENGTH) < ID_REPLY_MIN)",
          "ID_REPLY_LENGTH) < 0)",
          "test_bootloader", "a short identification reply is taken for a chip"),
    Fault("zorvane/cli/UpdateCommand.cpp",
          "loader.m_bKnownChipsOnly = true;",
          "loader.m_bKnownChipsOnly = false;",
          "test_zorvane_golden", "zorvane updates a chip it does not know"),
    Fault("firmware/BootLoader.cpp",
          "{BL_READ_MEMORY, m_nIdStart, m_nIdExtent != 0 ? m_nIdEnd : m_nIdStart, m_idImage.data()},",
          "{BL_READ_MEMORY, m_nIdStart, m_nIdStart, m_idImage.data()},",
          "test_bootloader", "verify skips the ID locations"),
    Fault("firmware/BootLoader.cpp",
          "constexpr int SERIAL_WRITE_TRIES = 4;",
          "constexpr int SERIAL_WRITE_TRIES = 1;",
          "test_serial_number", "the serial number's block is not written again"),
    Fault("zorvane/cli/BackupCommand.cpp",
          "if (m_bExists && !S_ISREG(st.st_mode))",
          "if (m_bExists && S_ISBLK(st.st_mode))",
          "test_zorvane_firmware", "backup replaces a named pipe"),
    Fault("zorvane/cli/BackupCommand.cpp",
          "        if (!m_bCommitted)\n            unlink(m_strTemporary.c_str());\n",
          "\n",
          "test_zorvane_firmware", "a failed backup leaves its file behind"),
    Fault("zorvane/devices/BitIO.h",
          "REPLY_QUIET{25000};",
          "REPLY_QUIET{3125};",
          "test_zorvane_com_exports", "a reply is cut at a USB-serial adapter's pause"),
    Fault("zorvane/devices/BitIO.h",
          "BIT_REPLY_WAIT_MS = 30;",
          "BIT_REPLY_WAIT_MS = 0;",
          "test_zorvane_com_exports", "a bit read does not wait for its reply"),
    Fault("protocol/backends/LibusbBackend.cpp",
          "    return bInterrupt\n",
          "    return bInterrupt && false\n",
          "test_libusb_backend", "interrupt endpoints get bulk transfers"),
    Fault("zorvane/cli/NetBridge.cpp",
          "return {m_infoBoard.strLocation, m_infoBoard.strSerial, true};",
          "return {m_infoBoard.strLocation, m_infoBoard.strSerial, false};",
          "test_net_bridge", "serve takes another board at its board's place"),
    Fault("tarvel/bootloader/DialogUpdates.cpp",
          "    if (!strProblem.empty())\n    {\n        QMessageBox failed",
          "    if (false)\n    {\n        QMessageBox failed",
          "test_tarvel_update", "the dialog sends a board to its bootloader for a bad image"),
    # kelvard/ and the MQTT gateway: read-modify-write, what a kind refuses, confirmations,
    # refused commands, re-publishing, discovery
    Fault("kelvard/KelvardBoard.cpp",
          "if (nMask & KELVARD_CONFIG_POLARITY(nPort))",
          "if (nMask != 0)",
          "test_kelvard_api", "a change of the configuration overwrites polarity it did not name"),
    Fault("kelvard/TcpBoard.cpp",
          "    PortBytes levels{};\n    return nResult == KELVARD_OK ? ExchangeReadPorts(levels) : nResult;",
          "    return nResult;",
          "test_kelvard_api|test_kelvard_tool", "a tcp: port write is not confirmed by a read"),
    Fault("kelvard/ComBoard.cpp",
          "if (nMask != COM_DIRECTIONS)",
          "if (nMask == 0)",
          "test_kelvard_api", "a COM-port board takes a change that loses the other directions"),
    Fault("kelvard/UsbBoard.cpp",
          "static_cast<std::int32_t>(dwValue & dwWidthMask)",
          "static_cast<std::int32_t>(dwValue | (dwWidthMask & 0))",
          "test_kelvard_api", "a field's value spills onto the pins above it"),
    Fault("kelvard/UsbBoard.cpp",
          "return KELVARD_ERR_AMBIGUOUS;",
          "return KELVARD_OK;",
          "test_kelvard_api", "a name that fits two boards opens one of them"),
    Fault("python/kelvard/_board.py",
          "self._change(config, (1 << len(masks)) - 1, \"configure\")",
          "self._change(config, lib.CONFIG_ALL_DIRECTIONS | lib.CONFIG_ALL_POLARITY, \"configure\")",
          "test_python", "configure() wipes the polarity again"),
    Fault("zorvane/cli/ConfigCommand.cpp",
          "nMask |= KELVARD_CONFIG_POLARITY(nPort);",
          "nMask |= KELVARD_CONFIG_ALL_POLARITY;",
          "test_kelvard_tool", "config --invert B=... writes every port's polarity"),
    Fault("zorvane/cli/MqttBoard.cpp",
          "    if (IsInput(nPort, nBit))\n        return strSubject + \" is an input\";\n",
          "",
          "test_mqtt_gateway", "a pin set command drives an input"),
    Fault("zorvane/cli/MqttGateway.cpp",
          "if (m_bRepublish.exchange(false))",
          "if (m_bRepublish.exchange(false) && m_nPolls == 0)",
          "test_mqtt_gateway", "a reconnection publishes nothing again"),
    Fault("zorvane/cli/MqttDiscovery.cpp",
          ".Add(\"availability_mode\", \"all\")",
          ".Add(\"availability_mode\", \"any\")",
          "test_mqtt_gateway", "an entity stays available while its board is gone"),
]

# Tests whose program is no target of the same name.
TEST_TARGETS: Dict[str, List[str]] = {
    "test_kelvard_boards": ["kelvard-boards"],
    "test_zorvane_exports_list": ["zorvane"],
    "test_python": ["kelvard", "kelvard-sim"],
}


def targets_of(tests: str) -> List[str]:
    targets: List[str] = []
    for test in tests.split("|"):
        for target in TEST_TARGETS.get(test, [test]):
            if target not in targets:
                targets.append(target)
    return targets


def run(command: List[str], log: Path) -> bool:
    with log.open("w") as output:
        return subprocess.run(command, cwd=ROOT, stdout=output,
                              stderr=subprocess.STDOUT).returncode == 0


def build(targets: List[str], log: Path) -> bool:
    return run(["cmake", "--build", "--preset", "default", "-j2", "--target", *targets], log)


def tests_pass(tests: str, log: Path, jobs: int) -> bool:
    return run(["ctest", "--preset", "default", "-j", str(jobs), "--timeout", "120",
                "-R", "^(" + tests + ")$"], log)


def failed_tests(log: Path) -> str:
    failed = re.findall(r"^\s*\d+ - (\S+) \(", log.read_text(errors="replace"), re.MULTILINE)
    return ", ".join(failed)


def chosen(selection: List[str]) -> List[int]:
    if not selection:
        return list(range(1, len(FAULTS) + 1))
    numbers: List[int] = []
    for item in selection:
        first, _, last = item.partition("-")
        numbers.extend(range(int(first), int(last or first) + 1))
    if any(n < 1 or n > len(FAULTS) for n in numbers):
        sys.exit(f"fault-kill-count: faults are numbered 1 to {len(FAULTS)}")
    return numbers


def check_texts(numbers: List[int]) -> None:
    for n in numbers:
        fault = FAULTS[n - 1]
        count = (ROOT / fault.path).read_text().count(fault.original)
        if count != 1:
            sys.exit(f"fault-kill-count: fault {n}: its text is in {fault.path} {count} times, "
                     "not once")


def stop(signum: int, frame: object) -> None:
    raise KeyboardInterrupt  # the file being faulted is put back on the way out


def restore(source: Path, text: bytes) -> None:
    """Puts the file back; Ctrl-C and SIGTERM wait until it is."""
    signals = {signal.SIGINT, signal.SIGTERM}
    signal.pthread_sigmask(signal.SIG_BLOCK, signals)
    try:
        source.write_bytes(text)
    finally:
        signal.pthread_sigmask(signal.SIG_UNBLOCK, signals)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("faults", nargs="*", help="fault numbers or ranges (default: all)")
    parser.add_argument("--list", action="store_true", help="list the faults and exit")
    parser.add_argument("-j", "--jobs", type=int, default=2, help="tests run in parallel")
    args = parser.parse_args()
    numbers = chosen(args.faults)
    check_texts(numbers)
    if args.list:
        for n in numbers:
            f = FAULTS[n - 1]
            print(f"{n:3} {f.path}: {f.what} [{f.tests}]")
        return 0
    paths = sorted({FAULTS[n - 1].path for n in numbers})
    if subprocess.run(["git", "diff", "--quiet", "--", *paths], cwd=ROOT).returncode != 0:
        sys.exit("fault-kill-count: the files to fault have changes of their own: commit them")
    signal.signal(signal.SIGTERM, stop)
    logs = ROOT / "build" / "kill-count"
    logs.mkdir(parents=True, exist_ok=True)

    # Every test as it stands must pass, or a failure would say nothing about a fault.
    tests = "|".join(sorted({t for n in numbers for t in FAULTS[n - 1].tests.split("|")}))
    print("fault-kill-count: building and running the tests without a fault", flush=True)
    if not build(targets_of(tests), logs / "baseline-build.log"):
        sys.exit(f"fault-kill-count: the build fails without a fault: {logs}/baseline-build.log")
    if not tests_pass(tests, logs / "baseline-test.log", args.jobs):
        sys.exit("fault-kill-count: tests fail without a fault (" +
                 failed_tests(logs / "baseline-test.log") + f"); see {logs}/baseline-test.log")

    caught: List[int] = []
    survived: List[int] = []
    broken: List[int] = []
    try:
        for n in numbers:
            fault = FAULTS[n - 1]
            source = ROOT / fault.path
            text = source.read_bytes()
            started = time.monotonic()
            try:
                faulty = text.replace(fault.original.encode(), fault.replacement.encode())
                source.write_bytes(faulty)
                if not build(targets_of(fault.tests), logs / f"{n}-build.log"):
                    broken.append(n)
                    verdict = f"not applicable (build fails: {logs}/{n}-build.log)"
                elif tests_pass(fault.tests, logs / f"{n}-test.log", args.jobs):
                    survived.append(n)
                    verdict = "SURVIVED"
                else:
                    caught.append(n)
                    verdict = "caught by " + failed_tests(logs / f"{n}-test.log")
            finally:
                restore(source, text)
            print(f"{n:3} {fault.path}: {fault.what}: {verdict} "
                  f"({time.monotonic() - started:.0f} s)", flush=True)
    except KeyboardInterrupt:
        print("fault-kill-count: stopped", file=sys.stderr)
    if subprocess.run(["git", "diff", "--quiet", "--", *paths], cwd=ROOT).returncode != 0:
        print("fault-kill-count: a faulted file differs from git after restoring it!",
              file=sys.stderr)
        return 2

    # The test programs of the last fault still hold it: built again from the restored files.
    print("fault-kill-count: building the tests again from the restored files", flush=True)
    build(targets_of(tests), logs / "final-build.log")

    tried = len(caught) + len(survived) + len(broken)
    print(f"\n{len(caught)} of {tried} faults caught")
    if survived:
        print("survived: " + ", ".join(str(n) for n in survived))
    if broken:
        print("not applicable (do not compile): " + ", ".join(str(n) for n in broken))
    return 0 if tried == len(numbers) and len(caught) == tried else 1


if __name__ == "__main__":
    sys.exit(main())
