#!/usr/bin/env bash
# The built library shows exactly the 29 exports, under the soname libzorvane.so.1.
#   check_exports.sh <path of libzorvane.so.1>
set -euo pipefail
library=$1

expected="AddVirtualPort ConfigurePorts ConfigurePortsEx GetBitIOError GetUsbDeviceID Initialize
InitializeZorvane ListUsbDevices ReadBitPortA ReadBitPortB ReadBitPortC ReadBytePortA ReadBytePortB
ReadBytePortC ReadBytePortD ReadBytePortE ReadBytePorts ReadVirtualPort RemoveAllVirtualPorts
RemoveVirtualPort WriteBitPortA WriteBitPortB WriteBitPortC WriteBytePortA WriteBytePortB
WriteBytePortC WriteBytePortD WriteBytePortE WriteVirtualPort"
expected=$(tr ' ' '\n' <<<"$expected" | sort)

# Every defined dynamic symbol; sanitizer builds add their runtime's hooks, which are not ours.
actual=$(nm -D --defined-only "$library" | awk '{print $3}' | grep -Ev '^(__asan|__ubsan|__sanitizer|__lsan)' | sort)
if [ "$actual" != "$expected" ]; then
    echo "exported symbols differ from the 29 exports:"
    diff <(echo "$expected") <(echo "$actual") || true
    exit 1
fi
# Functions of the export list, and nothing else, are functions (T).
functions=$(nm -D --defined-only "$library" | awk '$2 == "T" {print $3}' | grep -Ev '^__' | sort)
[ "$functions" = "$expected" ] || { echo "not every export is a function"; exit 1; }

soname=$(objdump -p "$library" | awk '$1 == "SONAME" {print $2}')
[ "$soname" = "libzorvane.so.1" ] || { echo "soname is '$soname'"; exit 1; }
! readelf -d "$library" | grep -q 'NODELETE' || { echo "the library cannot be unloaded"; exit 1; }
echo "29 exports, soname $soname"
