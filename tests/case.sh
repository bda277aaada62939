# What a case's lines call: sourced before them, in the case's scratch
# folder, by the runner, which calls finish after them.  $MORVANE runs
# morvane, $PLATFORM is posix or windows; cases/README.md tells the rest.
set -e
: >../out; : >../err; : >../marks
args= under= status=0 checks=0
sync=${MORVANE_SYNC:-fdatasync}  # the call that forces a file's data to storage

rep() { awk 'BEGIN { for (n = ARGV[2]; n > 0; n--) printf "%s", ARGV[1] }' "$1" "$2"; }
quote() { printf "'%s'" "$(printf %s "$1" | sed "s/'/'\\\\''/g")"; }
posix() { [ "$PLATFORM" != posix ] || "$@"; }
# The loader that runs morvane.exe runs the cases' own Windows commands too.
wine() { command "${MORVANE%% *}" "$@"; }
windows() { [ "$PLATFORM" != windows ] || "$@"; }
status() { status=$1; }
need() { "$@" >/dev/null 2>&1 || { echo "needs $*, which fails here" && exit 77; }; }
kept() { printf 'Original file is now called "%s.unix"' "$1"; }
under() { for word; do under="$under $(quote "$word")"; done; }
strace() { under="ASAN_OPTIONS=detect_leaks=0 command strace --quiet=all -o ../trace" && under "$@"; }
check() { checks=$((checks + 1)) && printf %s "$1" >../check$checks && printf %b "$2" >../check$checks.out; }

# Runs morvane (the words after $2) under strace, stopped after its system
# call $1 (NAME:N, the Nth call of NAME) while the sh command $2 runs, in
# which $pid is morvane's process.  A run that ends without that stop fails
# (status 125) rather than passing with $2 run too late to mean anything.
stopped() {
    rm -f ../stop
    printf '%s\n' "$meanwhile
        sed -n '/stopped/{p;q;}' >../stop; [ -s ../stop ] || exit
        pid=\$(pgrep -P \$PPID | grep -vx \$\$)
        $2; kill -CONT \$pid; wait; cat >/dev/null" >../when
    call=$1 && shift 2
    ASAN_OPTIONS=detect_leaks=0 command strace --quiet=all -o '|exec sh ../when' \
        -e inject="${call%:*}":signal=STOP:when="${call#*:}" "$@" && set -- 0 || set -- $?
    [ -s ../stop ] || { echo "stopped: morvane ended without stopping after its call $call" >&2 && return 125; }
    return $1
}

# In a command of stopped: runs the sh command $1 in the background, as
# another program would, and returns once it has ended or waits for the
# stopped morvane to give up its lease on the file that it opens.
meanwhile='meanwhile() {
    sh -c "$1" & other=$! end=$(($(date +%s) + 120))
    until [ "$(cut -d" " -f3 /proc/$other/stat 2>/dev/null || echo Z)" = Z ] ||
        cat /proc/$other/wchan $(pgrep -P $other | sed "s|.*|/proc/&/wchan|") 2>/dev/null | grep -q break_lease; do
        [ "$(date +%s)" -lt $end ] || { echo "meanwhile: $1 neither ended nor waited in 120 s" >&2; return 1; }
        sleep 0.05
    done
}
'

# In a command of under or check, beside morvane on a tests/faultfs mount:
# held NAME COMMAND waits until the flush of NAME is held, runs the sh
# COMMAND and lets the flush go; letgo, in COMMAND, fails where a program
# that opened a file here still waits for morvane's lease 10 s on while
# morvane waits for its flushes in flight (io_uring_enter), when it could
# have given the lease up.
held='held() {
    end=$(($(date +%s) + 120))
    until [ -e ../held.$1 ]; do
        [ "$(date +%s)" -lt $end ] || { echo "held: the flush of $1 was never held"; return 1; }
        sleep 0.05
    done
    eval "$2"; touch ../release.$1
}
here() {
    ls -l /proc/[0-9]*/cwd 2>/dev/null | awk -v d="$PWD" -v f=$1 "\$NF == d { sub(\"cwd\", f, \$(NF - 2)); print \$(NF - 2) }" |
        xargs cat 2>/dev/null
}
letgo() {
    end=$(($(date +%s) + 10))
    while here wchan | grep -q break_lease && here syscall | grep -q "^426 "; do
        [ "$(date +%s)" -lt $end ] || { echo "letgo: a writer waits for a lease morvane holds" && return 1; }
        sleep 0.05
    done
}
'

# Whether morvane forces files to storage through io_uring here.
ring() { command strace -f -e trace=io_uring_setup $MORVANE x 2>&1 | grep -q 'io_uring_setup(.*= [0-9]'; }

# Runs morvane (the words after $2) with its standard output in a pipe that
# has room for its first $1 lines only: while it waits to write the next,
# the sh command $2 runs, in which $pid is morvane's process.
blocked() {
    room=$(head -n "$1" ../out | wc -c) && { [ "$PLATFORM" = posix ] || room=$((room + $1)); }
    command=$2 && shift 2 && mkfifo ../p && exec 3<>../p 4<../p
    head -c $((65536 - room)) /dev/zero >&3
    env --default-signal=INT "$@" >../p & pid=$! && exec 3>&-
    end=$(($(date +%s) + 120)) && while kill -0 $pid && ! grep -qs pipe_write /proc/$pid/task/*/wchan; do
        [ "$(date +%s)" -lt $end ] || {
            echo "blocked: morvane did not come to wait on its output pipe within 120 s" && kill $pid
            return 1
        }
        sleep 0.1
    done
    eval "$command"
    tail -c +$((65537 - room)) <&4 && exec 4<&- && wait $pid
}

# In a command of blocked, under wine: interrupts morvane as Ctrl-C does and
# returns once its handler has run.  Wine runs the handler in a thread of
# its own, and when that thread ends, the first in the process to end,
# glibc maps libgcc_s to unwind it: that is the sign waited for.
interrupted() {
    ! grep -q libgcc_s /proc/$pid/maps || { echo "interrupted: libgcc_s is mapped already" && return 1; }
    kill -INT $pid && end=$(($(date +%s) + 120))
    until grep -q libgcc_s /proc/$pid/maps; do
        kill -0 $pid && [ "$(date +%s)" -lt $end ] ||
            { echo "interrupted: the handler did not end within 120 s" && return 1; }
        sleep 0.05
    done
}

# Runs the words on a terminal that script makes; prints what the terminal
# got (both streams), its CR LF line ends as LF.  Under wine, the console's
# own ESC [ sequences are dropped, a step right read as the blank it draws;
# the terminal is wide enough that the console breaks no line.
terminal() {
    script -qec "stty cols 1000; $(for word; do quote "$word" && printf ' '; done)" /dev/null >../tty
    set -- $? && tr -d '\r' <../tty | { posix cat; windows sed 's/\x1b\[1C/ /g; s/\x1b\[[0-9;?]*[A-Za-z]//g'; } &&
        return $1
}

# The system calls of ../trace from the first line that matches the regular
# expression $1 to the next that matches $2, each as NAME:N for the Nth call
# of NAME in the whole run (what strace's when= counts).  Left out: the calls
# for memory, threads and signals that qemu (the ARM builds) and the
# sanitizers make on their own, whose number and place change from run to
# run, most on a busy machine: a stop counted by them lands elsewhere, even
# before the folder is opened.  So is io_uring_enter: how often morvane
# waits for the flushes in flight depends on when they complete.
calls() {
    from=$1 to=$2 awk -F'(' '{ n[$1]++ } $0 ~ ENVIRON["from"] { on = 1 }
        on && $1 !~ /^(brk|mmap|munmap|mremap|mprotect|madvise|futex|rt_sig.*|sched_yield|membarrier|gettid|clock_nanosleep|nanosleep|io_uring_enter)$/ {
            print $1 ":" n[$1] }
        on && $0 ~ ENVIRON["to"] { exit }' ../trace
}

file() {
    mkdir -p -- "$(dirname -- "$1")"
    case $1 in */) mkdir -p "$1"; return ;; esac
    printf %b "${2-}" >"$1"
    name=$1 && shift $(($# < 2 ? $# : 2))
    for mark; do printf '%s\t%s\n' "$name" "$mark" >>../marks; done
}

# Printed lines: one without a blank is a name line (the name and a blank);
# one that starts with ! goes to standard error.
out() {
    for line; do
        case $line in
        !*) printf '%s\n' "${line#!}" >>../err ;;
        *\ *) printf '%s\n' "$line" >>../out ;;
        *) printf '%s \n' "$line" >>../out ;;
        esac
    done
}

also() { args="$args $(quote "$1")"; }
wildcard() {
    [ -n "$args" ] || echo 'morvane Version 1.01 (Quenfield) 13-Mar-98' >>../out
    printf 'Processing wildcard "%s"\n' "$1" >>../out
    args="$args $(quote "$1")"
    shift && out "$@"
}

tally() {
    s() { [ "$1" = 1 ] || echo s; }
    printf '%s file%s converted.\n%s total line%s converted.\n%s error%s.\n%s warning%s.\n' \
        "$1" "$(s "$1")" "$2" "$(s "$2")" "$3" "$(s "$3")" "$4" "$(s "$4")" >>../out
    status=$3
}

# Every file's name and kind, and its content's digest.
listing() {
    (cd "$1" && find . ! -name . \( -type f -exec md5sum {} + -o -printf '%y  %p\n' \) | sort -k 2)
}

finish() {
    # Afterwards every file holds its content converted, unless marked.
    cp -a . ../expected && find ../expected -type f -exec perl -pi -e 'tr/\n/\r/' {} +
    while IFS="$(printf '\t')" read -r name mark; do
        case $mark in
        +) cp "$name" "../expected/$name.unix" ;;
        +*) printf %b "${mark#+}" >"../expected/$name.unix" ;;
        -) rm "../expected/$name" ;;
        =) cp "$name" "../expected/$name" ;;
        \?) echo "$name" >>../any ;;
        *) printf %b "$mark" >"../expected/$name" ;;
        esac
    done <../marks
    got=0 failed=0
    eval "$under $MORVANE $args" >../got.out 2>../got.err || got=$?
    [ "$PLATFORM" = posix ] || sed -i 's/\r$//' ../got.out ../got.err
    [ "$got" = "$status" ] || { echo "exit status $got, expected $status"; failed=1; }
    diff -u ../out ../got.out || failed=1
    diff -u ../err ../got.err || failed=1
    [ ! -f ../any ] || while read -r name; do cp "$name" "../expected/$name"; done <../any
    listing ../expected >../expected.files && listing . >../got.files
    diff -u ../expected.files ../got.files || failed=1
    for i in $(seq "$checks"); do (set +e && . ../check$i) | diff -u ../check$i.out - || failed=1; done
    return $failed
}
