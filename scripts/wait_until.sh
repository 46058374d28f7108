# Sourced by the end-to-end scripts. wait_until LIMIT COMMAND...: runs
# COMMAND every half second until it succeeds or LIMIT seconds have passed
# (then status 1).
wait_until() {
  local limit=$1; shift
  local end=$((SECONDS + limit))
  until "$@"; do
    [ $SECONDS -ge $end ] && return 1
    sleep 0.5
  done
}
