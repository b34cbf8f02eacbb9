#!/usr/bin/env bash
# The program's main job: a background backup of a sample host installation.
# Builds the Windows program, lays out a sample Kestrone installation (directories,
# files and a registry branch) in the Wine prefix with one task due at every start,
# lets the host stand-in start the plug-in, which backs up in background mode, then
# the host leaves and the plug-in ends. Prints where the archive is and what it holds.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/install-deps.sh
cmake --preset win64 >/dev/null
cmake --build --preset win64 --target Plugin_Vaultkin kshost winctl

source scripts/winenv.sh build/win64
trap 'wineserver -k 2>/dev/null || true' EXIT
drive_c="$WINEPREFIX/drive_c"
host="$drive_c/Kestrone"
archive="$host/Backup/KestroneBackup.zip"
rm -rf "$host"
mkdir -p "$host/Backup" "$host/Filebase/Archiv" "$host/Inbound" "$host/MsgBase" "$host/Plugins/Vaultkin" "$host/Logs"
printf 'Kestrone 95 Hauptprogramm\r\n' > "$host/kestrone.ini"
printf 'Sysop=Jan Morrow\r\nNode=2:240/1234\r\n' > "$host/config.dat"
for i in 1 2 3; do printf 'Datei %d der Dateibasis\r\n' "$i" > "$host/Filebase/file$i.txt"; done
printf 'alt\r\n' > "$host/Filebase/Archiv/old.txt"           # not listed: stays out
head -c 300000 /dev/urandom > "$host/Inbound/paket.pkt"
printf 'Nachricht an alle\r\n' > "$host/MsgBase/area1.msg"
printf 'Protokoll\r\n' > "$host/Logs/kestrone.log"             # not listed: stays out
cp build/win64/bin/Plugin_Vaultkin.exe build/win64/bin/VKZIP.DLL build/win64/bin/VKUNZIP.DLL "$host/Plugins/"
printf '%s' '"Name=Bei jedem Start",Active=1,"InclDirs=.,.\Filebase,.\Inbound,.\MsgBase",UseDefZipName=1,DefZipName=C:\Kestrone\Backup\KestroneBackup.zip,AutoMode=3,AutoDays=7,LastBackup=0,SaveRegistry=1,SaveFiles=1' \
  > "$host/Plugins/Vaultkin/Bei jedem Start.set"

key='HKCU\Software\Gray.Fern.Labs\Kestrone'
"$VK_WINE" reg delete "$key" /f >/dev/null 2>&1 || true
"$VK_WINE" reg add "$key" /v ProgDir /d 'C:\Kestrone\' /f >/dev/null
"$VK_WINE" reg add "$key" /v Sysop /d 'Jan Morrow' /f >/dev/null
"$VK_WINE" reg add "$key\Nodes" /v Primary /d '2:240/1234' /f >/dev/null
"$VK_WINE" reg add "$key\Nodes" /v Count /t REG_DWORD /d 3 /f >/dev/null

log="$host/Logs/host.log"
rm -f "$archive"
echo "Starting the host stand-in; it starts C:\\Kestrone\\Plugins\\Plugin_Vaultkin.exe"
"$VK_WINE" build/win64/bin/kshost.exe --log 'C:\Kestrone\Logs\host.log' --exit-on-goodbye \
  --start-plugin 'C:\Kestrone\Plugins' </dev/null >/dev/null 2>&1 &
host_pid=$!

# The backup runs inside the connection, before the plug-in settles down: wait for
# the archive and for the registry file to be cleared away again.
for _ in $(seq 600); do
  [ -f "$archive" ] && [ ! -f "$host/kestrone.reg" ] && break
  sleep 0.1
done
[ -f "$archive" ] || { echo "no archive was written"; cat "$log"; exit 1; }
sleep 1
echo "The backup is written; the host leaves."
printf 'close\tKestrone 95\nquit\n' | "$VK_WINE" build/win64/bin/winctl.exe >/dev/null
wait "$host_pid" || true
for _ in $(seq 100); do pgrep -f Plugin_Vaultkin.exe >/dev/null || break; sleep 0.1; done
if pgrep -f Plugin_Vaultkin.exe >/dev/null; then echo "the plug-in did not end"; exit 1; fi
echo "The plug-in has ended."
echo
echo "Host log:"
sed 's/^/  /' "$log"
echo
echo "Archive: C:\\Kestrone\\Backup\\KestroneBackup.zip ($archive)"
unzip -l "$archive"
unzip -tq "$archive"
echo
echo "The registry branch in the archive's kestrone.reg:"
unzip -p "$archive" kestrone.reg | python3 -c '
import sys
data = sys.stdin.buffer.read()
text = data.decode("utf-16") if data[:2] == b"\xff\xfe" else data.decode("cp1252")
print("\n".join("  " + l for l in text.splitlines() if l.strip()))'
echo
echo "Task file after the run:"
cat "$host/Plugins/Vaultkin/Bei jedem Start.set"; echo
