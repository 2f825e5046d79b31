#!/bin/sh
# run_tool.sh DEBIAN_PACKAGE COMMAND [ARGUMENT...]: runs a checker, or skips
# the test (status 77) with a clear message when it is not installed.
package=$1
shift
if ! command -v "$1" >/dev/null 2>&1; then
    echo "SKIPPED: $1 is not installed (Debian package $package; tools/install-deps.sh installs it)"
    exit 77
fi
exec "$@"
