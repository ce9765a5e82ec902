// Loaded into the show's page by scripts/test-web (never part of the page itself). It clicks "click to start" as a
// person would, reads the canvas back at the flips named in the address (?frames=1,300,...) as their CRC-32 (at the
// next flip drawn, where the display left one out), keeps the first seconds of sound that leave the page after the
// first audible frame (?seconds=N), and when the show has ended sends everything to the server: /result/sound (the
// frames, raw), then /result/page (JSON, with the time of every flip).
(function() {
    var params = new URLSearchParams(location.search);
    var wanted = {};
    (params.get("frames") || "").split(",").forEach(function(n) { if (n) wanted[Number(n)] = true; });
    var soundFrames = 44100 * Number(params.get("seconds") || "20");
    var sound = new Int16Array(2 * soundFrames);
    var soundKept = 0, soundStarted = false;
    var crcs = {}, clicked = false;
    // Seconds after the first audible frame left the page at which the device counted underruns.
    var underrunTimes = [], underrunsSeen = 0, soundStartTime = 0;
    var dropoutTimes = [], dropoutsSeen = 0; // the same for blocks the worklet played short

    var table = new Int32Array(256);
    for (var n = 0; n < 256; n++) {
        var c = n;
        for (var k = 0; k < 8; k++)
            c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
        table[n] = c;
    }
    // CRC-32 of the frame as the show's words 0x00RRGGBB in little-endian order: B, G, R, 0 for each pixel.
    function frameCrc(rgba) {
        var crc = -1;
        for (var i = 0; i < rgba.length; i += 4) {
            crc = table[(crc ^ rgba[i + 2]) & 0xff] ^ (crc >>> 8);
            crc = table[(crc ^ rgba[i + 1]) & 0xff] ^ (crc >>> 8);
            crc = table[(crc ^ rgba[i]) & 0xff] ^ (crc >>> 8);
            crc = table[crc & 0xff] ^ (crc >>> 8);
        }
        return ("0000000" + ((crc ^ -1) >>> 0).toString(16)).slice(-8);
    }
    function hook() {
        var display = Module.quimblesDisplay, speaker = Module.quimblesSound;
        var lastDrawn = 0;
        display.onDraw = function(flip, canvas) {
            for (var n = lastDrawn + 1; n <= flip; n++) {
                if (wanted[n]) {
                    var context = canvas.getContext("2d");
                    crcs[n] = {flip: flip, crc: frameCrc(context.getImageData(0, 0, 640, 480).data)};
                    break;
                }
            }
            lastDrawn = flip;
        };
        speaker.onBlock = function(samples) {
            var i = 0;
            if (!soundStarted) {
                while (i < samples.length && samples[i] === 0)
                    i++;
                if (i === samples.length)
                    return;
                soundStarted = true;
                soundStartTime = performance.now();
                i -= i & 1; // from the frame's left sample
            }
            var take = Math.min(samples.length - i, sound.length - soundKept);
            sound.set(samples.subarray(i, i + take), soundKept);
            soundKept += take;
        };
    }
    function report() {
        var display = Module.quimblesDisplay, speaker = Module.quimblesSound;
        var context = Module.audioContext;
        var counters = speaker.counters();
        var result = {
            status: Module.exitStatus,
            message: document.getElementById("message").textContent,
            details: document.getElementById("details").textContent,
            crcs: crcs,
            framesDrawn: display.framesDrawn,
            readyTime: Module.readyTime,
            startTime: Module.startTime,
            firstFrameTime: display.firstFrameTime,
            flipTimes: display.flipTimes(8192),
            endTime: Module.endTime,
            isolated: window.crossOriginIsolated,
            serviceWorker: !!(navigator.serviceWorker && navigator.serviceWorker.controller),
            audio: {framesPlayed: counters.framesPlayed, underruns: counters.underruns, dropouts: counters.dropouts,
                    soundKept: soundKept / 2, underrunTimes: underrunTimes, dropoutTimes: dropoutTimes,
                    sampleRate: context ? context.sampleRate : 0, state: context ? context.state : "none"}
        };
        fetch("/result/sound", {method: "POST", body: sound.subarray(0, soundKept)})
            .then(function() { return fetch("/result/page", {method: "POST", body: JSON.stringify(result)}); });
    }
    var timer = setInterval(function() {
        if (!window.Module || !Module.quimblesDisplay)
            return;
        var overlay = document.getElementById("overlay");
        if (!clicked && overlay.classList.contains("ready")) {
            clicked = true;
            hook();
            overlay.click();
        }
        var speaker = Module.quimblesSound;
        var counters = speaker ? speaker.counters() : {underruns: 0, dropouts: 0};
        var since = soundStarted ? (performance.now() - soundStartTime) / 1000 : 0;
        if (counters.underruns !== underrunsSeen) {
            underrunsSeen = counters.underruns;
            underrunTimes.push(since);
        }
        if (counters.dropouts !== dropoutsSeen) {
            dropoutsSeen = counters.dropouts;
            dropoutTimes.push(since);
        }
        if (Module.exitStatus !== undefined) {
            clearInterval(timer);
            Module.endTime = Module.endTime || performance.now();
            report();
        }
    }, 50);
})();
