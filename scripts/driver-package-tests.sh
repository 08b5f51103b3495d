#!/usr/bin/env bash
# Builds the driver package (scripts/driver-package.sh, which runs every check of the image, the
# imports, the INF and the WDK project) and then the planted-fault tests of those checks.
# Skips, saying so, when ../shared/realheaders (or REALHEADERS) is absent.
set -euo pipefail
cd "$(dirname "$0")/.."
realheaders=${REALHEADERS:-../shared/realheaders}
if [ ! -f "$realheaders/check-driver" ]; then
    echo "driver package skipped: $realheaders/check-driver is absent"
    exit 0
fi
bash scripts/driver-package.sh
bash tests/package/image-faults.sh
bash tests/package/inf-faults.sh
bash tests/package/wdk-project-faults.sh
