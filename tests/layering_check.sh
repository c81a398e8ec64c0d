#!/usr/bin/env bash
# Dependencies point down: the engine core includes nothing of the folders
# above it, and the base library (or anything else above the core) includes
# no core header that is marked internal to the core; no Qt header below
# the platform layer.
# Usage: layering_check.sh SOURCE-ROOT
set -u
cd "$1" || exit 2
failed=0
above='engine/lib|numlib|runtime|graphics|host|platform'
if hits=$(grep -rnE "#include \"($above)/" engine/core); then
  echo "engine/core includes a folder above it:"
  echo "$hits"
  failed=1
fi
internal=$(grep -l "Internal to engine/core" engine/core/*.h)
for h in $internal; do
  if hits=$(grep -rn "#include \"$h\"" engine/lib numlib runtime graphics host platform tools 2>/dev/null); then
    echo "$h is internal to engine/core:"
    echo "$hits"
    failed=1
  fi
done
# Qt stays in platform/ and host/: nothing below them includes a Qt header.
if hits=$(grep -rnE '#include <Q[A-Za-z]*>' engine numlib runtime graphics); then
  echo "a Qt header below platform/:"
  echo "$hits"
  failed=1
fi
exit $failed
