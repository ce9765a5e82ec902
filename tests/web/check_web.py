#!/usr/bin/env python3
"""The web build's checks in headless Chromium and Firefox, each against the native build's outputs made here and
now (run by scripts/test-web, which gives them an X screen and a PulseAudio null sink; the README's test-web
section lists what is checked):

    tests/web/check_web.py NATIVE_BUILD WEB_BUILD

Prints the figures (gzipped sizes, load to first frame, lengths, underruns) and "N passed, N failed".
"""
import gzip
import json
import os
import re
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "scripts"))
import web_browser  # noqa: E402

SOUND_SECONDS = 20
passed = failed = 0


def check(name, ok, detail=""):
    global passed, failed
    if ok:
        passed += 1
        print("PASS  " + name)
    else:
        failed += 1
        print("FAIL  " + name + (": " + detail if detail else ""))


def wav_samples(path):
    """The sample bytes of a WAV file's data chunk."""
    with open(path, "rb") as f:
        data = f.read()
    at = 12
    while at + 8 <= len(data):
        kind, size = data[at:at + 4], struct.unpack("<I", data[at + 4:at + 8])[0]
        if kind == b"data":
            return data[at + 8:at + 8 + size]
        at += 8 + size + (size & 1)
    return b""


def first_audible_frame(samples):
    for i in range(0, len(samples) - 3, 4):
        if samples[i:i + 4] != b"\0\0\0\0":
            return i
    return len(samples)


def sound_difference(sound, expected):
    """Where the sound played first differs from the native sound, in words."""
    if sound == expected:
        return "the sound is the native one"
    same = next((i for i in range(0, min(len(sound), len(expected)), 4) if sound[i:i + 4] != expected[i:i + 4]),
                min(len(sound), len(expected)))
    return "%d of %d bytes, the first %.3f s the native sound" % (len(sound), len(expected), same / 4 / 44100)


def restarts(sound, music, probe=256, within=10 * 44100 * 4):
    """The byte offsets (whole frames, after the start, in the first ten seconds) at which `sound` begins `music`
    again, going by its first bytes; the caller checks each in full."""
    at = sound.find(music[:probe], 4, within)
    while at > 0:
        if at % 4 == 0:
            yield at
        at = sound.find(music[:probe], at + 1, within)


def started_over(sound, music, at):
    """Whether `sound` is `music` up to byte `at` and `music` from its start again after it."""
    return sound[:at] == music[:at] and sound[at:] == music[:len(sound) - at]


def same_music(sound, native, start):
    """Whether the page's sound (from its first audible frame) is the native one, or differs from it only in the
    tick at which the music started over: the show starts the music and then asks for its module, which the mixer
    thread starts over at the tick after it sees the request, and on a real device that depends on when the main
    thread got to it. Both are then the module's start up to some tick, then its start again (or at once). The
    music without a restart is the native sound after its own restart, or the native sound itself."""
    expected = native[start:start + len(sound)]
    if sound == expected:
        return True, "the sound is the native one"
    heard = native[start:]
    for native_at in [0] + list(restarts(heard, heard)):
        music = heard[native_at:]
        if heard[:native_at] != music[:native_at]:
            continue
        for page_at in [0] + list(restarts(sound, music)):
            if started_over(sound, music, page_at):
                return True, "the native sound, with the music started over %.3f s after its first start (%.3f s " \
                    "in the native capture)" % (page_at / 4 / 44100, native_at / 4 / 44100)
    return False, sound_difference(sound, expected)


def reasons(text):
    """The program's one-line reasons ("quimbles: ..."), wherever a progress bar left them on a line; a line
    repeated at once counts once, as the page shows it."""
    lines = [m.group(0).strip() for m in re.finditer(r"quimbles: [^\r\n]*", text)]
    return [line for i, line in enumerate(lines) if i == 0 or lines[i - 1] != line]


def run_page(web_build, query, files=None, timeout=300, browser="chromium", extra=(), isolate=True):
    server = web_browser.serve(web_build, files, inject=("/quimbles.html", os.path.join(ROOT, "tests/web/page_check.js")),
                               isolate=isolate)
    kind = web_browser.Firefox if browser == "firefox" else web_browser.Chromium
    page = kind(server.url + "quimbles.html?" + query, extra)
    try:
        body = server.wait_for("page", timeout)
    finally:
        page.close()
        server.shutdown()
    return (json.loads(body) if body else None), server.results.get("sound", b"")


# The picture scenes as flips (1 is the black frame before the music): each keeps 60 flips a second throughout.
# The logo is the last 1537 flips, after the movies.
PICTURE_SCENES = (("scene 1", 2, 322), ("scene 2", 323, 515), ("scene 3", 516, 708), ("scene 4", 709, 1989))
LOGO_FLIPS = 1537


def native_show_seconds(native):
    """How long the native Linux show takes from start to exit on the X screen and sound server of the test, or
    None when there are none."""
    if not os.environ.get("DISPLAY") or not os.environ.get("PULSE_SERVER"):
        return None
    started = time.time()
    result = subprocess.run([os.path.join(native, "bin", "quimbles")], cwd=ROOT, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, text=True, timeout=600)
    seconds = time.time() - started
    check("the native show runs to its end (%.1f s)" % seconds, result.returncode == 0, result.stderr[-300:])
    return seconds


def check_timeline(label, page, native_seconds, flips):
    """The page's show lasts as long as the native one, and each picture scene keeps 60 flips a second from its
    first frame to its last: the flips' offsets from that timeline drift by less than one frame (each end taken
    as the median of a tenth of the scene's shown flips, so that one late flip on a busy machine does not count)."""
    length = (page["endTime"] - page["startTime"]) / 1000
    if native_seconds:
        check("%s: the show lasts %.1f s, the native one %.1f s (within 5 %%)" % (label, length, native_seconds),
              abs(length / native_seconds - 1) <= 0.05)
    times = page["flipTimes"]
    period = 1000 / 60
    worst, where, latest = 0.0, "", 0.0
    for name, first, last in PICTURE_SCENES + (("logo", flips - LOGO_FLIPS + 1, flips),):
        offsets = [times[k - 1] - k * period for k in range(first, last + 1) if k <= len(times) and times[k - 1] > 0]
        if len(offsets) < 10:
            worst, where = float("inf"), name + " hardly shown"
            break
        part = max(5, len(offsets) // 10)
        drift = abs(statistics.median(offsets[-part:]) - statistics.median(offsets[:part]))
        latest = max(latest, max(offsets) - min(offsets))
        if drift > worst:
            worst, where = drift, name
    left_out = sum(1 for t in times[:flips] if t == 0)
    check("%s: every picture scene keeps 60 flips a second from its first frame to its last (worst drift %.1f ms, "
          "in %s; %d of %d flips left out, the latest %.0f ms off)" % (label, worst, where, left_out, flips, latest),
          worst <= period)
    return length, left_out


def check_frames(label, page, native_crcs, flips):
    for flip in flips:
        seen = page["crcs"].get(str(flip))
        shown_flip = seen["flip"] if seen else flip
        check("%s: canvas at flip %d is the native frame %s" % (label, shown_flip, native_crcs[shown_flip - 1]),
              seen is not None and seen["crc"] == native_crcs[shown_flip - 1], "canvas " + str(seen))


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    native, web_build = (os.path.abspath(p) for p in sys.argv[1:])
    ok, why = web_browser.chromium_starts()
    if not ok:
        print("test-web: skipped: headless Chromium cannot start here (%s)" % why)
        return 0
    work = tempfile.mkdtemp(prefix="quimbles-web-check-")
    try:
        return run_checks(native, web_build, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def run_checks(native, web_build, work):
    capture = os.path.join(native, "bin", "quimbles-capture")
    data = os.path.join(ROOT, "data")
    native_log, native_wav = os.path.join(work, "native-frames.txt"), os.path.join(work, "native.wav")
    subprocess.run([capture, "--data", data, "--frame-log", native_log, "--wav", native_wav], check=True,
                   stderr=subprocess.DEVNULL)
    with open(native_log) as f:
        native_crcs = [line.split()[1] for line in f]
    native_sound = wav_samples(native_wav)

    # The web capture against the native one.
    web_log, web_wav = os.path.join(work, "web-frames.txt"), os.path.join(work, "web.wav")
    started = time.time()
    result = subprocess.run([os.path.join(ROOT, "scripts", "web-capture"), "--build", web_build, "--data", data,
                             "--frame-log", web_log, "--wav", web_wav], stderr=subprocess.PIPE, text=True)
    capture_seconds = time.time() - started
    check("web capture ends with status 0", result.returncode == 0, result.stderr[-500:])
    same_log = os.path.exists(web_log) and open(web_log, "rb").read() == open(native_log, "rb").read()
    check("web capture frame log equals the native one (%d frames)" % len(native_crcs), same_log)
    same_wav = os.path.exists(web_wav) and open(web_wav, "rb").read() == open(native_wav, "rb").read()
    check("web capture WAV equals the native one (%d bytes)" % os.path.getsize(native_wav), same_wav)

    native_seconds = native_show_seconds(native)
    flips = sorted({1, 200, 700, 1500, 2000, 2100, 2200, 2500, len(native_crcs)})
    start = first_audible_frame(native_sound)
    expected = native_sound[start:start + SOUND_SECONDS * 44100 * 4]
    query = "frames=%s&seconds=%d" % (",".join(map(str, flips)), SOUND_SECONDS)
    lengths = []

    def play(label, browser="chromium", extra=(), isolate=True, full=False, busy=0):
        """One whole show in a browser: its end and its timeline, and with `full` its frames and its sound."""
        loads = [subprocess.Popen([sys.executable, "-c", "while True: pass"]) for _ in range(busy)]
        try:
            # Sound is real time: on a machine that other work keeps busy the page's workers can miss their turn.
            # Such a run is said (and counted) and the page is played once more; the checks are made on that run.
            for attempt in (1, 2):
                page, sound = run_page(web_build, query, browser=browser, extra=extra, isolate=isolate)
                if not full or page is None or attempt == 2:
                    break
                late = [t for t in page["audio"]["underrunTimes"] + page["audio"]["dropoutTimes"]
                        if t <= SOUND_SECONDS]
                if not late:
                    break
                print("NOTE  %s: the page's sound missed its time (underruns or short blocks at %s s; load average "
                      "%.1f): the machine did not run the page's workers in time; playing the page once more (1 run "
                      "retried)" % (label, ["%.1f" % t for t in late], os.getloadavg()[0]))
        finally:
            for load in loads:
                load.kill()
                load.wait()
        check("%s: the page reports back" % label, page is not None)
        if page is None:
            return None
        check("%s: the show reaches its end (status 0, \"%s\")" % (label, page["message"]),
              page["status"] == 0 and page["message"] == "The show has ended.", page["details"])
        if not isolate:
            check("%s: the page isolated itself with its service worker" % label,
                  page["isolated"] and page["serviceWorker"], "isolated %s, service worker %s"
                  % (page["isolated"], page["serviceWorker"]))
        length, left_out = check_timeline(label, page, native_seconds, len(native_crcs))
        lengths.append("%s %.1f s (%d flips left out)" % (label, length, left_out))
        if full:
            check_frames(label, page, native_crcs, flips)
            audio = page["audio"]
            same, how = same_music(sound, native_sound, start)
            check("%s: the first %d s of sound played are the native WAV's (%s)" % (label, SOUND_SECONDS, how), same)
            early = [t for t in audio["underrunTimes"] + audio["dropoutTimes"] if t <= SOUND_SECONDS]
            check("%s: no underrun or dropout in the first %d s of sound" % (label, SOUND_SECONDS), not early,
                  str(early))
            check("%s: Web Audio ran at 44100 Hz" % label, audio["sampleRate"] == 44100 and audio["state"] == "running",
                  "%s %s" % (audio["sampleRate"], audio["state"]))
        return page

    page = play("Chromium at 60 Hz", full=True)
    if page is None:
        print("%d passed, %d failed" % (passed, failed))
        return 1
    play("Chromium, frame-rate limit off", extra=("--disable-frame-rate-limit", "--disable-gpu-vsync"))
    play("Chromium, two busy processes", busy=2)
    play("Chromium, plain static server", isolate=False)
    firefox = shutil.which("firefox-esr") is not None
    check("Firefox ESR is installed", firefox)
    if firefox:
        play("Firefox", browser="firefox", full=True)
        play("Firefox, plain static server", browser="firefox", isolate=False)

    # Set-up failures give the native reasons on the page.
    with open(os.path.join(data, "le_poilu.png"), "rb") as f:
        short_picture = f.read()[:-1000]
    for name, body, label in (("wide.xm", None, "missing"), ("le_poilu.png", short_picture, "short")):
        folder = os.path.join(work, "data-" + label)
        shutil.copytree(data, folder)
        if body is None:
            os.remove(os.path.join(folder, name))
        else:
            with open(os.path.join(folder, name), "wb") as f:
                f.write(body)
        result = subprocess.run([capture, "--data", folder], stderr=subprocess.PIPE, text=True)
        expected_reasons = reasons(result.stderr)
        failure, _ = run_page(web_build, "seconds=0", {"/data/" + name: body}, timeout=120)
        shown = reasons(failure["details"]) if failure else None
        check("a %s %s gives the native reasons on the page %s" % (label, name, expected_reasons),
              failure is not None and failure["status"] != 0 and bool(expected_reasons) and shown == expected_reasons,
              str(shown))

    # Figures.
    print("\nfigures:")
    for stem in ("quimbles", "quimbles-capture"):
        sizes = []
        for ext in (".wasm", ".js", ".worker.js"):
            with open(os.path.join(web_build, stem + ext), "rb") as f:
                raw = f.read()
            sizes.append("%s %d (gzipped %d)" % (ext, len(raw), len(gzip.compress(raw, 9))))
        print("  %s: %s" % (stem, ", ".join(sizes)))
    print("  page: ready to click %.0f ms after load; first frame %.0f ms after the click"
          % (page["readyTime"], page["firstFrameTime"] - page["startTime"]))
    print("  show lengths: native %s; %s" % ("%.1f s" % native_seconds if native_seconds else "not run",
                                            "; ".join(lengths)))
    audio = page["audio"]
    print("  sound: %d frames played; over the whole show %d underruns of the ring %s and %d blocks the worklet "
          "played short %s" % (audio["framesPlayed"], audio["underruns"],
                               ["%.1f s" % t for t in audio["underrunTimes"]], audio["dropouts"],
                               ["%.1f s" % t for t in audio["dropoutTimes"]]))
    print("  web capture: %.1f s for the whole show" % capture_seconds)
    print("\n%d passed, %d failed" % (passed, failed))
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
