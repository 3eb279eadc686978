#!/usr/bin/env bash
# check-dll-exports.sh ARCH DLL: the module's export directory is named
# PKG_VOSSIK and lists every plain name undecorated and every qualified name.
set -euo pipefail
arch=$1
dll=$2
table=$("$arch-w64-mingw32-objdump" -p "$dll")
names=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$table" | sed -n 's/^\s*\[ *[0-9]*\] //p')
fail=0
grep -qx 'Name.*[[:space:]]PKG_VOSSIK' <<<"$(grep -a '^Name' <<<"$table")" ||
  { echo "$dll: export directory name is not PKG_VOSSIK"; fail=1; }
expect() { grep -qx -- "$1" <<<"$names" || { echo "$dll: missing export $1"; fail=1; }; }
for plain in StartIT433TD IniciaPorta_IT433TD FechaPorta_IT433TD FormataTX_IT433TD \
             ImprimeCODE128_IT433TD AcionaGuilhotina_IT433TD ImprimeQRCode_IT433TD; do
  expect "$plain"
done
for variable in DLLMEGENCOM32 DLLP32GeCodeBar rdmIT433TD \
    MEGENCOM32_AbrirDispositivo MEGENCOM32_FecharDispositivo MEGENCOM32_ConfigurarTimeoutsRXTX \
    MEGENCOM32_EscrevernoDispositivo MEGENCOM32_LeroDispositivo MEGENCOM32_PreparaImpressao \
    MEGENCOM32_AguardaImpressao MEGENCOM32_AguardaImpressaoStr MEGENCOM32_StatusDoDispositivo \
    MEGENCOM32_AtivarLOG CODEBAR32_PGeCodeBarInicia CODEBAR32_PGeCodeBarQRCODE \
    CODEBAR32_PGeBMPtoPRN CODEBAR32_PGeCodeBarFinaliza; do
  expect "_ZN10Cli_Vossik${#variable}${variable}E"
done
expect _ZN10Cli_Vossik11StopIT433TDEv
expect _ZN10Cli_Vossik12StartIT433TDEv
[ "$(grep -c '^_ZN10Cli_Vossik[0-9]*[A-Za-z0-9]*_IT433TDESt17basic_string_view' <<<"$names")" -eq 6 ] ||
  { echo "$dll: the six qualified operations are not all exported"; fail=1; }
if grep -E '@[0-9]+$|^_[A-Z][a-z]' <<<"$names"; then echo "$dll: decorated names exported"; fail=1; fi
[ "$fail" -eq 0 ] && echo "$dll: exports OK ($(wc -l <<<"$names") names)"
exit "$fail"
