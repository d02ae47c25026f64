#!/usr/bin/env bash
# Installs what the browser tests (tests/browser) need: Debian's chromium, Node.js and npm when
# there are no node and npm commands yet (one from elsewhere is used as it is: Debian's npm
# package would conflict with it), and the locked packages, again whenever the lock file is newer
# than what is installed. The first run needs the Debian mirror and the npm registry.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

packages=(chromium)
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
    packages+=(nodejs npm)
fi
bash scripts/install-packages.sh "${packages[@]}"

# Node.js trusts its own certificate list; the system's is what the machine's administrator
# keeps (a proxy's own authority, say), so it is added for the registry's connection.
if [ -z "${NODE_EXTRA_CA_CERTS:-}" ] && [ -f /etc/ssl/certs/ca-certificates.crt ]; then
    export NODE_EXTRA_CA_CERTS=/etc/ssl/certs/ca-certificates.crt
fi
cd tests/browser
installed=node_modules/.package-lock.json
if [ ! -f "$installed" ] || [ package-lock.json -nt "$installed" ]; then
    echo "Installing the browser tests' packages (npm ci in tests/browser)"
    # puppeteer-core downloads no browser; the tests drive /usr/bin/chromium.
    npm ci --no-audit --no-fund
fi
