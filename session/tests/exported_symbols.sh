#!/bin/sh
# The shared library's dynamic symbol table exports exactly the ten names.
set -e
lib=$1
expected="CreateTDSdkHandle DestroyTDSdkHandle TDS_AttemptToPair TDS_Disconnect TDS_GetPairRejectedReason TDS_GetSetCaptureHandler TDS_ReqToStartEncoding TDS_ReqToStopEncoding TDS_SetPassword TDS_SetSysMetric"
actual=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TtWw]$/ {print $3}' | sort | tr '\n' ' ' | sed 's/ $//')
if [ "$actual" != "$expected" ]; then
  echo "exported: $actual"
  echo "expected: $expected"
  exit 1
fi
echo "exports ok"
