# Sourced: makes the prefix (with the freshly built stand-ins for Windows' own
# DLLs in its system32), starts a persistent wineserver with Wine's own
# background services, and stops them when the calling script exits.
"$root/scripts/wine-prefix.sh" "$WINEPREFIX" "$build/system32-stand-ins"
/usr/lib/wine/wineserver -p 2>/dev/null || true # already running is fine
# The first program started brings up Wine's services, which outlive it and keep
# its output open: start them here with no output, so that no later pipe
# (a test runner's, a terminal's) is held open by them.
"$WINE" cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
trap '/usr/lib/wine/wineserver -k 2>/dev/null || true' EXIT
