#!/bin/sh
# The DLL's export table names exactly the ten functions, undecorated (cdecl:
# no @N suffix, no leading underscore).
set -e
dll=$1
expected="CreateTDSdkHandle DestroyTDSdkHandle TDS_AttemptToPair TDS_Disconnect TDS_GetPairRejectedReason TDS_GetSetCaptureHandler TDS_ReqToStartEncoding TDS_ReqToStopEncoding TDS_SetPassword TDS_SetSysMetric"
# The name pointer table: lines "[ordinal] +base[ n] hint name" after its heading.
actual=$(x86_64-w64-mingw32-objdump -p "$dll" |
  awk '/\[Ordinal\/Name Pointer\] Table/ {t = 1; next} t && /^\t\[/ {print $NF; next} t && !/^\t/ {t = 0}' |
  sort | tr '\n' ' ' | sed 's/ $//')
if [ "$actual" != "$expected" ]; then
  echo "exported: $actual"
  echo "expected: $expected"
  exit 1
fi
echo "exports ok"
