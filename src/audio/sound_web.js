// The page's side of the browser sound device (sound_web.cpp): an AudioWorklet that plays 16-bit stereo frames
// from the device's queue in the module's shared memory, on the browser's audio thread. The audio context runs at
// 44100 Hz, the show's own rate; the page makes it in its click handler (Module.audioContext), where the browser
// lets sound start.
var QuimblesSound = {
    node: null,
    words: 0,
    // When set before the device opens, called on the page's thread with what the worklet played, in batches
    // of 16-bit stereo frames (left first), for checks of what leaves the page.
    onBlock: null,

    // The device's counters: the ring's underruns and the blocks the worklet played short.
    counters: function() {
        if (!this.words)
            return {underruns: 0, dropouts: 0, framesPlayed: 0};
        var base = this.words >> 2;
        return {underruns: Atomics.load(HEAPU32, base + 4), dropouts: Atomics.load(HEAPU32, base + 2),
                framesPlayed: Atomics.load(HEAPU32, base + 1)};
    },

    // Starts making the worklet; the device's state word says when it runs (1) or failed (-1). Returns 0, or why
    // not: 1 no audio worklets, 2 no context at 44100 Hz, 3 the context runs at another rate.
    open: function(queue, queueFrames, words) {
        var AudioContextType = window.AudioContext || window.webkitAudioContext;
        if (!AudioContextType || !window.AudioWorkletNode)
            return 1;
        var context = Module["audioContext"];
        if (!context) {
            try {
                context = Module["audioContext"] = new AudioContextType({sampleRate: 44100});
            } catch (e) {
                return 2;
            }
        }
        if (context.sampleRate !== 44100)
            return 3;
        var sound = this;
        sound.words = words;
        var state = (words >> 2) + 3;
        var code = "(" + QuimblesSoundWorklet.toString() + ")()";
        var url = URL.createObjectURL(new Blob([code], {type: "text/javascript"}));
        context.audioWorklet.addModule(url).then(function() {
            var node = new AudioWorkletNode(context, "quimbles-output", {
                numberOfInputs: 0, numberOfOutputs: 1, outputChannelCount: [2],
                processorOptions: {memory: HEAPU8.buffer, queue: queue, frames: queueFrames, words: words,
                                   tap: !!sound.onBlock}});
            node.port.onmessage = function(event) {
                if (sound.onBlock)
                    sound.onBlock(new Int16Array(event.data));
            };
            node.connect(context.destination);
            if (context.state !== "running")
                context.resume();
            sound.node = node;
            Atomics.store(HEAP32, state, 1);
        }, function() {
            Atomics.store(HEAP32, state, -1);
        });
        return 0;
    },

    close: function() {
        if (this.node) {
            this.node.disconnect();
            this.node.port.onmessage = null;
            this.node = null;
        }
    }
};
Module["quimblesSound"] = QuimblesSound;

// The worklet's code, run in the audio worklet's own scope (its source is handed over as text).
function QuimblesSoundWorklet() {
    class QuimblesOutput extends AudioWorkletProcessor {
        constructor(options) {
            super();
            var o = options.processorOptions;
            this.samples = new Int16Array(o.memory, o.queue, o.frames * 2);
            this.counters = new Uint32Array(o.memory, o.words, 5); // queued, taken, dropouts, state, underruns
            this.frames = o.frames;
            this.fed = false;
            this.tap = o.tap ? new Int16Array(8192) : null;
            this.tapped = 0;
        }

        process(inputs, outputs) {
            var left = outputs[0][0], right = outputs[0][1], n = left.length;
            var counters = this.counters, samples = this.samples;
            var taken = Atomics.load(counters, 1);
            var available = (Atomics.load(counters, 0) - taken) >>> 0;
            var count = Math.min(n, available);
            for (var i = 0; i < count; i++) {
                var at = 2 * (((taken + i) >>> 0) % this.frames);
                left[i] = samples[at] / 32768;
                right[i] = samples[at + 1] / 32768;
                if (this.tap) {
                    this.tap[this.tapped++] = samples[at];
                    this.tap[this.tapped++] = samples[at + 1];
                    if (this.tapped === this.tap.length) {
                        this.port.postMessage(this.tap.buffer, [this.tap.buffer]);
                        this.tap = new Int16Array(8192);
                        this.tapped = 0;
                    }
                }
            }
            for (var j = count; j < n; j++) {
                left[j] = 0;
                right[j] = 0;
            }
            if (count < n && this.fed && Atomics.load(counters, 3) === 1)
                Atomics.add(counters, 2, 1);
            if (count > 0)
                this.fed = true;
            Atomics.store(counters, 1, (taken + count) >>> 0);
            return true;
        }
    }
    registerProcessor("quimbles-output", QuimblesOutput);
}
