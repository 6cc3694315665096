#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's prefix (see wine-env.sh); ctest uses it as
# the cross-compiling emulator.
set -euo pipefail
# shellcheck source=scripts/wine-env.sh
source "$(dirname "$0")/wine-env.sh"
wine_up
exec wine "$@"
