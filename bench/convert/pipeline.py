#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The direct route with a text layer, one program against another, in one run.

    bench/convert/pipeline.py AFTER BEFORE [--pages 20] [--rounds 3]

AFTER and BEFORE are two built `vormelle` programs (this tree's and an older checkout's). Each
converts the same TIFF of N bitonal pages of text (the sample letter, repeated) with
`--convert --encoder direct --ocr=eng --jobs 1`, in turns, ROUNDS times. For every run: processor
time of the whole process tree (getrusage of the reaped children: user + system), bytes the
tree caused to be written to storage (/proc/self/io write_bytes, which counts what the reaped
children wrote, ours being nil meanwhile), bytes handed to write() calls (wchar, which also
counts pipes and memory files) and the largest resident set of any process of the tree. The
lowest of the rounds counts; ratios are AFTER / BEFORE.

    bench/convert/pipeline.py --colour-page AFTER

Peak memory of one 600 dpi colour A4 page (4961 x 7016) on the direct route, against c44 alone
on the same pixels.
"""
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import time


def io_counters():
    with open("/proc/self/io") as f:
        fields = dict(line.split(": ") for line in f.read().splitlines())
    return int(fields["write_bytes"]), int(fields["wchar"])


def measured(command, env):
    """Runs `command` to its end; its tree's processor seconds, disk bytes, write() bytes and
    largest resident set (KiB). It runs under a fork of this script that does nothing else, so
    the counters, the peak among them, belong to this command alone."""
    read_end, write_end = os.pipe()
    pid = os.fork()
    if pid == 0:
        os.close(read_end)
        disk0, chars0 = io_counters()
        done = subprocess.run(command, env=env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE)
        disk1, chars1 = io_counters()
        usage = resource.getrusage(resource.RUSAGE_CHILDREN)
        report = "%d %r %d %d %d\n%s" % (done.returncode, usage.ru_utime + usage.ru_stime,
                                          disk1 - disk0, chars1 - chars0, usage.ru_maxrss,
                                          done.stderr.decode(errors="replace"))
        os.write(write_end, report.encode())
        os._exit(0)
    os.close(write_end)
    with os.fdopen(read_end) as f:
        report = f.read()
    os.waitpid(pid, 0)
    head, _, said = report.partition("\n")
    code, cpu, disk, chars, rss = head.split()
    if int(code) != 0:
        sys.exit("%s failed (%s): %s" % (command[0], code, said))
    return float(cpu), int(disk), int(chars), int(rss)


def own_peak(command, env):
    """The program's own peak resident set (VmHWM, KiB), its children not counted: read from
    /proc while it runs (the mark only grows, so the last reading is within a pass of it)."""
    child = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    peak = 0
    while child.poll() is None:
        try:
            with open("/proc/%d/status" % child.pid) as f:
                for line in f:
                    if line.startswith("VmHWM:"):
                        peak = max(peak, int(line.split()[1]))
        except OSError:
            pass
        time.sleep(0.02)
    return peak


def environment(work):
    env = dict(os.environ)
    for name in ("XDG_CONFIG_HOME", "XDG_STATE_HOME", "TMPDIR"):
        path = os.path.join(work, name.lower())
        os.makedirs(path, exist_ok=True)
        env[name] = path
    env["QT_QPA_PLATFORM"] = "offscreen"
    env["OMP_THREAD_LIMIT"] = "1"
    return env


def sample(program):
    return os.path.join(os.path.dirname(program), "Samples", "letter-bitonal-g4.tif")


def pipeline(after, before, pages, rounds):
    work = tempfile.mkdtemp(prefix="vormelle-bench-pipeline-")
    try:
        tiff = os.path.join(work, "pages.tif")
        subprocess.run(["tiffcp"] + [sample(after)] * pages + [tiff], check=True)
        env = environment(work)
        best = {}
        for _ in range(rounds):
            for name, program in (("before", before), ("after", after)):
                out = os.path.join(work, "out-" + name)
                shutil.rmtree(out, ignore_errors=True)
                os.makedirs(out)
                # Flushed, so the writes of one run are not counted in the next.
                os.sync()
                figures = measured([program, "--convert", "--encoder", "direct", "--ocr=eng",
                                    "--jobs", "1", "--output", out, tiff], env)
                os.sync()
                best[name] = [min(a, b) for a, b in zip(best.get(name, figures), figures)]
                size = os.path.getsize(os.path.join(out, "pages.djvu"))
                best[name + " size"] = size
        print("direct route with a text layer, %d bitonal pages of text (%s), lowest of %d:"
              % (pages, os.path.basename(sample(after)), rounds))
        print("%-8s %12s %14s %14s %12s %10s" % ("", "cpu s/page", "disk B/page", "write() B/page",
                                                 "peak RSS MiB", "DjVu B"))
        for name in ("before", "after"):
            cpu, disk, chars, rss = best[name]
            print("%-8s %12.3f %14.0f %14.0f %12.1f %10d" % (name, cpu / pages, disk / pages,
                                                             chars / pages, rss / 1024,
                                                             best[name + " size"]))
        b, a = best["before"], best["after"]
        print("after / before: processor time %.2f, disk bytes %.2f, write() bytes %.2f"
              % (a[0] / b[0], a[1] / b[1] if b[1] else float("nan"),
                 a[2] / b[2] if b[2] else float("nan")))
    finally:
        shutil.rmtree(work, ignore_errors=True)


def colour_page(after):
    work = tempfile.mkdtemp(prefix="vormelle-bench-colour-")
    try:
        width, height = 4961, 7016
        ppm = os.path.join(work, "page.ppm")
        # A gradient with some detail, so c44 has real work; the rows repeat in bands.
        band = bytearray()
        for y in range(64):
            band += bytes((x * 255 // width, (x + 4 * y) % 256, (x * y) % 256)[c]
                          for x in range(width) for c in range(3))
        with open(ppm, "wb") as f:
            f.write(b"P6\n%d %d\n255\n" % (width, height))
            for _ in range(height // 64):
                f.write(band)
            f.write(band[:3 * width * (height % 64)])
        tiff = os.path.join(work, "page.tif")
        subprocess.run(["ppm2tiff", "-c", "lzw", "-R", "600", ppm, tiff], check=True)
        env = environment(work)
        out = os.path.join(work, "out")
        os.makedirs(out)
        cpu, disk, chars, rss = measured([after, "--convert", "--encoder", "direct", "--jobs", "1",
                                          "--output", out, tiff], env)
        shutil.rmtree(out)
        os.makedirs(out)
        own = own_peak([after, "--convert", "--encoder", "direct", "--jobs", "1", "--output", out,
                        tiff], env)
        c44 = shutil.which("c44")
        ccpu, cdisk, cchars, crss = measured([c44, "-dpi", "600", "-crcbfull", ppm,
                                              os.path.join(work, "c44.djvu")], env)
        print("one 600 dpi colour A4 page (%d x %d, %.1f MiB of RGB), direct route:"
              % (width, height, 3 * width * height / 2**20))
        print("  largest process of the tree %.1f MiB; c44 alone on the same pixels %.1f MiB;"
              " ratio %.2f" % (rss / 1024, crss / 1024, rss / crss))
        print("  the program itself (its children not counted) %.1f MiB, of which the page's"
              " pixels %.1f MiB" % (own / 1024, 3 * width * height / 2**20))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    args = sys.argv[1:]
    if args and args[0] == "--colour-page":
        colour_page(os.path.abspath(args[1]))
        sys.exit(0)
    pages, rounds = 20, 3
    if "--pages" in args:
        i = args.index("--pages")
        pages = int(args[i + 1])
        del args[i:i + 2]
    if "--rounds" in args:
        i = args.index("--rounds")
        rounds = int(args[i + 1])
        del args[i:i + 2]
    if len(args) != 2:
        sys.exit(__doc__)
    pipeline(os.path.abspath(args[0]), os.path.abspath(args[1]), pages, rounds)
