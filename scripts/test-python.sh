#!/usr/bin/env bash
# Installs the wheel in dist/ into a fresh virtual environment that sees the
# system's packages (numpy, Pillow, pytest) and no package index, opens and
# saves a 16-colour picture through Pillow as a user would, then runs the
# Python tests against that installation.
#
#   scripts/test-python.sh PIXMORA_CONVERT
#
# PYTHON: the interpreter (/usr/bin/python3); PYTHON_BUILD: the folder of the
# environment (build-python).
set -euo pipefail
cd "$(dirname "$0")/.."
converter=$(realpath "$1")
python=${PYTHON:-/usr/bin/python3}
venv="$(realpath -m "${PYTHON_BUILD:-build-python}")/venv"

wheels=(dist/pixmora-*.whl)
[ ${#wheels[@]} -eq 1 ] && [ -f "${wheels[0]}" ] || { echo "expected one wheel in dist/, found: ${wheels[*]}" >&2; exit 1; }
rm -rf "$venv"
"$python" -m venv --system-site-packages "$venv"
"$venv/bin/python" -m pip install --quiet --no-index "${wheels[0]}"

# A 16-colour picture in one plane of 4 bits, as GIMP writes them, opened and
# saved as PNG with the one line a user types.
try=$(mktemp -d)
trap 'rm -rf "$try"' EXIT
(
    cd "$try"
    "$venv/bin/python" -c "import numpy, pixmora
y, x = numpy.mgrid[0:48, 0:64]
palette = numpy.array([[i * 17, 255 - i * 17, (i * 85) % 256] for i in range(16)], dtype=numpy.uint8)
open('gimp16.pcx', 'wb').write(pixmora.encode(((x // 4 + y // 3) % 16).astype(numpy.uint8), layout='packed16', palette=palette))"
    "$venv/bin/python" -c "import pixmora; pixmora.register_pillow(); from PIL import Image; Image.open('gimp16.pcx').save('x.png')"
    "$venv/bin/python" -c "import numpy, pixmora; from PIL import Image
assert (numpy.asarray(Image.open('x.png').convert('RGBA')) == pixmora.decode('gimp16.pcx')).all()"
)
echo "The wheel installs, and Pillow opens gimp16.pcx through it and saves it as PNG."

# pytest's 5 means that no test was collected: a failure here like any other.
status=0
PIXMORA_CONVERT="$converter" "$venv/bin/python" -m pytest -q -p no:cacheprovider tests/python || status=$?
if [ "$status" -eq 5 ]; then
    echo "pytest collected no tests from tests/python" >&2
fi
exit "$status"
