# Independent steps run side by side, for tools/test. Sourced, not run.
#
#   declare -A step_needs=([STEP]=STEP_IT_NEEDS ...)
#   tovrel_steps_run JOBS LOGDIR RUNNER [ARGS...] -- STEP...
#
# Runs each STEP as `RUNNER ARGS... STEP`, at most JOBS at a time, in the order given as far as what
# each needs allows: a step starts once the step it needs has passed, and is not run at all when
# that one failed or was not run. Each runs in a session of its own, with its output in
# LOGDIR/STEP.log; an interrupt of this shell stops every running step with all it started. A
# line tells when each step ends and what it took; a failing step's log follows it whole, as the
# step's exit code says, whatever the others do. Afterwards step_state[STEP] is passed, failed or
# skipped, step_started[STEP] when it started (ms) and step_took[STEP] what it took (ms). Returns
# non-zero when any step did not pass. A runner that writes the output of bash's `times` to
# $TOVREL_STEP_TIMES as it exits gives step_cpu[STEP] too: the processor time (ms) the step and
# what it waited for took, which tells work from waiting for the processor.

tovrel_now_ms() { echo $(($(date +%s%N) / 1000000)); }
tovrel_seconds() { awk -v ms="$1" 'BEGIN { printf "%.1f", ms / 1000 }'; }
# Lines say how long the whole command has run so far.
: "${TOVREL_STEPS_STARTED_MS:=$(tovrel_now_ms)}"
tovrel_steps_say() {
  echo "tovrel test: [$(tovrel_seconds $(($(tovrel_now_ms) - TOVREL_STEPS_STARTED_MS))) s] $*"
}

declare -A step_state step_started step_took step_cpu
# tovrel_cpu_ms FILE: the children's user and system time in the output of `times`, in ms.
tovrel_cpu_ms() {
  sed -n 2p "$1" 2>/dev/null | awk '{ t = 0; for (i = 1; i <= 2; i++) { split($i, a, /[ms]/);
    t += a[1] * 60 + a[2] } printf "%d", t * 1000 }'
}
tovrel_steps_run() {
  local jobs=$1 logs=$2 step need status running=0 done_pid runner=()
  shift 2
  while [ "$1" != -- ]; do runner+=("$1"); shift; done
  shift
  local all=("$@") pending=("$@") waiting
  local -A pid_step=()
  trap 'tovrel_steps_stop; exit 130' INT
  trap 'tovrel_steps_stop; exit 143' TERM
  tovrel_steps_stop() {
    local p
    for p in "${!pid_step[@]}"; do kill -TERM -- "-$p" 2>/dev/null || true; done
  }
  while [ ${#pending[@]} -gt 0 ] || [ "$running" -gt 0 ]; do
    waiting=()
    for step in "${pending[@]}"; do
      need=${step_needs[$step]:-}
      if [ -n "$need" ] && [ "${step_state[$need]:-}" != passed ]; then
        case "${step_state[$need]:-}" in
          failed | skipped) step_state[$step]=skipped; tovrel_steps_say "$step not run: $need did not pass" ;;
          *) waiting+=("$step") ;;
        esac
      elif [ "$running" -lt "$jobs" ]; then
        step_state[$step]=running
        step_started[$step]=$(tovrel_now_ms)
        # setsid: the step leads a process group of its own, which an interrupt stops whole.
        TOVREL_STEP_TIMES="$logs/$step.times" setsid "${runner[@]}" "$step" </dev/null \
          >"$logs/$step.log" 2>&1 &
        pid_step[$!]=$step
        running=$((running + 1))
      else
        waiting+=("$step")
      fi
    done
    pending=("${waiting[@]}")
    if [ "$running" -eq 0 ]; then
      [ ${#pending[@]} -eq 0 ] && break
      echo "tovrel test: these steps need steps that are not run: ${pending[*]}" >&2
      return 2
    fi
    status=0
    wait -n -p done_pid || status=$?
    step=${pid_step[$done_pid]}
    unset "pid_step[$done_pid]"
    running=$((running - 1))
    step_took[$step]=$(($(tovrel_now_ms) - step_started[$step]))
    [ ! -s "$logs/$step.times" ] || step_cpu[$step]=$(tovrel_cpu_ms "$logs/$step.times")
    if [ "$status" -eq 0 ]; then
      step_state[$step]=passed
      tovrel_steps_say "$step passed in $(tovrel_seconds "${step_took[$step]}") s"
    else
      step_state[$step]=failed
      tovrel_steps_say "$step FAILED (exit $status) after $(tovrel_seconds "${step_took[$step]}") s;" \
        "its output ($logs/$step.log):"
      sed 's/^/  | /' "$logs/$step.log"
    fi
  done
  trap - INT TERM
  for step in "${all[@]}"; do [ "${step_state[$step]}" = passed ] || return 1; done
}
