#!/usr/bin/env bash
# The Wine prefix of one test run (WINEPREFIX, of the bitness WINEARCH names: win32 by default).
# CORVANE_WINE names the loader that starts Wine's own programs (wine by default).
#   wine_prefix.sh create DOUBLE.dll   a fresh prefix in which the WMI double is the in-process
#                                      server of the WMI locator's class
#   wine_prefix.sh stop                stops the prefix's Wine server, if it still runs
set -euo pipefail
: "${WINEPREFIX:?}"
export WINEARCH=${WINEARCH:-win32}
wine=${CORVANE_WINE:-wine}
stop_server() { wineserver -k 2>/dev/null || true; }

case "${1:-}" in
  create)
    double=$2
    # A prefix left by an earlier run starts over, its server stopped first.
    if [ -d "$WINEPREFIX" ]; then
      stop_server
      rm -rf "$WINEPREFIX"
    fi
    "$wine" wineboot -i >/dev/null 2>&1
    key='HKCR\CLSID\{4590F811-1D3A-11D0-891F-00AA004B2E24}\InprocServer32'
    path=$("$wine" winepath -w "$double")
    "$wine" reg add "$key" /ve /d "$path" /f >/dev/null
    "$wine" reg add "$key" /v ThreadingModel /d Both /f >/dev/null
    # Wine puts its own locator back whenever it updates a prefix: check what it holds now.
    if ! "$wine" reg query "$key" /ve | grep -qiF "$path"; then
      echo "the WMI double is not the locator's server in $WINEPREFIX" >&2
      exit 1
    fi
    echo "Wine prefix $WINEPREFIX: the locator's server is $path"
    ;;
  stop)
    stop_server
    ;;
  *)
    echo "usage: $0 create DOUBLE.dll | stop" >&2
    exit 2
    ;;
esac
