#!/usr/bin/env python3
"""Power cuts through a real kernel's write path. Each round puts a file of a few bytes to a few MiB on
the power-cut layer (powercutfs, mounted in a temporary folder of its own), starts `veltrane-cli
encrypt` or `decrypt` on it, kills it at a random moment, and cuts the power: the layer keeps a random
subset of what was not synced. Sometimes the next command is killed and cut too. Then a last command,
left to finish, must give exactly the encrypted file (encrypt) or exactly the plain file (decrypt);
the encrypted file is what `veltrane-cli encrypt --no-sync` makes of the plain one elsewhere.

    tests/fuse/powercutrounds.py LAYER CLI

VELTRANE_THOROUGH=1 runs it (it skips otherwise); VELTRANE_FEWER_ROUNDS=1 runs fewer rounds,
VELTRANE_POWERCUT_ROUNDS=N exactly N. VELTRANE_POWERCUT_SEED=S starts at seed S instead of one drawn
from the clock, and leaves out the rounds of KNOWN_SEEDS that otherwise run first: a round's seed is
printed with it, and S with ROUNDS=1 runs that round again (up to where a kill on the clock lands). A
failing round's files are kept in powercut-failures/SEED under the working folder. Exit status 0 when
every round passed, 1 when one failed, 77 when skipped (the reason printed)."""

import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SKIPPED = 77
NAME = "file"
# Each command's -j: the default zones (up to 32 MiB, so one for these files), or zones of 2 MiB or 1 MiB.
JOBS = [None, 128, 256]
# Rounds that once failed, run first every time: they cut where a kill by the layer (at a counted
# change) landed, so they land there again while the commands make the same changes.
#   40281  a decryption of a 1,558-byte file cut after its final truncation (to 1,538 bytes) and before
#          the sync after it; the truncation's size is lost but the zeros it wrote over the rest of its
#          last page are kept, over the last 20 bytes of the body the record covers
KNOWN_SEEDS = [40281]
# The outcomes a command may report on a file that a crash left in any state, and its exit status.
ACCEPTED = {
    "encrypt": {"encrypted": 0, "skipped: already encrypted": 1},
    "decrypt": {"decrypted": 0, "skipped: not an encrypted file": 1},
}


def skip(reason):
    print(f"skipped: {reason}")
    sys.exit(SKIPPED)


class Failure(Exception):
    pass


class Layer:
    """The power-cut layer mounted at FOLDER/mnt while the object lives."""

    def __init__(self, binary, folder):
        self.mount = os.path.join(folder, "mnt")
        os.mkdir(self.mount)
        self.log_path = os.path.join(folder, "layer.log")
        with open(self.log_path, "wb") as log:
            self.process = subprocess.Popen([binary, self.mount], stdout=log, stderr=log)
        deadline = time.monotonic() + 10
        while not os.path.ismount(self.mount):
            if self.process.poll() is not None or time.monotonic() > deadline:
                self.close()
                skip(f"the layer could not be mounted here: {self.log().strip()}")
            time.sleep(0.02)
        self.control = os.path.join(self.mount, ".powercut")
        self.path = os.path.join(self.mount, NAME)

    def log(self):
        with open(self.log_path, encoding="utf-8", errors="replace") as log:
            return log.read()

    def put(self, data):
        """The file as the disk holds it: written and synced."""
        with open(self.path, "wb") as file:
            file.write(data)
            file.flush()
            os.fsync(file.fileno())

    def read(self):
        with open(self.path, "rb") as file:
            return file.read()

    def cut(self, seed):
        """Cuts the power; the report, after a check that the kernel shows the file as it was cut."""
        with open(self.control, "w", encoding="ascii") as control:
            control.write(f"cut {seed}\n")
        with open(self.control, encoding="ascii") as control:
            report = control.read()
        line = next(line for line in report.splitlines() if line.startswith(NAME + ":"))
        size, crc = re.match(NAME + r": size (\d+) cksum (\d+)", line).groups()
        left = subprocess.run(["cksum", self.path], check=True, capture_output=True, text=True).stdout.split()
        if left[:2] != [crc, size]:
            raise Failure(f"read back through the kernel, the file is not what the cut left: {left[:2]} "
                          f"against {line}")
        return report.splitlines()[0] + "; " + line

    def stop(self, change):
        with open(self.control, "w", encoding="ascii") as control:
            control.write(f"stop {change}\n")

    def restart(self):
        with open(self.control, "w", encoding="ascii") as control:
            control.write("restart\n")

    def close(self):
        if os.path.ismount(self.mount):
            if subprocess.run(["fusermount3", "-u", self.mount]).returncode != 0:
                subprocess.run(["fusermount3", "-u", "-z", self.mount])
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


class Rounds:
    def __init__(self, cli, layer, folder):
        self.cli = cli
        self.layer = layer
        self.folder = folder
        self.key = os.path.join(folder, "key")
        self.env = dict(os.environ, XDG_STATE_HOME=os.path.join(folder, "state"), HOME=os.path.join(folder, "home"))
        self.cuts = 0
        self.partway = 0
        self.mixed = 0
        self.outcomes = {}
        self.timings = self.calibrate()

    def command(self, verb, path, jobs=None, no_sync=False):
        return ([self.cli, verb, "--key-file", self.key] + (["-j", str(jobs)] if jobs else []) +
                (["--no-sync"] if no_sync else []) + [path])

    def calibrate(self):
        """How long a durable encryption takes on the layer with each choice of zones, from its start to
        its end and from its first change of the file to its last: (seconds, seconds a byte) of each."""
        with open(self.key, "w", encoding="ascii") as key:
            key.write("calibration\n")
        small, large = 4096, 4 << 20
        timings = {}
        for jobs in JOBS:
            runs = []
            for size in (small, large):
                self.layer.put(bytes(size))
                last = os.stat(self.layer.path).st_mtime_ns
                started = time.monotonic()
                process = subprocess.Popen(self.command("encrypt", self.layer.path, jobs), env=self.env,
                                           stdout=subprocess.DEVNULL)
                changes = []
                while process.poll() is None:
                    modified = os.stat(self.layer.path).st_mtime_ns
                    if modified != last:
                        changes.append(time.monotonic())
                        last = modified
                    time.sleep(0.0005)
                if process.returncode != 0 or not changes:
                    raise Failure("the calibration's encryption failed")
                runs.append((time.monotonic() - started, changes[-1] - changes[0]))
            timings[jobs] = [(small_run, max(0.0, (large_run - small_run) / (large - small)))
                             for small_run, large_run in zip(*runs)]
        return timings

    def duration(self, jobs, size, from_first_change):
        fixed, per_byte = self.timings[jobs][1 if from_first_change else 0]
        return fixed + size * per_byte

    def encrypted(self, plain):
        path = os.path.join(self.folder, "expected")
        with open(path, "wb") as file:
            file.write(plain)
        subprocess.run(self.command("encrypt", path, no_sync=True), env=self.env, check=True,
                       stdout=subprocess.DEVNULL)
        with open(path, "rb") as file:
            return file.read()

    def run(self, verb, jobs, kill_after=None, from_first_change=False, stop_at=None):
        """Output and exit status of the command on the layer's file, or None for one killed
        `kill_after` seconds after its start or after its first change of the file, or by the layer at
        its `stop_at`-th change."""
        self.layer.stop(stop_at or 0)
        unchanged = os.stat(self.layer.path).st_mtime_ns
        process = subprocess.Popen(self.command(verb, self.layer.path, jobs), env=self.env, stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT, text=True, errors="replace")
        # A command reads a zone whole before it writes any of it: most of a small file's run changes
        # nothing. Every change moves the file's modification time on the layer.
        while from_first_change and process.poll() is None and os.stat(self.layer.path).st_mtime_ns == unchanged:
            time.sleep(0.0005)
        try:
            output, _ = process.communicate(timeout=kill_after if kill_after is not None else 600)
            if process.returncode == -signal.SIGKILL:
                return None
        except subprocess.TimeoutExpired:
            if kill_after is None:
                process.kill()
                process.communicate()
                raise Failure(f"{verb} did not finish in 10 minutes")
            process.send_signal(signal.SIGKILL)
            process.communicate()
            return None
        return output, process.returncode

    def judge(self, verb, output, status):
        line = output.strip()
        prefix = self.layer.path + ": "
        words = line[len(prefix):] if line.startswith(prefix) and "\n" not in line else None
        # "encrypted (finished an interrupted encryption)" and the like count as "encrypted".
        outcome = words.split(" (")[0] if words else None
        if outcome not in ACCEPTED[verb] or ACCEPTED[verb][outcome] != status:
            raise Failure(f"{verb} reported {line!r} with exit status {status}")
        self.outcomes[f"{verb}: {words}"] = self.outcomes.get(f"{verb}: {words}", 0) + 1

    def round(self, seed):
        chance = random.Random(seed)
        # Files of several zones of 1 or 2 MiB most often: their states between zones are the most.
        bounds = chance.choices([(0, 4096), (4096, 64 << 10), (64 << 10, 1 << 20), (1 << 20, 5 << 20)], [3, 4, 5, 8])[0]
        size = chance.randrange(*bounds)
        if chance.random() < 0.25:
            size = max(0, (size // 4096 + 1) * 4096 - chance.choice([0, 1, 19, 20, 21]))
        plain = chance.randbytes(size)
        with open(self.key, "w", encoding="ascii") as key:
            key.write(f"power cut {seed}\n")
        encrypted = self.encrypted(plain)
        forms = {"encrypt": encrypted, "decrypt": plain}
        verb = chance.choice(["encrypt", "decrypt"])
        self.layer.put(plain if verb == "encrypt" else encrypted)

        story = [f"round {seed}: {size} bytes"]
        states = []
        try:
            # A power cut during the first command, and sometimes during the commands that recover.
            for _ in range(1 + (chance.random() < 0.3) + (chance.random() < 0.1)):
                jobs = chance.choice(JOBS)
                # Killed at a random moment of its run, on the wall's clock or by the layer at a
                # random change (a write, truncation, reservation or sync).
                moment = chance.choice(["start", "first change", "change", "change"])
                stop_at = chance.randint(1, 10 + size // 65536 + 4 * (size // (1 << 20) + 1))
                delay = chance.uniform(0, 1.25 * self.duration(jobs, size, moment == "first change"))
                if moment == "change":
                    finished = self.run(verb, jobs, None, stop_at=stop_at)
                    when = f"at its change {stop_at}"
                else:
                    finished = self.run(verb, jobs, delay, moment == "first change")
                    when = f"{delay * 1000:.1f} ms after its {moment}"
                if finished:
                    self.judge(verb, *finished)
                report = self.layer.cut(chance.getrandbits(63))
                states.append(self.layer.read())
                self.layer.restart()
                self.cuts += 1
                partway = states[-1] not in (plain, encrypted)
                self.partway += partway
                kept = re.search(r"(\d+) newest, (\d+) as synced, (\d+) between", report)
                self.mixed += bool(kept) and int(kept[1]) > 0 and int(kept[2]) + int(kept[3]) > 0
                story.append(f"{verb}{f' -j {jobs}' if jobs else ''} "
                             f"{'finished' if finished else 'killed ' + when}, "
                             f"{'part-way' if partway else 'whole'}; {report}")
                verb = chance.choice(["encrypt", "decrypt"])
            jobs = chance.choice(JOBS)
            output, status = self.run(verb, jobs)
            story.append(f"then {verb}{f' -j {jobs}' if jobs else ''}: {output.strip()}")
            self.judge(verb, output, status)
            if self.layer.read() != forms[verb]:
                raise Failure(f"{verb} left neither exactly the {'encrypted' if verb == 'encrypt' else 'plain'} file")
        except Failure as failure:
            story.append(f"FAILED: {failure}")
            self.keep(seed, plain, encrypted, states, story)
            print("\n    ".join(story), flush=True)
            return False
        print("\n    ".join(story), flush=True)
        return True

    def keep(self, seed, plain, encrypted, states, story):
        folder = os.path.join(os.getcwd(), "powercut-failures", str(seed))
        os.makedirs(folder, exist_ok=True)
        files = {"plain": plain, "encrypted": encrypted, "final": self.layer.read()}
        files.update({f"cut-{n + 1}": state for n, state in enumerate(states)})
        for name, data in files.items():
            with open(os.path.join(folder, name), "wb") as file:
                file.write(data)
        with open(os.path.join(folder, "story.txt"), "w", encoding="utf-8") as file:
            file.write("\n".join(story) + "\n\nlayer log:\n" + self.layer.log())
        story.append(f"its files are kept in {folder}")


def main():
    layer_binary, cli = sys.argv[1], sys.argv[2]
    if os.environ.get("VELTRANE_THOROUGH") != "1":
        skip("the thorough tier's check (VELTRANE_THOROUGH=1)")
    if not os.path.exists("/dev/fuse"):
        skip("no /dev/fuse on this machine")
    if shutil.which("fusermount3") is None:
        skip("no fusermount3 (Debian package fuse3)")
    rounds = int(os.environ.get("VELTRANE_POWERCUT_ROUNDS") or (60 if os.environ.get("VELTRANE_FEWER_ROUNDS") else 400))
    first = int(os.environ.get("VELTRANE_POWERCUT_SEED") or time.time_ns() % 1_000_000_007)
    # A termination (a time limit) unmounts too.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    folder = tempfile.mkdtemp(prefix="veltrane-powercut.")
    layer = None
    try:
        layer = Layer(layer_binary, folder)
        rounds_run = Rounds(cli, layer, folder)
        known = [] if os.environ.get("VELTRANE_POWERCUT_SEED") else KNOWN_SEEDS
        print(f"{rounds} rounds from seed {first}" + (f", after those of seeds {known}" if known else ""), flush=True)
        for jobs, timings in rounds_run.timings.items():
            print(f"    a durable encryption with -j {jobs or 'by default'} takes, from its start to its end and from its "
                  f"first change to its last: " + ", ".join(f"{fixed * 1000:.1f} ms + {per_byte * 1000 * (1 << 20):.1f} ms a MiB"
                                         for fixed, per_byte in timings), flush=True)
        seeds = known + list(range(first, first + rounds))
        failed = [seed for seed in seeds if not rounds_run.round(seed)]
        print(f"{len(seeds)} rounds, {rounds_run.cuts} power cuts, {rounds_run.partway} of them during a command's "
              f"changes (the file neither plain nor encrypted), {rounds_run.mixed} keeping some of the pages not synced "
              f"and losing others; {len(failed)} rounds failed{': ' if failed else ''}"
              f"{' '.join(map(str, failed))}")
        for outcome, count in sorted(rounds_run.outcomes.items()):
            print(f"    {count:5} {outcome}")
        return 1 if failed else 0
    finally:
        if layer:
            layer.close()
        if not os.path.ismount(os.path.join(folder, "mnt")):
            shutil.rmtree(folder)
        else:
            print(f"!! {folder}/mnt is still mounted; left in place", file=sys.stderr)


if __name__ == "__main__":
    sys.exit(main())
