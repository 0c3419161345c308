# Shared by the end-to-end tests: a private tmux server with one session
# named e2e, a scratch directory, and helpers to read the screen.
#   e2e_setup PREFIX   creates $work and the tmux socket; cleans up on exit
#                      (KEEP_WORK=1 keeps $work to look at afterwards)
#   tmux_ ARGS...      tmux on the private socket
#   fail TEXT          counts a failure and shows the screen
#   wait_for TEXT      waits up to 20 seconds for TEXT on the screen
#   e2e_need_tmux      ends the test as skipped where tmux is missing
#   e2e_need_program P ends the test as failed where P is not built
#   e2e_build_demo BUILD_DIR NAME
#                      lays out the demo installation (log NAME_e2e_demo.log)
#                      and sets $demo, or ends the test as failed
# Sourced, not run.

e2e_need_tmux() {
  if ! command -v tmux >/dev/null 2>&1; then
    echo "SKIP: tmux is not installed"
    exit 0
  fi
}

e2e_need_program() {
  if [[ ! -x "$1" ]]; then
    echo "FAIL: $1 is not built"
    exit 1
  fi
}

e2e_build_demo() {
  local log="$1/$2_e2e_demo.log"
  if ! cmake --build "$1" --target demo >"$log" 2>&1; then
    echo "FAIL: the demo installation cannot be built"
    tail -20 "$log"
    exit 1
  fi
  demo="$1/demo"
}

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
