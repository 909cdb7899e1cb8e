# Sourced by the test scripts that need software which may not be installed.
# missing VARIABLE REASON: says why and skips the test (exit 77), or fails
# it when VARIABLE is set, as CI sets it.
missing() {
  echo "$2"
  [ -z "${!1:-}" ] || exit 1
  exit 77
}
