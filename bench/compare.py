"""Times morvane against the same work done by plain tools and prints one
table of medians with the verdicts against morvane's targets.

Run by bench/run, in a scratch folder on the filesystem to measure, with the
morvane to time.  The rows of each comparison are timed interleaved (A, B,
C, A, B, C, ...), each from a freshly restored input with nothing left to
write back, so that the machine's drift over minutes touches every row
alike; only ratios within one comparison mean anything.

Just before each timed run, memory of twice the input's size is
filled and freed.  On a virtual machine whose host hands memory out
lazily, a page freed long ago costs a fault on the host when it is next
filled, and a run that happens to get such pages can take several times as
long; after the filling every row gets pages just in use.

Peak resident sets are measured with address-space randomisation off: where
the C library lands decides how many of its pages the kernel maps around
each fault, which moves the figure by up to 150 KiB from run to run.
"""
import os
import statistics
import subprocess
import sys
import time

morvane, floor, nouring, quick = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:] == ["--quick"]
MIB = 1 << 20
if quick:
    TEXT, LINES, SMALL, LARGE, ROUNDS = 256 * MIB, 64 * MIB, 1250, 5000, 5
else:
    TEXT, LINES, SMALL, LARGE, ROUNDS = 1024 * MIB, 256 * MIB, 2000, 20000, 9


def sh(command):
    subprocess.run(command, shell=True, check=True, stdout=subprocess.DEVNULL)


def make_inputs():
    """Text of lines of 0 to 80 characters, a file of line feeds only, one
    without any, and folders of 4 KB files cut from the same text."""
    sh("""perl -e 'srand(7); my @c = ("a".."z", "A".."Z", 0..9, " ", ".", ",");
         my $b = ""; $b .= join("", map { $c[rand @c] } 1 .. int(rand 81)) . "\\n"
         while length($b) < 8 << 20; print substr($b, 0, 8 << 20)' >block""")
    sh(f"for i in $(seq {TEXT // (8 * MIB)}); do cat block; done >text.pristine")
    sh(f"head -c {LINES} /dev/zero | tr '\\0' '\\n' >lines.pristine")
    sh(f"head -c {TEXT} /dev/zero | tr '\\0' x >nolf.pristine")
    for count in (SMALL, LARGE):
        sh(f"""mkdir -p files{count}.pristine && perl -e 'open(my $f, "<", "block") or die;
             read($f, my $b, 8 << 20); for my $i (1 .. {count}) {{
               open(my $o, ">", sprintf("files{count}.pristine/f%05d.txt", $i)) or die;
               print $o substr($b, $i * 4000 % (length($b) - 4000), 4000) }}'""")
    sh("sync")


def interleaved(rows):
    """Median seconds of each (group, name, restore, command) row, all rows
    timed in turn in every round."""
    times = {(group, name): [] for group, name, _, _ in rows}
    for _ in range(ROUNDS):
        for group, name, restore, command in rows:
            sh(restore)
            start = time.perf_counter()
            sh(command)
            times[group, name].append(time.perf_counter() - start)
    medians = {}
    for (group, name), seconds in times.items():
        medians.setdefault(group, {})[name] = statistics.median(seconds)
    return medians


def peak_kib(command):
    result = subprocess.run(f"setarch -R /usr/bin/time -f %M {command} 2>&1 >/dev/null", shell=True,
                            check=True, capture_output=True, text=True)
    return int(result.stdout.split()[-1])


def settled(size):
    return f"sync; perl -e '$x = \"\\1\" x {max(2 * size, 256 * MIB)}'"


def one_file(pristine):
    return f"rm -f w.txt w.txt.unix out.txt; cp {pristine} w.txt; " + settled(os.path.getsize(pristine))


def folder(count):
    return f"rm -rf s; cp -r files{count}.pristine s; " + settled(4000 * count)


make_inputs()
size = f"{TEXT // MIB} MiB"
convert, dd_rm = f"{morvane} w.txt", "dd if=w.txt of=out.txt bs=1M conv=fdatasync status=none && rm w.txt"
rows = [(f"{size} text", name, one_file("text.pristine"), command) for name, command in [
    ("morvane", convert),
    ("dd bs=1M conv=fdatasync, then rm of the input", dd_rm),
    ("tr '\\n' '\\r' into a new file", "tr '\\n' '\\r' <w.txt >out.txt"),
    ("perl -pi -e 'tr/\\n/\\r/'", "perl -pi -e 'tr/\\n/\\r/' w.txt"),
    ("dd bs=1M (no sync; information)", "dd if=w.txt of=out.txt bs=1M status=none"),
]]
for group, pristine in ((f"{LINES // MIB} MiB of line feeds", "lines"), (f"{size}, no line feed", "nolf")):
    rows += [(group, "morvane", one_file(f"{pristine}.pristine"), convert),
             (group, "dd + rm", one_file(f"{pristine}.pristine"), dd_rm)]
for count in (SMALL, LARGE):
    rows += [(f"{count:,} files of 4 KB", name, folder(count), f"cd s && {command}") for name, command in [
        ("morvane '*.txt'", f"{morvane} '*.txt'"),
        ("morvane, one file at a time: io_uring refused (information)", f"{nouring} {morvane} '*.txt'"),
        ("the durable steps alone, one file at a time (bench/floor.c)", f"{floor} *.txt"),
        ("perl -pi -e 'tr/\\n/\\r/' *.txt", "perl -pi -e 'tr/\\n/\\r/' *.txt"),
        ("perl -pi, then sync", "perl -pi -e 'tr/\\n/\\r/' *.txt && sync"),
    ]]
medians = interleaved(rows)

sh("head -c 1000 text.pristine >w.txt")
tiny = peak_kib(convert)
sh(f"head -c {64 * MIB} text.pristine >w.txt")
rss64 = peak_kib(convert)
sh("cp text.pristine w.txt")
rss_text = peak_kib(convert)
rss_files = {}
for count in (SMALL, LARGE):
    sh(folder(count))
    rss_files[count] = peak_kib(f"sh -c \"cd s && exec {morvane} '*.txt'\"")

print("| input | command | median | morvane / this |")
print("|---|---|---:|---:|")


def table(label, medians):
    first = medians["morvane"] if "morvane" in medians else next(iter(medians.values()))
    for i, (name, seconds) in enumerate(medians.items()):
        ratio = "" if i == 0 else f"{first / seconds:.2f}"
        print(f"| {label if i == 0 else ''} | {name} | {seconds:.3f} s | {ratio} |")


for group, group_medians in medians.items():
    table(group, group_medians)
print(f"| 1 KB file | morvane peak resident set | {tiny} KiB | |")
print(f"| 64 MiB text | morvane peak resident set | {rss64} KiB | |")
print(f"| {size} text | morvane peak resident set | {rss_text} KiB | |")
for count in (SMALL, LARGE):
    print(f"| {count:,} files | morvane peak resident set | {rss_files[count]} KiB | |")

text = medians[f"{size} text"]
morvane_text = text["morvane"]
dd_rm_text, tr_text, perl_text = (text[name] for name in list(text)[1:4])
per_file = {count: medians[f"{count:,} files of 4 KB"]["morvane '*.txt'"] / count for count in (SMALL, LARGE)}
over_floor = {count: medians[f"{count:,} files of 4 KB"]["morvane '*.txt'"] /
              medians[f"{count:,} files of 4 KB"]["the durable steps alone, one file at a time (bench/floor.c)"]
              for count in (SMALL, LARGE)}
over_perl = {count: medians[f"{count:,} files of 4 KB"]["morvane '*.txt'"] /
             medians[f"{count:,} files of 4 KB"]["perl -pi -e 'tr/\\n/\\r/' *.txt"] for count in (SMALL, LARGE)}
per_name = (rss_files[LARGE] - rss_files[SMALL]) * 1024 / (LARGE - SMALL)
verdicts = [
    (f"{size} text: at most 1.10x dd conv=fdatasync then rm ({morvane_text / dd_rm_text:.2f}x)",
     morvane_text <= 1.10 * dd_rm_text),
    (f"{size} text: no slower than tr into a new file, at most 1.05x ({morvane_text / tr_text:.2f}x)",
     morvane_text <= 1.05 * tr_text),
    (f"{size} text: faster than perl -pi ({morvane_text / perl_text:.2f}x)", morvane_text < perl_text),
    (f"small files: at most 1.05x the durable steps alone ({over_floor[SMALL]:.2f}x at {SMALL:,}, "
     f"{over_floor[LARGE]:.2f}x at {LARGE:,})", max(over_floor.values()) <= 1.05),
    (f"small files: no slower than perl -pi, which never syncs ({over_perl[SMALL]:.2f}x at {SMALL:,}, "
     f"{over_perl[LARGE]:.2f}x at {LARGE:,})", max(over_perl.values()) <= 1.0),
    (f"small files: cost per file at {LARGE:,} at most 1.3x its cost at {SMALL:,} "
     f"({per_file[LARGE] / per_file[SMALL]:.2f}x)", per_file[LARGE] <= 1.3 * per_file[SMALL]),
    (f"memory: at most 3 MiB for one file ({max(tiny, rss64, rss_text)} KiB)",
     max(tiny, rss64, rss_text) <= 3 * 1024),
    (f"memory: flat in the file's size, within 64 KiB from 64 MiB to {size} "
     f"({rss_text - rss64:+d} KiB)", abs(rss_text - rss64) <= 64),
    (f"memory: at most 100 bytes more per added name ({per_name:.0f} bytes)", per_name <= 100),
]
print()
for what, met in verdicts:
    print(f"{'met    ' if met else 'NOT met'}  {what}")
print(f"\nMedians of {ROUNDS} interleaved rounds; scratch on {os.getcwd()}.")
