# Shared by the end-to-end tests: a private tmux server with one session
# named e2e, a scratch directory, and helpers to read the screen.
#   e2e_setup PREFIX   creates $work and the tmux socket; cleans up on exit
#                      (KEEP_WORK=1 keeps $work to look at afterwards)
#   tmux_ ARGS...      tmux on the private socket
#   fail TEXT          counts a failure and shows the screen
#   wait_for TEXT      waits up to 20 seconds for TEXT on the screen
# Sourced, not run.

e2e_setup() {
  work=$(mktemp -d)
  socket="$1-e2e-$$-$RANDOM"
  failures=0
  trap e2e_cleanup EXIT
}

tmux_() { tmux -L "$socket" -f /dev/null "$@"; }

e2e_cleanup() {
  tmux_ kill-server >/dev/null 2>&1
  [[ -n ${KEEP_WORK:-} ]] || rm -rf "$work"
}

fail() {
  echo "FAIL: $*"
  echo "---- screen ----"
  tmux_ capture-pane -p -t e2e 2>/dev/null
  echo "----------------"
  failures=$((failures + 1))
}

wait_for() {
  local text=$1 i
  for ((i = 0; i < 200; i++)); do
    tmux_ capture-pane -p -t e2e | grep -qF -- "$text" && return 0
    sleep 0.1
  done
  fail "timed out waiting for: $text"
  return 1
}
